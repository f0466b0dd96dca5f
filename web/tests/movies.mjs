// SPDX-License-Identifier: MIT
// Test movies for the browser tests and the benchmark, all made by our own movie writer
// through `zmbtool encode` from pictures and sounds drawn here, and the reference colours
// and sound `zmbtool decode` gives for them.
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';
import zlib from 'node:zlib';

const crcTable = Array.from({ length: 256 }, (_, n) => {
  let c = n;
  for (let k = 0; k < 8; k++) c = c & 1 ? 0xedb88320 ^ (c >>> 1) : c >>> 1;
  return c >>> 0;
});

function crc32(bytes) {
  let c = 0xffffffff;
  for (const b of bytes) c = crcTable[(c ^ b) & 0xff] ^ (c >>> 8);
  return (c ^ 0xffffffff) >>> 0;
}

function chunk(type, data) {
  const head = Buffer.alloc(8);
  head.writeUInt32BE(data.length, 0);
  head.write(type, 4, 'latin1');
  const crc = Buffer.alloc(4);
  crc.writeUInt32BE(crc32(Buffer.concat([head.subarray(4), data])), 0);
  return Buffer.concat([head, data, crc]);
}

// An indexed PNG: `pixels` one palette index per pixel, `palette` 768 bytes.
export function indexedPng(width, height, pixels, palette) {
  const header = Buffer.alloc(13);
  header.writeUInt32BE(width, 0);
  header.writeUInt32BE(height, 4);
  header.set([8, 3, 0, 0, 0], 8);
  const rows = Buffer.alloc((width + 1) * height);
  for (let y = 0; y < height; y++)
    rows.set(pixels.subarray(y * width, (y + 1) * width), y * (width + 1) + 1);
  return Buffer.concat([Buffer.from([0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a]),
                        chunk('IHDR', header), chunk('PLTE', Buffer.from(palette)),
                        chunk('IDAT', zlib.deflateSync(rows)), chunk('IEND', Buffer.alloc(0))]);
}

// A WAV file of interleaved samples as stored: 8-bit unsigned or 16-bit signed.
export function wav(rate, channels, bits, samples) {
  const data = Buffer.from(samples.buffer, samples.byteOffset, samples.byteLength);
  const head = Buffer.alloc(44);
  head.write('RIFF', 0, 'latin1');
  head.writeUInt32LE(36 + data.length, 4);
  head.write('WAVEfmt ', 8, 'latin1');
  head.writeUInt32LE(16, 16);
  head.writeUInt16LE(1, 20);
  head.writeUInt16LE(channels, 22);
  head.writeUInt32LE(rate, 24);
  head.writeUInt32LE(rate * channels * bits / 8, 28);
  head.writeUInt16LE(channels * bits / 8, 32);
  head.writeUInt16LE(bits, 34);
  head.write('data', 36, 'latin1');
  head.writeUInt32LE(data.length, 40);
  return Buffer.concat([head, data]);
}

// A small deterministic generator, so every run makes the same movies.
function random(seed) {
  let state = seed >>> 0;
  return () => {
    state = (Math.imul(state, 1664525) + 1013904223) >>> 0;
    return state >>> 8;
  };
}

// Pictures with still parts, moving shapes, noise and a palette that changes every third
// frame: full, two-colour, solid and skipped blocks, and both whole and partial redraws.
function mixedPictures(width, height, frames) {
  const next = random(7);
  const pictures = [];
  for (let f = 0; f < frames; f++) {
    const pixels = new Uint8Array(width * height);
    for (let y = 0; y < height; y++) {
      for (let x = 0; x < width; x++) {
        let value = ((x >> 3) + (y >> 3)) & 1 ? 20 : 21;
        const bx = (f * 4) % width;
        if (x >= bx && x < bx + 12 && y >= 8 && y < 20) value = 40 + ((x + y) & 3);
        if (y >= height - 8 && x < 16) value = 100 + (next() % 60);
        pixels[y * width + x] = value;
      }
    }
    const palette = Buffer.alloc(768);
    const shift = Math.floor(f / 3);
    for (let i = 0; i < 768; i++) palette[i] = (i * 37 + shift * 29 * (i % 3 + 1)) & 0xff;
    pictures.push({ pixels, palette });
  }
  return pictures;
}

// Noise over all 256 colours: every block is stored as a full block.
function noisePictures(width, height, frames) {
  const next = random(11);
  const palette = Buffer.alloc(768);
  for (let i = 0; i < 768; i++) palette[i] = (i * 89) & 0xff;
  const pictures = [];
  for (let f = 0; f < frames; f++) {
    const pixels = new Uint8Array(width * height);
    for (let i = 0; i < pixels.length; i++) pixels[i] = next() & 0xff;
    pictures.push({ pixels, palette });
  }
  return pictures;
}

function tone(frames, channels, bits, step) {
  const count = frames * channels;
  const samples = bits === 8 ? new Uint8Array(count) : new Int16Array(count);
  for (let i = 0; i < count; i++) {
    const level = Math.sin(i * step) * 0.6 + Math.sin(i * step * 3.1) * 0.3;
    samples[i] = bits === 8 ? 128 + Math.round(level * 120) : Math.round(level * 30000);
  }
  return samples;
}

function encode(zmbtool, folder, name, width, height, pictures, fps, tracks, extra = []) {
  const dir = path.join(folder, name + '-pictures');
  fs.mkdirSync(dir, { recursive: true });
  pictures.forEach(({ pixels, palette }, f) => fs.writeFileSync(
      path.join(dir, 'frame' + String(f).padStart(4, '0') + '.png'),
      indexedPng(width, height, pixels, palette)));
  // The folder is kept between runs: the movie of the last one is replaced.
  const args = ['encode', '--force', path.join(dir, 'frame0000.png'),
                path.join(folder, name + '.zmb'),
                '--fps', String(fps), '--round-palette', ...extra];
  tracks.forEach((track, t) => {
    if (!track) return;
    const file = path.join(dir, 'track' + t + '.wav');
    fs.writeFileSync(file, wav(track.rate, track.channels, track.bits,
                               tone(track.frames, track.channels, track.bits, track.step)));
    args.push('--track', t + '=' + file);
  });
  execFileSync(zmbtool, args, { stdio: ['ignore', 'ignore', 'inherit'] });
  return path.join(folder, name + '.zmb');
}

// The test movies: three sound tracks in different formats; a doubled one and one stored
// without timing, both without sound.
export function makeTestMovies(zmbtool, folder) {
  fs.mkdirSync(folder, { recursive: true });
  const seconds = 24 / 24;
  const mixed = encode(zmbtool, folder, 'mixed', 64, 48, mixedPictures(64, 48, 24), 24, [
    { rate: 22050, channels: 1, bits: 8, frames: 22050 * seconds, step: 0.05 },
    { rate: 44100, channels: 2, bits: 16, frames: 44100 * seconds, step: 0.013 },
    null,
    { rate: 11025, channels: 2, bits: 8, frames: 11025 * seconds, step: 0.2 },
  ]);
  // encode keeps one row of each pair of a doubled movie's pictures: 32 rows give 16.
  const doubled = encode(zmbtool, folder, 'doubled', 32, 32, mixedPictures(32, 32, 6), 10, [],
                         ['--doubled']);
  const untimed = encode(zmbtool, folder, 'untimed', 32, 16, mixedPictures(32, 16, 12), 0, []);
  return { mixed, doubled, untimed };
}

// The benchmark's worst case: 640 x 480 of noise, every block a full one.
export function makeFullMovie(zmbtool, folder, frames = 30) {
  fs.mkdirSync(folder, { recursive: true });
  return encode(zmbtool, folder, 'full640', 640, 480, noisePictures(640, 480, frames), 15, []);
}

// What `zmbtool decode` makes of a movie: each frame as RGBA, each track's samples.
export function decodeReference(zmbtool, movie, folder) {
  fs.mkdirSync(folder, { recursive: true });
  const raw = path.join(folder, 'frames.raw');
  execFileSync(zmbtool, ['decode', '--force', movie, '--raw', raw, '--pcm', folder],
               { stdio: ['ignore', 'ignore', 'inherit'] });
  const info = execFileSync(zmbtool, ['info', movie], { encoding: 'utf8' });
  return { raw: fs.readFileSync(raw), info, folder };
}

// Frame `n` of a --raw file of pictures `width` x `height`, as RGBA with alpha 255.
export function referenceFrame(raw, width, height, n) {
  const size = 768 + width * height;
  const frame = raw.subarray(n * size, (n + 1) * size);
  if (frame.length !== size) throw new Error('no frame ' + n + ' in the reference');
  const rgba = Buffer.alloc(width * height * 4);
  for (let i = 0; i < width * height; i++) {
    const index = frame[768 + i];
    rgba[4 * i] = frame[3 * index];
    rgba[4 * i + 1] = frame[3 * index + 1];
    rgba[4 * i + 2] = frame[3 * index + 2];
    rgba[4 * i + 3] = 255;
  }
  return rgba;
}

// A track's decoded PCM as the float samples a page hands to Web Audio, per channel.
export function referenceSound(folder, track, channels, bits) {
  const file = path.join(folder, 'track' + track + '.pcm');
  const bytes = fs.readFileSync(file);
  const step = channels * bits / 8;
  const frames = Math.floor(bytes.length / step);
  const out = Array.from({ length: channels }, () => new Float32Array(frames));
  for (let i = 0; i < frames; i++) {
    for (let c = 0; c < channels; c++) {
      const at = i * step + c * bits / 8;
      out[c][i] = bits === 8 ? (bytes[at] - 128) / 128 : bytes.readInt16LE(at) / 32768;
    }
  }
  return out;
}

// Damaged copies of a writer-made movie, after the project's hostile set: a wrong start,
// cuts at every section and inside frames, frame tables and counts that do not fit, picture
// sizes out of range and at the largest accepted, broken trees, frames overwritten or cut
// short by their table entry, and sound formats that disagree with the chunks.
export function hostileMovies(bytes) {
  const word = (b, at) => b.readUInt32LE(at);
  const withWord = (at, value, from = bytes) => {
    const copy = Buffer.from(from);
    copy.writeUInt32LE(value >>> 0, at);
    return copy;
  };
  const frameCount = word(bytes, 12);
  const treeDataSize = word(bytes, 52);
  const firstFrame = 104 + 4 * frameCount + treeDataSize;
  const frameSizes = Array.from({ length: frameCount }, (_, f) => word(bytes, 104 + 4 * f));
  const movies = [];
  const add = (name, data) => movies.push({ name, data });

  const magic = Buffer.from(bytes);
  magic[3] = 0x33;
  add('wrong-start', magic);
  const cuts = [0, 3, 50, 103, 104, 104 + 4 * frameCount, firstFrame - treeDataSize + 1,
                firstFrame - 1, firstFrame + 1,
                firstFrame + frameSizes[0] + Math.floor(frameSizes[1] / 2), bytes.length - 1];
  for (const cut of cuts) add('cut-' + cut, bytes.subarray(0, cut));
  for (const size of [0x7fffffff, 0xffffffff]) add('frame-size-' + size, withWord(104 + 4, size));
  for (const count of [0, 1000, 0xffffffff]) add('frame-count-' + count, withWord(12, count));
  for (const [w, h] of [[0, 48], [5, 48], [8196, 48], [64, 0xfffffffc], [0xffffffff, 0xffffffff],
                        [8192, 8192]])
    add('size-' + w + 'x' + h, withWord(8, h, withWord(4, w)));
  for (const tree of [0, 1, 2, 3]) add('tree-' + tree + '-size-4', withWord(56 + 4 * tree, 4));
  add('tree-data-size-1', withWord(52, 1));
  let at = firstFrame + frameSizes[0];
  for (const fill of [0x00, 0x7f, 0xff]) {
    const filled = Buffer.from(bytes);
    filled.fill(fill, at, at + frameSizes[1]);
    add('frame-1-filled-' + fill, filled);
  }
  add('frame-2-cut-short', withWord(104 + 8, Math.floor(frameSizes[2] / 3)));
  const formats = Buffer.from(bytes);
  for (let t = 0; t < 7; t++) formats.writeUInt32LE(0xf0000001, 72 + 4 * t);
  add('track-formats', formats);
  return movies;
}
