// SPDX-License-Identifier: MIT
// A one-off check of <zambrel-player> as a web developer's own driver would try it, in
// Chromium with windows (on an X server of our own): many movies made by our writer,
// stepped and compared with `zmbtool decode --raw`, their sound played four times and
// compared with `zmbtool decode --wav`; damaged copies, judged against `zmbtool verify`;
// the set-then-await patterns of <video> code; preload none; an import with no DOM.
// Not part of web/test: it is long, and says what it counted rather than failing fast.
//
// usage: node verify_done.mjs BUILD_WEB ZMBTOOL WORK_FOLDER DISPLAY
//        (DISPLAY from tools/private_xvfb.sh's start_private_xvfb)
import { execFileSync, spawnSync } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';
import { pathToFileURL } from 'node:url';
import { launch } from './browser.mjs';
import { hostileMovies, indexedPng, referenceFrame, wav } from './movies.mjs';
import { serve } from './server.mjs';

const [buildWeb, zmbtool, work, display] = process.argv.slice(2);
if (!display) {
  console.error('usage: node verify_done.mjs BUILD_WEB ZMBTOOL WORK_FOLDER DISPLAY');
  process.exit(2);
}

const MOVIES = 48;
const SOUND_RUNS = 4;
const SIZES = [[16, 8], [32, 16], [64, 48], [48, 32], [96, 64], [8, 8], [128, 96], [40, 24]];
const RATES = [24, 15, 10, 30, 12];
const FORMATS = [[8000, 1, 8], [11025, 2, 8], [22050, 1, 16], [44100, 2, 16], [16000, 2, 16],
                 [32000, 1, 8], [11025, 1, 16]];
const KINDS = ['plain', 'untimed', 'doubled', 'ring', 'raw-sound', 'many-tracks'];

function random(seed) {
  let state = (seed * 2654435761) >>> 0;
  return () => {
    state = (Math.imul(state, 1664525) + 1013904223) >>> 0;
    return state >>> 8;
  };
}

// Pictures with a still checker, a moving box and a noisy corner, and a palette that
// changes every `every` frames (so that each frame's palette counts).
function pictures(seed, width, height, frames, every) {
  const next = random(seed);
  const out = [];
  for (let f = 0; f < frames; f++) {
    const pixels = new Uint8Array(width * height);
    for (let y = 0; y < height; y++) {
      for (let x = 0; x < width; x++) {
        let value = ((x >> 2) + (y >> 2)) & 1 ? 10 + seed % 50 : 60;
        const bx = (f * 3) % width;
        if (x >= bx && x < bx + 6 && y >= 2 && y < 8) value = 70 + ((x + y + f) & 7);
        if (y >= height - 4 && x < 8) value = 128 + (next() % 128);
        pixels[y * width + x] = value;
      }
    }
    const palette = Buffer.alloc(768);
    const shift = Math.floor(f / every);
    for (let i = 0; i < 768; i++) palette[i] = (i * 53 + seed * 17 + shift * 41 * (i % 3 + 1)) & 0xff;
    out.push({ pixels, palette });
  }
  return out;
}

function tone(frames, channels, bits, step) {
  const count = frames * channels;
  const samples = bits === 8 ? new Uint8Array(count) : new Int16Array(count);
  for (let i = 0; i < count; i++) {
    const level = Math.sin(i * step) * 0.6 + Math.sin(i * step * 2.7 + 1) * 0.3;
    samples[i] = bits === 8 ? 128 + Math.round(level * 120) : Math.round(level * 30000);
  }
  return samples;
}

// Movie `i` of the set: its size, length, rate, kind and tracks all vary with i.
function plan(i) {
  const kind = KINDS[i % KINDS.length];
  let [width, height] = SIZES[i % SIZES.length];
  if (kind === 'doubled') height = Math.max(16, height);
  const frames = 5 + (i * 7) % 14;
  const fps = kind === 'untimed' ? 0 : RATES[i % RATES.length];
  let trackCount = kind === 'untimed' ? 0 : kind === 'many-tracks' ? 4 : 1 + (i >> 1) % 3;
  if ((kind === 'doubled' || kind === 'ring') && i % 12 >= 6) trackCount = 0;
  const tracks = [];
  for (let k = 0; k < trackCount; k++) {
    const [rate, channels, bits] = FORMATS[(i + 3 * k) % FORMATS.length];
    tracks.push({ index: (i + 2 * k) % 7, rate, channels, bits, step: 0.01 + 0.02 * k + 0.003 * i });
  }
  const extra = [];
  if (kind === 'doubled') extra.push('--doubled');
  if (kind === 'ring') extra.push('--ring');
  if (kind === 'raw-sound') extra.push('--raw-sound');
  if (i % 7 === 0 && trackCount) extra.push('--pad-sound');
  return { name: 'm' + String(i).padStart(2, '0') + '-' + kind, width, height, frames, fps,
           every: 1 + i % 3, tracks, extra, short: i % 7 === 0 };
}

function encode(folder, p, seed) {
  const dir = path.join(folder, p.name + '-src');
  fs.rmSync(dir, { recursive: true, force: true });
  fs.mkdirSync(dir, { recursive: true });
  pictures(seed, p.width, p.height, p.frames, p.every).forEach(({ pixels, palette }, f) =>
    fs.writeFileSync(path.join(dir, 'frame' + String(f).padStart(4, '0') + '.png'),
                     indexedPng(p.width, p.height, pixels, palette)));
  const movie = path.join(folder, p.name + '.zmb');
  const args = ['encode', '--force', path.join(dir, 'frame0000.png'), movie, '--fps',
                String(p.fps), ...p.extra];
  for (const t of p.tracks) {
    // As long as the pictures, or half as long where the writer pads it with silence.
    let length = Math.round(p.frames / p.fps * t.rate);
    if (p.short) length >>= 1;
    const file = path.join(dir, 'track' + t.index + '.wav');
    fs.writeFileSync(file, wav(t.rate, t.channels, t.bits, tone(length, t.channels, t.bits, t.step)));
    args.push('--track', t.index + '=' + file);
  }
  // Its notes (palette levels rounded, a last picture held) are expected: kept out of the way.
  execFileSync(zmbtool, args, { stdio: ['ignore', 'ignore', 'pipe'] });
  return movie;
}

// The samples of a WAV as the floats a page hands to Web Audio, channels one after another.
function wavFloats(file) {
  const bytes = fs.readFileSync(file);
  let at = 12, format = null;
  while (at + 8 <= bytes.length) {
    const id = bytes.toString('latin1', at, at + 4), size = bytes.readUInt32LE(at + 4);
    if (id === 'fmt ') format = { channels: bytes.readUInt16LE(at + 10), bits: bytes.readUInt16LE(at + 22) };
    if (id === 'data') {
      const data = bytes.subarray(at + 8, at + 8 + size);
      const step = format.channels * format.bits / 8, frames = Math.floor(data.length / step);
      const out = new Float32Array(frames * format.channels);
      for (let i = 0; i < frames; i++) {
        for (let c = 0; c < format.channels; c++) {
          const b = i * step + c * format.bits / 8;
          out[c * frames + i] = format.bits === 8 ? (data[b] - 128) / 128 : data.readInt16LE(b) / 32768;
        }
      }
      return { channels: format.channels, frames, samples: out };
    }
    at += 8 + size + (size & 1);
  }
  throw new Error('no sound in ' + file);
}

function reference(movie, folder) {
  fs.rmSync(folder, { recursive: true, force: true });
  fs.mkdirSync(folder, { recursive: true });
  const raw = path.join(folder, 'frames.raw');
  execFileSync(zmbtool, ['decode', '--force', movie, '--raw', raw, '--wav', folder + '/'],
               { stdio: ['ignore', 'ignore', 'inherit'] });
  const sound = {};
  for (const name of fs.readdirSync(folder)) {
    const found = /^track(\d)\.wav$/.exec(name);
    if (found) sound[found[1]] = wavFloats(path.join(folder, name));
  }
  return { raw: fs.readFileSync(raw), sound };
}

const page0 = `<!DOCTYPE html><meta charset="utf-8"><title>driver</title><body>
<script>
  window.thrown = [];
  addEventListener('error', (e) => window.thrown.push('error: ' + e.message));
  addEventListener('unhandledrejection', (e) => window.thrown.push('rejection: ' + e.reason));
  window.once = (el, type, ms = 30000) => new Promise((resolve, reject) => {
    const timer = setTimeout(() => reject(new Error('no ' + type + ' came in ' + ms + ' ms')), ms);
    el.addEventListener(type, () => { clearTimeout(timer); resolve(); }, { once: true });
  });
  window.b64 = (bytes) => {
    let text = '';
    for (let i = 0; i < bytes.length; i += 0x8000)
      text += String.fromCharCode.apply(null, bytes.subarray(i, i + 0x8000));
    return btoa(text);
  };
</script>
<script type="module">
  await import('/package/zambrel-player.js');
  window.ready = true;
</script>`;

// (a) Every frame, reached by step() from the first, as the canvas shows it.
async function steppedFrames(page, url) {
  const got = await page.evaluate(async (src) => {
    const el = document.createElement('zambrel-player');
    el.preload = 'auto';
    el.src = src;
    document.body.append(el);
    try {
      await once(el, 'canplaythrough');
      const canvas = el.shadowRoot.querySelector('canvas');
      const grab = () => b64(new Uint8Array(canvas.getContext('2d')
        .getImageData(0, 0, canvas.width, canvas.height).data.buffer));
      const frames = [{ frame: el.frame, data: grab() }];
      for (let n = 1; n < el.frameCount; n++) {
        el.step();
        frames.push({ frame: el.frame, data: grab() });
      }
      return { width: canvas.width, height: canvas.height, count: el.frameCount, frames,
               error: el.error && el.error.message };
    } finally {
      el.remove();
    }
  }, url);
  return got;
}

function checkPictures(got, ref) {
  const size = 768 + got.width * got.height;
  const refCount = ref.raw.length / size;
  if (!Number.isInteger(refCount)) return 'the reference is not ' + got.width + 'x' + got.height;
  if (got.count !== refCount) return got.count + ' frames against ' + refCount;
  for (let n = 0; n < got.count; n++) {
    if (got.frames[n].frame !== n) return 'step ' + n + ' shows frame ' + got.frames[n].frame;
    const rgba = Buffer.from(got.frames[n].data, 'base64');
    if (!rgba.equals(referenceFrame(ref.raw, got.width, got.height, n))) return 'frame ' + n + ' differs';
  }
  return null;
}

// (b) One run: played from the start to its end, every buffer handed to Web Audio kept.
async function playedSound(page, url) {
  return page.evaluate(async (src) => {
    const el = document.createElement('zambrel-player');
    el[Symbol.for('zambrel-player.test')].recordSound = true;
    el.src = src;
    document.body.append(el);
    try {
      await once(el, 'canplaythrough');
      await el.play();
      await once(el, 'ended', 60000);
      const handed = el[Symbol.for('zambrel-player.test')].movie.handed;
      const out = {};
      handed.forEach((parts, track) => {
        if (!parts.length) return;
        const channels = parts[0].channels.length;
        const frames = parts.reduce((sum, part) => sum + part.channels[0].length, 0);
        const all = new Float32Array(frames * channels);
        for (let c = 0, at = 0; c < channels; c++)
          for (const part of parts) { all.set(part.channels[c], at); at += part.channels[c].length; }
        out[track] = { channels, frames, data: b64(new Uint8Array(all.buffer)) };
      });
      return out;
    } finally {
      el.remove();
    }
  }, url);
}

function checkSound(got, ref) {
  const problems = [];
  for (const [track, want] of Object.entries(ref.sound)) {
    const have = got[track];
    if (!have) { problems.push('track ' + track + ' never handed out'); continue; }
    const bytes = Buffer.from(have.data, 'base64');
    const samples = new Float32Array(bytes.buffer, bytes.byteOffset, bytes.length / 4);
    if (have.frames !== want.frames || have.channels !== want.channels) {
      problems.push(`track ${track}: ${have.frames}x${have.channels} samples against ` +
                    `${want.frames}x${want.channels}`);
      continue;
    }
    const first = samples.findIndex((v, i) => v !== want.samples[i]);
    if (first >= 0) problems.push('track ' + track + ' differs from sample ' + first +
                                  (first < want.frames ? ' (frame 0\'s sound)' : ''));
  }
  for (const track of Object.keys(got))
    if (!ref.sound[track]) problems.push('track ' + track + ' handed out but not in the movie');
  return problems;
}

// (c) A damaged movie by src: its error, or how far a seek to its end got.
async function hostileOutcome(page, url) {
  return page.evaluate(async (src) => {
    const el = window.hostilePlayer;
    return new Promise((resolve) => {
      const timer = setTimeout(() => done('nothing in 30 s'), 30000);
      const damaged = [];
      const done = (what) => {
        clearTimeout(timer);
        el.onerror = el.oncanplay = el.onseeked = null;
        el.removeEventListener('sounddamaged', onDamaged);
        resolve({ what, damaged });
      };
      const onDamaged = (e) => damaged.push(e.detail && e.detail.track);
      el.addEventListener('sounddamaged', onDamaged);
      el.onerror = () => done('error: ' + el.error.message);
      el.oncanplay = () => {
        el.oncanplay = null;
        el.frame = el.frameCount - 1;
      };
      el.onseeked = () => done('reached frame ' + el.frame + ' of ' + el.frameCount);
      el.src = src;
    });
  }, url);
}

function verifies(file) {
  return spawnSync(zmbtool, ['verify', file], { encoding: 'utf8' });
}

const results = {};
function count(item, ok, detail) {
  const r = results[item] || (results[item] = { ok: 0, total: 0, failures: [] });
  r.total++;
  if (ok) r.ok++;
  else r.failures.push(detail);
}

async function pictureAndSound(page, plans) {
  for (const p of plans) {
    const url = '/movies/' + p.name + '.zmb';
    const got = await steppedFrames(page, url);
    const wrong = got.error ? 'error: ' + got.error : checkPictures(got, p.ref);
    count('a pictures stepped', !wrong, p.name + ': ' + wrong);
    for (const track of Object.keys(p.ref.sound)) {
      const problems = [];
      for (let run = 0; run < SOUND_RUNS; run++) {
        let played;
        try {
          played = await playedSound(page, url);
        } catch (error) {
          problems.push('run ' + run + ': ' + error.message.split('\n')[0]);
          continue;
        }
        const mine = checkSound({ [track]: played[track] }, { sound: { [track]: p.ref.sound[track] } });
        if (mine.length) problems.push('run ' + run + ': ' + mine.join('; '));
      }
      count('b tracks sample-exact in ' + SOUND_RUNS + ' of ' + SOUND_RUNS + ' runs',
            problems.length === 0, p.name + ' ' + problems.join(' | '));
    }
    process.stdout.write('.');
  }
  process.stdout.write('\n');
}

async function hostile(page, files, server, good) {
  await page.evaluate(() => {
    window.hostilePlayer = document.createElement('zambrel-player');
    document.body.append(window.hostilePlayer);
  });
  for (const { url, name, whole } of files) {
    const { what, damaged } = await hostileOutcome(page, url);
    const errored = what.startsWith('error: ');
    const told = name + ': ' + what + (damaged.length ? ' (sound damaged: ' + damaged + ')' : '') +
                 (whole ? ' [verify: whole]' : ' [verify: damaged]');
    if (errored) count('c hostile with an error: the message names the file', what.includes(name), told);
    // The writer's own checker says whether the file is whole. Playing decodes what it can
    // of a damaged picture without failing, as the library does for every player: those
    // are counted apart, not as failures of the element.
    count('c hostile damaged by zmbtool verify: an error event', errored || whole, told);
    if (process.env.VERBOSE) console.log('  ' + name + ': ' + what + (whole ? ' [whole]' : ''));
  }
  // Still usable: a good movie after them all shows its exact frames.
  const after = await page.evaluate(async (src) => {
    const el = window.hostilePlayer;
    el.src = src;
    await once(el, 'canplaythrough');
    el.frame = 3;
    await once(el, 'seeked');
    const canvas = el.shadowRoot.querySelector('canvas');
    return { frame: el.frame, width: canvas.width, height: canvas.height, error: el.error,
             data: b64(new Uint8Array(canvas.getContext('2d')
               .getImageData(0, 0, canvas.width, canvas.height).data.buffer)) };
  }, '/movies/' + good.name + '.zmb');
  const exact = after.frame === 3 && after.error === null &&
    Buffer.from(after.data, 'base64').equals(referenceFrame(good.ref.raw, after.width, after.height, 3));
  count('c element usable after the hostile files', exact, JSON.stringify({ ...after, data: undefined }));
  void server;
}

// (d) The patterns code written for <video> uses: set, then await the event.
async function setThenAwait(page, plans) {
  for (const p of plans) {
    const steps = await page.evaluate(async (src) => {
      const el = document.createElement('zambrel-player');
      el.src = src;
      document.body.append(el);
      const done = [];
      const attempt = async (name, action, type) => {
        try {
          const waiting = once(el, type, 10000);
          const result = action();
          await waiting;
          if (result && result.then) await result;
          done.push([name, 'ok']);
        } catch (error) {
          done.push([name, error.message]);
        }
      };
      await once(el, 'canplaythrough');
      const t = el.duration / 2;
      el.currentTime = t;
      const seekingRead = el.seeking;
      try {
        await once(el, 'seeked', 10000);
        done.push(['currentTime = t; await seeked', seekingRead ? 'ok' : 'seeking read false']);
      } catch (error) {
        done.push(['currentTime = t; await seeked', error.message]);
      }
      const playing = once(el, 'playing', 10000).then(() => 'ok', (error) => error.message);
      await attempt('play(); await play', () => el.play(), 'play');
      done.push(['play(); await playing', await playing]);
      await attempt('pause(); await pause', () => el.pause(), 'pause');
      await attempt('volume = 0.4; await volumechange', () => { el.volume = 0.4; }, 'volumechange');
      await attempt('muted = true; await volumechange', () => { el.muted = true; }, 'volumechange');
      await attempt('play() again; await play', () => el.play(), 'play');
      await attempt('currentTime = 0 while playing; await seeked', () => { el.currentTime = 0; }, 'seeked');
      await attempt('pause() again; await pause', () => el.pause(), 'pause');
      el.remove();
      return done;
    }, '/movies/' + p.name + '.zmb');
    for (const [name, outcome] of steps) count('d ' + name, outcome === 'ok', p.name + ': ' + outcome);
  }
}

// (e) preload=none: players in the page's HTML and made by script ask for nothing.
async function preloadNone(browser, server, plans, watch) {
  const names = plans.map((p) => p.name + '.zmb');
  const html = page0.replace('<body>', '<body>' + names.map((n) =>
    `<zambrel-player preload="none" src="/movies/${n}?none"></zambrel-player>`).join('\n'));
  fs.writeFileSync(path.join(work, 'site', 'none.html'), html);
  const before = server.requests.length;
  const asked = () => server.requests.slice(before).filter((r) => r.startsWith('/movies/'));
  const page = watch(await browser.newPage());
  await page.goto(server.url + '/none.html');
  await page.waitForFunction(() => window.ready === true);
  const state = await page.evaluate(async () => {
    const made = document.createElement('zambrel-player');
    made.preload = 'none';
    made.src = document.querySelector('zambrel-player').src.replace('?none', '?made');
    document.body.append(made);
    await new Promise((resolve) => setTimeout(resolve, 3000));
    return [...document.querySelectorAll('zambrel-player')].map((p) => [p.preload, p.networkState]);
  });
  count('e preload=none: no request at page load', asked().length === 0,
        'asked for ' + asked().join(' '));
  count('e preload=none reads back none', state.every(([p]) => p === 'none'), JSON.stringify(state));
  // Played, one player asks for its movie, and only it.
  await page.evaluate(async () => {
    const p = document.querySelector('zambrel-player');
    p.muted = true;
    const playing = once(p, 'playing');
    await p.play();
    await playing;
  });
  const played = asked();
  count('e preload=none: play asks for that movie alone',
        played.length === 1 && played[0] === '/movies/' + names[0],
        'asked for ' + played.join(' '));
  await page.close();
}

// (f) Imported where there is no DOM, as a server rendering the page imports it.
function ssrImport() {
  const module = pathToFileURL(path.join(buildWeb, 'package', 'zambrel-player.js')).href;
  const run = spawnSync(process.execPath, ['--input-type=module', '-e',
    `const m = await import(${JSON.stringify(module)});
     console.log(typeof m.default, typeof m.ZambrelPlayer, typeof globalThis.document,
                 typeof globalThis.customElements);`], { encoding: 'utf8' });
  count('f SSR import succeeds', run.status === 0 && /^function .* undefined undefined$/.test(run.stdout.trim()),
        'status ' + run.status + ': ' + run.stdout + run.stderr);
}

async function main() {
  const movies = path.join(work, 'movies'), site = path.join(work, 'site');
  fs.mkdirSync(path.join(movies, 'hostile'), { recursive: true });
  fs.mkdirSync(site, { recursive: true });
  fs.writeFileSync(path.join(site, 'index.html'), page0);

  const plans = [];
  for (let i = 0; i < MOVIES; i++) {
    const p = plan(i);
    p.file = encode(movies, p, i + 1);
    p.ref = reference(p.file, path.join(work, 'ref', p.name));
    plans.push(p);
  }
  const trackTotal = plans.reduce((sum, p) => sum + Object.keys(p.ref.sound).length, 0);
  console.log(`${plans.length} movies, ${trackTotal} sound tracks; kinds: ` +
              KINDS.map((k) => k + ' ' + plans.filter((p) => p.name.endsWith(k)).length).join(', '));

  // Damaged copies of two movies with sound, of different lengths and tracks.
  const files = [];
  for (const base of [plans[0], plans[5]]) {
    for (const { name, data } of hostileMovies(fs.readFileSync(base.file))) {
      const file = base.name + '-' + name + '.zmb';
      fs.writeFileSync(path.join(movies, 'hostile', file), data);
      files.push({ url: '/movies/hostile/' + file, name: file,
                   whole: verifies(path.join(movies, 'hostile', file)).status === 0 });
    }
  }
  fs.writeFileSync(path.join(movies, 'hostile', 'picture.png'),
                   indexedPng(8, 8, new Uint8Array(64), Buffer.alloc(768, 99)));
  files.push({ url: '/movies/hostile/missing.zmb', name: 'missing.zmb', whole: false },
             { url: '/index.html', name: 'index.html', whole: false },
             { url: '/movies/hostile/picture.png', name: 'picture.png', whole: false },
             { url: '/broken/' + plans[4].name + '.zmb', name: plans[4].name + '.zmb', whole: false });
  console.log(files.length + ' hostile files, ' + files.filter((f) => f.whole).length +
              ' of them whole by zmbtool verify');

  ssrImport();
  const server = await serve({ '': site, package: path.join(buildWeb, 'package'), movies },
                             { piece: 2048, delay: 20 });
  const { browser, close } = await launch({ display });
  const errors = [];
  const watch = (page) => {
    page.on('pageerror', (error) => errors.push('page error: ' + error.message));
    page.on('console', (message) => {
      if (message.type() === 'error' && !message.text().includes('Failed to load resource'))
        errors.push('console error: ' + message.text());
    });
    return page;
  };
  try {
    const page = watch(await browser.newPage());
    await page.goto(server.url + '/');
    await page.waitForFunction(() => window.ready === true);
    // A part that breaks off is counted as one failure, and the others still run.
    const part = async (item, run) => {
      try {
        await run();
      } catch (error) {
        count(item, false, 'broke off: ' + error.message.split('\n')[0]);
      }
    };
    if (!process.env.SKIP_MOVIES) await part('a pictures stepped', () => pictureAndSound(page, plans));
    await part('c hostile: error event naming the file', () => hostile(page, files, server, plans[2]));
    await part('d set-then-await', () => setThenAwait(page, plans.filter((p) => p.tracks.length).slice(0, 6)));
    await part('e preload=none', () => preloadNone(browser, server, plans.slice(0, 20), watch));
    const thrown = await page.evaluate(() => window.thrown);
    count('c nothing thrown into the page', thrown.length === 0 && errors.length === 0,
          [...thrown, ...errors].join('\n'));
  } finally {
    await close();
    await server.close();
  }

  let failed = false;
  for (const [item, r] of Object.entries(results)) {
    console.log(`${r.ok === r.total ? 'ok  ' : 'FAIL'} ${item}: ${r.ok}/${r.total}`);
    for (const failure of r.failures) console.log('       ' + failure);
    failed ||= r.ok !== r.total;
  }
  process.exit(failed ? 1 : 0);
}

main().catch((error) => {
  console.error(error);
  process.exit(1);
});
