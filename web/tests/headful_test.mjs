// SPDX-License-Identifier: MIT
// <zambrel-player> in a tab put behind another, in Chromium with windows (on an X server of
// our own), beside <video> playing the same movie as a WebM on the same page: a headless
// browser never hides a page, so only here do its timers, its display's refresh and its
// sound meet what a background tab really does to them. The element's movie time must go
// on as <video>'s does, its sound without a gap, and its picture must come back after, never
// ahead of its time; while shown, each picture is drawn as its sound is heard.
//
// usage: node headful_test.mjs BUILD_WEB ZMBTOOL DEMO WORK_FOLDER DISPLAY
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';
import { launch } from './browser.mjs';
import { decodeReference, referenceFrame } from './movies.mjs';
import { serve } from './server.mjs';

const [buildWeb, zmbtool, demo, work, display] = process.argv.slice(2);
if (!display) {
  console.error('usage: node headful_test.mjs BUILD_WEB ZMBTOOL DEMO WORK_FOLDER DISPLAY');
  process.exit(2);
}

const HIDDEN_SECONDS = 4;

// Both players play the demo with their sound; every sound buffer the element starts is
// kept with the audio clock at the moment it was handed out, and its drawings are counted.
const sideBySide = `<!DOCTYPE html><meta charset="utf-8"><title>element and video</title>
<body style="margin:0">
<zambrel-player id="element" style="width:320px" src="/movies/demo.zmb"></zambrel-player>
<video id="video" style="width:320px" src="/movies/demo.webm"></video>
<script>
  window.started = [];
  const start = AudioBufferSourceNode.prototype.start;
  AudioBufferSourceNode.prototype.start = function (when) {
    window.audio = this.context;
    window.started.push({ when, at: this.context.currentTime, length: this.buffer.duration });
    return start.call(this, when);
  };
  // How long after each picture is drawn its sound is heard: the first buffer starts the
  // movie's sound at its time 0.
  window.drawn = 0;
  window.offsets = [];
  const put = CanvasRenderingContext2D.prototype.putImageData;
  CanvasRenderingContext2D.prototype.putImageData = function (...args) {
    window.drawn++;
    const element = document.getElementById('element');
    if (window.started.length && !element.paused && document.visibilityState === 'visible') {
      const stamp = window.audio.getOutputTimestamp();
      const heard = stamp.contextTime + (performance.now() - stamp.performanceTime) / 1000;
      window.offsets.push(window.started[0].when + element.currentTime - heard);
    }
    return put.apply(this, args);
  };
</script>
<script type="module">
  await import('/package/zambrel-player.js');
  window.ready = true;
</script>`;

// The movie times of both players, the page's clock and what the browser says of the page.
function readings(page) {
  return page.evaluate(() => {
    const element = document.getElementById('element'), video = document.getElementById('video');
    return { element: element.currentTime, video: video.currentTime,
             clock: performance.now() / 1000, visibility: document.visibilityState,
             paused: [element.paused, video.paused], drawn: window.drawn,
             started: window.started.length };
  });
}

// The element's frame due now, and which of the movie's frames its canvas shows (-1: none).
async function canvasFrame(page, reference) {
  const { frame, width, height, data } = await page.evaluate(() => {
    const element = document.getElementById('element');
    const canvas = element.shadowRoot.querySelector('canvas');
    const pixels = canvas.getContext('2d').getImageData(0, 0, canvas.width, canvas.height).data;
    let text = '';
    for (let i = 0; i < pixels.length; i += 0x8000)
      text += String.fromCharCode.apply(null, pixels.subarray(i, i + 0x8000));
    return { frame: element.frame, width: canvas.width, height: canvas.height, data: btoa(text) };
  });
  const pixels = Buffer.from(data, 'base64');
  for (let n = 0; n < reference.count; n++)
    if (pixels.equals(referenceFrame(reference.raw, width, height, n))) return { frame, match: n };
  return { frame, match: -1 };
}

// Sound without a gap: every buffer handed out before its time, each where the one before
// ended.
function continuous(started) {
  started.forEach(({ when, at }, i) => {
    assert.ok(when > at, 'buffer ' + i + ' handed out late: ' + JSON.stringify(started[i]));
    if (i > 0) {
      const last = started[i - 1];
      assert.ok(Math.abs(last.when + last.length - when) < 1e-6, 'a gap before buffer ' + i +
                ': ' + JSON.stringify([last, started[i]]));
    }
  });
}

async function main() {
  const movies = path.join(work, 'movies'), site = path.join(work, 'site');
  fs.mkdirSync(movies, { recursive: true });
  fs.mkdirSync(site, { recursive: true });
  fs.copyFileSync(demo, path.join(movies, 'demo.zmb'));
  execFileSync(zmbtool, ['decode', demo, '--webm', path.join(movies, 'demo.webm'), '--force'],
               { stdio: 'ignore' });
  fs.writeFileSync(path.join(site, 'index.html'), sideBySide);
  const reference = decodeReference(zmbtool, demo, path.join(work, 'demo'));
  reference.count = Number(/frames:\s+(\d+)/.exec(reference.info)[1]);
  const server = await serve({ '': site, package: path.join(buildWeb, 'package'), movies });
  const { browser, close } = await launch({ display });
  let failed = false;
  try {
    const page = await browser.newPage();
    const errors = [];
    page.on('pageerror', (error) => errors.push('page error: ' + error.message));
    await page.goto(server.url + '/');
    await page.waitForFunction(() => window.ready === true);
    await page.evaluate(async () => {
      const players = ['element', 'video'].map((id) => document.getElementById(id));
      await Promise.all(players.map((p) => p.readyState >= 4 ? null
        : new Promise((resolve) => p.addEventListener('canplaythrough', resolve, { once: true }))));
      await Promise.all(players.map((p) => p.play()));
    });
    await page.waitForFunction(() => document.getElementById('element').currentTime > 0.5 &&
                                     document.getElementById('video').currentTime > 0.5);
    const playing = await readings(page);
    await page.waitForTimeout(1000);
    // Each picture is drawn at the first display refresh after its sound begins to be heard,
    // not a device's latency before it.
    const offsets = await page.evaluate(() => window.offsets.slice());
    const middle = [...offsets].sort((a, b) => a - b)[offsets.length >> 1];
    console.log('sound heard after its picture is drawn: ' +
                offsets.map((o) => (1000 * o).toFixed(0)).join(' ') + ' ms');
    assert.ok(offsets.length >= 5 && middle > -0.03 && middle < 0.02,
              'the sound is heard ' + (1000 * middle).toFixed(1) + ' ms after its picture');

    // Another tab in front: the player's page really is hidden.
    const front = await browser.newPage();
    await front.bringToFront();
    await page.waitForFunction(() => document.visibilityState === 'hidden');
    const before = await readings(page);
    const firstBuffer = before.started;
    await front.waitForTimeout(HIDDEN_SECONDS * 1000);
    const after = await readings(page);
    const started = await page.evaluate((from) => window.started.slice(from), firstBuffer);
    const audioNow = await page.evaluate(() => window.audio.currentTime);
    assert.equal(after.visibility, 'hidden', 'the page was in front again too soon');
    assert.deepEqual(after.paused, [false, false], 'paused (element, <video>) while hidden');

    const elapsed = after.clock - before.clock;
    const advanced = { element: after.element - before.element,
                       video: after.video - before.video };
    console.log(`hidden for ${elapsed.toFixed(2)} s: the element advanced ` +
                `${advanced.element.toFixed(3)} s, <video> ${advanced.video.toFixed(3)} s; ` +
                `${started.length} sound buffers handed out`);
    assert.ok(advanced.video > 0.9 * elapsed, '<video> itself did not play on: ' +
              JSON.stringify(advanced));
    const ratio = advanced.element / advanced.video;
    assert.ok(ratio > 0.95 && ratio < 1.05, 'the element advanced ' + advanced.element +
              ' s while <video> advanced ' + advanced.video + ' s');

    // Enough sound to reach past the moment the readings were taken.
    assert.ok(started.length > 0, 'no sound was handed out while hidden');
    const end = started.at(-1);
    assert.ok(end.when + end.length > audioNow, 'the sound ran dry at ' +
              (end.when + end.length) + ' s of the audio clock, now ' + audioNow + ' s');

    // In front again, the picture never shows a frame before its time (the decoder is ahead
    // for the sound), is drawn again as the movie plays on, and is exact once paused.
    await page.bringToFront();
    await page.waitForFunction(() => document.visibilityState === 'visible');
    const shown = await readings(page);
    await page.waitForTimeout(300);
    const soon = await canvasFrame(page, reference);
    assert.ok(soon.match >= 0 && soon.match <= soon.frame, 'the canvas shows frame ' + soon.match +
              ' when frame ' + soon.frame + ' is due');
    await page.waitForTimeout(2000);
    const later = await readings(page);
    assert.ok(later.drawn - shown.drawn >= 5, (later.drawn - shown.drawn) + ' pictures drawn ' +
              'in the 2.3 s after the page showed again');
    await page.evaluate(() => document.getElementById('element').pause());
    const paused = await canvasFrame(page, reference);
    assert.equal(paused.match, paused.frame, 'the picture once paused');
    continuous(await page.evaluate((from) => window.started.slice(from), playing.started));
    assert.deepEqual(errors, [], 'script errors');
    console.log('ok   a hidden tab plays on like <video>, with its sound continuous');
  } catch (error) {
    failed = true;
    console.log('FAIL a hidden tab plays on like <video>\n     ' +
                String(error.message).replace(/\n/g, '\n     '));
  } finally {
    await close();
    await server.close();
  }
  process.exit(failed ? 1 : 0);
}

main().catch((error) => {
  console.error(error);
  process.exit(1);
});
