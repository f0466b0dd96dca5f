// SPDX-License-Identifier: MIT
// Pictures decoded and drawn per CPU second by <zambrel-player> in headless Chromium, for
// the demo and for a 640 x 480 movie of full blocks only, each run taken in turn with the
// native rate of the same work (NATIVE_RATE: the glue and the decoding core built natively,
// each frame decoded, its picture made RGBA and its sound floats, without the canvas); the
// CPU of all Chromium's processes while the element plays the demo with its sound, taken in
// turn with <video> playing the same movie as a WebM (`zmbtool decode --webm`); how long
// after a picture is drawn its sound is heard; the time from `src` set to the first picture;
// and the package's size. Figures to read, not a test.
// CPU time rather than wall-clock time, and the two sides in turn: the machine may be busy.
//
// usage: node bench.mjs BUILD_WEB ZMBTOOL DEMO WORK_FOLDER NATIVE_RATE
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';
import zlib from 'node:zlib';
import os from 'node:os';
import { chromiumCpu, cpuBetween, launch } from './browser.mjs';
import { makeFullMovie } from './movies.mjs';
import { serve } from './server.mjs';

const [buildWeb, zmbtool, demo, work, nativeRate] =
  process.argv.slice(2).map((arg) => path.resolve(arg));
if (!nativeRate) {
  console.error('usage: node bench.mjs BUILD_WEB ZMBTOOL DEMO WORK_FOLDER NATIVE_RATE');
  process.exit(2);
}

const RUNS = 5;
const SECONDS = 2;
const PLAY_ROUNDS = 8;
const PLAY_SECONDS = 5;
const SLOW_BYTES_PER_SECOND = 400000;

const benchPage = `<!DOCTYPE html><meta charset="utf-8"><body style="margin:0">
<zambrel-player id="p" style="width:1280px" muted></zambrel-player>
<script type="module">
  await import('/package/zambrel-player.js');
  const player = document.getElementById('p');
  const engine = player[Symbol.for('zambrel-player.test')];
  // From src set to the first picture on the canvas; resolves once all has arrived, so that
  // the rate is never taken while frames still wait for their bytes.
  window.firstPicture = (url) => new Promise((resolve, reject) => {
    player.removeAttribute('src');
    player.load();
    const start = performance.now();
    let first = 0;
    player.addEventListener('loadeddata', () => { first = performance.now() - start; },
                            { once: true });
    player.addEventListener('canplaythrough', () => resolve(first), { once: true });
    player.addEventListener('error', () => reject(new Error(player.error.message)), { once: true });
    player.src = url;
  });
  // Decodes and draws the whole movie from its start, as fast as it can, as many times as
  // fit in the time given.
  window.rate = (seconds) => {
    if (!engine.complete) throw new Error('the movie has not all arrived');
    player.pause();
    const start = performance.now();
    let frames = 0;
    do {
      engine.seekFrame(0);
      frames++;
      while (engine.decodeNext()) {
        engine.showFrameNow(false);
        frames++;
      }
      engine.view.context2d.getImageData(0, 0, 1, 1);  // waits until the drawing is done
    } while (performance.now() - start < seconds * 1000);
    return { frames, seconds: (performance.now() - start) / 1000 };
  };
  window.ready = true;
</script>`;

// The demo playing with its sound, looping, 640 pixels wide, in the element and in <video>.
const playPages = {
  element: `<!DOCTYPE html><meta charset="utf-8"><body style="margin:0">
<zambrel-player id="p" style="width:640px" loop autoplay src="/movies/demo.zmb"></zambrel-player>
<script type="module">await import('/package/zambrel-player.js');</script>`,
  video: `<!DOCTYPE html><meta charset="utf-8"><body style="margin:0">
<video id="p" style="width:640px" loop autoplay src="/movies/demo.webm"></video>`,
};

// The CPU of all Chromium's processes while each side plays, the sides in turn, each in a
// page of its own that has played for half a second first.
async function playingCost(browser, url) {
  const percent = { element: [], video: [] };
  const loads = [];
  for (let round = 0; round < PLAY_ROUNDS; round++) {
    for (const side of round % 2 ? ['video', 'element'] : ['element', 'video']) {
      const page = await browser.newPage();
      await page.goto(url + '/' + side + '.html');
      await page.waitForFunction(() => {
        const player = document.getElementById('p');
        return !player.paused && player.currentTime > 0.5;
      }, null, { timeout: 30000 });
      const before = chromiumCpu(), start = performance.now();
      await page.waitForTimeout(PLAY_SECONDS * 1000);
      const used = cpuBetween(before, chromiumCpu());
      percent[side].push(100 * used / ((performance.now() - start) / 1000));
      loads.push(os.loadavg()[0]);
      await page.close();
    }
  }
  const ratio = median(percent.element) / median(percent.video);
  console.log(`playing the demo, CPU of all Chromium's processes (% of one core, ${PLAY_ROUNDS} ` +
              `runs of ${PLAY_SECONDS} s each, in turn): element ${range(percent.element, 1)} ` +
              `(median ${median(percent.element).toFixed(1)}), <video> with its WebM ` +
              `${range(percent.video, 1)} (median ${median(percent.video).toFixed(1)}), ` +
              `ratio of the medians ${ratio.toFixed(2)}; load ${range(loads, 1)}`);
}

// How long after a picture is drawn its own sound is heard (by the audio context's output
// timestamp), while the element plays the demo from its start with its audio context running:
// the median over 3 s of playing, with what the browser says the output adds. The sound of
// movie time t starts where the first buffer handed out after play() starts, plus t; the
// screen's own delay after drawing is not counted.
async function soundAfterPicture(browser, url) {
  const page = await browser.newPage();
  await page.addInitScript(() => {
    window.offsets = [];
    window.zero = null;
    const start = AudioBufferSourceNode.prototype.start;
    AudioBufferSourceNode.prototype.start = function (when) {
      if (window.zero === null) window.zero = when;
      window.audio = this.context;
      return start.call(this, when);
    };
    const put = CanvasRenderingContext2D.prototype.putImageData;
    CanvasRenderingContext2D.prototype.putImageData = function (...args) {
      const player = document.getElementById('p'), audio = window.audio;
      if (window.measuring && !player.paused) {
        const stamp = audio.getOutputTimestamp();
        const heard = stamp.contextTime + (performance.now() - stamp.performanceTime) / 1000;
        window.offsets.push(window.zero + player.frame * player.duration / player.frameCount -
                            heard);
      }
      return put.apply(this, args);
    };
  });
  await page.goto(url + '/element.html');
  await page.waitForFunction(() => document.getElementById('p').currentTime > 1);
  await page.evaluate(async () => {
    const player = document.getElementById('p');
    player.pause();
    player.currentTime = 0;
    await new Promise((resolve) => player.addEventListener('seeked', resolve, { once: true }));
    window.zero = null;
    await player.play();
  });
  await page.waitForTimeout(1000);
  await page.evaluate(() => { window.measuring = true; });
  await page.waitForTimeout(3000);
  const { offsets, latency } = await page.evaluate(() => ({
    offsets: window.offsets, latency: window.audio.baseLatency + window.audio.outputLatency }));
  await page.close();
  console.log(`sound after its picture while the element plays the demo: median ` +
              `${(1000 * median(offsets)).toFixed(1)} ms (${offsets.length} pictures, ` +
              `${range(offsets.map((o) => 1000 * o))} ms; the browser's output latency ` +
              `${(1000 * latency).toFixed(1)} ms); load ${load()}`);
}

function range(values, digits = 0) {
  const sorted = [...values].sort((a, b) => a - b);
  return sorted[0].toFixed(digits) + ' to ' + sorted[sorted.length - 1].toFixed(digits);
}

function load() {
  return os.loadavg()[0].toFixed(1);
}

function median(values) {
  const sorted = [...values].sort((a, b) => a - b);
  return sorted[sorted.length >> 1];
}

function packageSize() {
  let plain = 0, compressed = 0;
  for (const file of ['zambrel-player.js', 'zambrel-core.js', 'zambrel-core.wasm']) {
    const bytes = fs.readFileSync(path.join(buildWeb, 'package', file));
    plain += bytes.length;
    compressed += zlib.gzipSync(bytes, { level: 9 }).length;
  }
  const page = ['index.html', 'page.js', 'zambrel-player.classic.js']
    .reduce((sum, file) => sum + fs.statSync(path.join(buildWeb, file)).size, 0);
  return { plain, compressed, page };
}

async function main() {
  const movies = path.join(work, 'movies');
  const full = makeFullMovie(zmbtool, movies);
  fs.copyFileSync(demo, path.join(movies, 'demo.zmb'));
  const site = path.join(work, 'site');
  fs.mkdirSync(site, { recursive: true });
  fs.writeFileSync(path.join(site, 'bench.html'), benchPage);
  for (const [side, html] of Object.entries(playPages))
    fs.writeFileSync(path.join(site, side + '.html'), html);
  execFileSync(zmbtool, ['decode', demo, '--webm', path.join(movies, 'demo.webm'), '--force'],
               { stdio: 'ignore' });
  const server = await serve({ '': site, package: path.join(buildWeb, 'package'), movies },
                             { piece: SLOW_BYTES_PER_SECOND / 25, delay: 40 });
  const { browser, close } = await launch();
  try {
    let page = await browser.newPage();
    await page.goto(server.url + '/bench.html');
    await page.waitForFunction(() => window.ready === true);
    for (const [name, movie] of [['demo (320x240)', demo], ['640x480 full blocks', full]]) {
      const url = '/movies/' + path.basename(movie);
      const first = [];
      for (let run = 0; run < 5; run++)
        first.push(await page.evaluate((u) => window.firstPicture(u), url));
      const web = [], native = [], ratio = [];
      for (let run = 0; run < RUNS; run++) {
        const before = chromiumCpu();
        const { frames } = await page.evaluate((s) => window.rate(s), SECONDS);
        web.push(frames / cpuBetween(before, chromiumCpu()));
        native.push(Number(execFileSync(nativeRate, [movie, String(SECONDS)],
                                        { encoding: 'utf8' })));
        ratio.push(web[run] / native[run]);
      }
      console.log(`${name}: ${range(web)} pictures decoded and drawn a CPU second in the ` +
                  `element, ${range(native)} natively, ratio ${range(ratio, 2)} (${RUNS} runs ` +
                  `in turn, median ${median(ratio).toFixed(2)}); src to first picture ` +
                  `${median(first).toFixed(1)} ms (median of 5, first ${first[0].toFixed(1)} ms); ` +
                  `load ${load()}`);
    }
    await page.close();
    await soundAfterPicture(browser, server.url);
    await playingCost(browser, server.url);
    // Served slowly, the first picture comes long before the whole movie.
    page = await browser.newPage();
    await page.goto(server.url + '/bench.html');
    await page.waitForFunction(() => window.ready === true);
    const slow = [];
    for (let run = 0; run < 3; run++) {
      slow.push(await page.evaluate(() => new Promise((resolve) => {
        const player = document.getElementById('p');
        player.removeAttribute('src');
        player.load();
        const start = performance.now();
        let first = 0;
        player.addEventListener('loadeddata', () => { first = performance.now() - start; },
                                { once: true });
        player.addEventListener('canplaythrough', () => resolve([first, performance.now() - start]),
                                { once: true });
        player.src = '/slow/demo.zmb';
      })));
    }
    const [first, whole] = slow.sort((a, b) => a[0] - b[0])[1];
    console.log(`demo served at ${SLOW_BYTES_PER_SECOND / 1000} kB/s: first picture after ` +
                `${first.toFixed(0)} ms, all of it after ${whole.toFixed(0)} ms (median of 3)`);
  } finally {
    await close();
    await server.close();
  }
  const { plain, compressed, page } = packageSize();
  console.log(`package runtime: ${plain} bytes (${compressed} gzipped); the page for file:// ` +
              `${page} bytes`);
}

main().catch((error) => {
  console.error(error);
  process.exit(1);
});
