// SPDX-License-Identifier: MIT
// <zambrel-player> as a web developer uses it, in headless Chromium: the package's ES module
// and its separate WebAssembly served over HTTP, movies given by `src`. Pictures are
// compared with `zmbtool decode`'s; events, errors, streaming, two players, the keyboard,
// a phone's width and the contrast of what the page and the element write.
//
// usage: node element_test.mjs BUILD_WEB ZMBTOOL DEMO WORK_FOLDER
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';
import { pathToFileURL } from 'node:url';
import { launch } from './browser.mjs';
import { decodeReference, hostileMovies, indexedPng, makeFullMovie, makeTestMovies,
         referenceFrame, referenceSound } from './movies.mjs';
import { serve } from './server.mjs';

const [buildWeb, zmbtool, demo, work] = process.argv.slice(2);
if (!work) {
  console.error('usage: node element_test.mjs BUILD_WEB ZMBTOOL DEMO WORK_FOLDER');
  process.exit(2);
}

const EVENTS = ['loadstart', 'progress', 'durationchange', 'loadedmetadata', 'loadeddata',
                'canplay', 'canplaythrough', 'play', 'playing', 'pause', 'timeupdate',
                'seeking', 'seeked', 'ended', 'error', 'volumechange', 'waiting', 'emptied'];

const twoPlayers = `<!DOCTYPE html><meta charset="utf-8"><title>two players</title>
<body style="margin:0">
<zambrel-player id="a" controls style="width:400px"></zambrel-player>
<zambrel-player id="b" controls muted style="width:400px"></zambrel-player>
<script type="module">
  import { ZambrelPlayer } from '/package/zambrel-player.js';
  window.log = { a: [], b: [] };
  for (const id of ['a', 'b'])
    for (const type of ${JSON.stringify(EVENTS)})
      document.getElementById(id).addEventListener(type, () => window.log[id].push(type));
  window.ready = ZambrelPlayer === customElements.get('zambrel-player');
</script>`;

// The element's canvas (what is on screen) as RGBA bytes.
async function pixels(page, id) {
  const encoded = await page.evaluate((which) => {
    const canvas = document.getElementById(which).shadowRoot.querySelector('canvas');
    const data = canvas.getContext('2d').getImageData(0, 0, canvas.width, canvas.height).data;
    let text = '';
    for (let i = 0; i < data.length; i += 0x8000)
      text += String.fromCharCode.apply(null, data.subarray(i, i + 0x8000));
    return btoa(text);
  }, id);
  return Buffer.from(encoded, 'base64');
}

async function expectFrame(page, id, reference, n, why) {
  const { frame, width, height } = await page.evaluate((which) => {
    const p = document.getElementById(which);
    return { frame: p.frame, width: p.videoWidth, height: p.videoHeight };
  }, id);
  assert.equal(frame, n, why + ': the frame shown');
  const actual = await pixels(page, id);
  assert.ok(actual.equals(referenceFrame(reference.raw, width, height, n)),
            why + ': the canvas differs from the decoded frame ' + n);
}

function events(log) {
  return log.filter((type) => type !== 'progress' && type !== 'timeupdate');
}

async function waitEvent(page, id, type, timeout = 30000) {
  await page.waitForFunction(([which, t]) => window.log[which].includes(t), [id, type],
                             { timeout });
}

async function clearLog(page, id) {
  await page.evaluate((which) => { window.log[which].length = 0; }, id);
}

// Seeks by currentTime and waits for its seeked event.
async function seekTo(page, id, seconds) {
  await clearLog(page, id);
  await page.evaluate(([which, t]) => { document.getElementById(which).currentTime = t; },
                      [id, seconds]);
  await waitEvent(page, id, 'seeked');
  const log = await page.evaluate((which) => window.log[which].slice(), id);
  assert.deepEqual(events(log), ['seeking', 'seeked'], 'events of a seek to ' + seconds);
}

const tests = [];
const test = (name, body) => tests.push({ name, body });

test('a src plays with its events in order, and currentTime = t shows the frame due at t',
     async ({ open, m }) => {
  const page = await open('/two.html');
  await page.evaluate(() => { document.getElementById('a').src = '/movies/mixed.zmb'; });
  await waitEvent(page, 'a', 'canplaythrough');
  const facts = await page.evaluate(() => {
    const p = document.getElementById('a');
    return { duration: p.duration, width: p.videoWidth, height: p.videoHeight,
             ready: p.readyState, paused: p.paused, tracks: p.tracks.map((t) => t.index),
             log: window.log.a.slice() };
  });
  assert.deepEqual(events(facts.log), ['loadstart', 'durationchange', 'loadedmetadata',
                                       'loadeddata', 'canplay', 'canplaythrough']);
  // 24 frames a second is stored as 4,167 hundredths of a millisecond a frame.
  assert.deepEqual([facts.duration, facts.width, facts.height, facts.ready, facts.paused],
                   [24 * 0.04167, 64, 48, 4, true]);
  assert.deepEqual(facts.tracks, [0, 1, 3]);
  await expectFrame(page, 'a', m.mixedReference, 0, 'before playing');

  await clearLog(page, 'a');
  await page.evaluate(() => document.getElementById('a').play());
  await waitEvent(page, 'a', 'ended', 20000);
  const played = await page.evaluate(() => {
    const p = document.getElementById('a');
    return { log: window.log.a.slice(), ended: p.ended, paused: p.paused, frame: p.frame };
  });
  assert.deepEqual(events(played.log), ['play', 'playing', 'pause', 'ended']);
  assert.ok(played.log.includes('timeupdate'));
  assert.deepEqual([played.ended, played.paused, played.frame], [true, true, 23]);
  await expectFrame(page, 'a', m.mixedReference, 23, 'at the end');

  // Times on, just before and between frame boundaries, in a shuffled order, so that both
  // backward seeks (from the start) and forward ones (from the frame shown) are taken.
  const period = facts.duration / 24;
  const times = [];
  for (let n = 0; n < 24; n += 1) times.push(n * period, n * period + period / 2);
  for (let n = 1; n < 24; n += 3) times.push(n * period - 1e-4);
  for (let i = times.length - 1; i > 0; i--) {
    const j = (i * 7919) % (i + 1);
    [times[i], times[j]] = [times[j], times[i]];
  }
  for (const t of times) {
    await seekTo(page, 'a', t);
    await expectFrame(page, 'a', m.mixedReference, Math.floor(t / period + 1e-6),
                      'currentTime ' + t);
  }
  // snapshot() is the picture, exactly.
  const snapshot = await page.evaluate(() => {
    const image = document.getElementById('a').snapshot();
    return { width: image.width, data: btoa(String.fromCharCode(...image.data)) };
  });
  const frame = await page.evaluate(() => document.getElementById('a').frame);
  assert.ok(Buffer.from(snapshot.data, 'base64').equals(
      referenceFrame(m.mixedReference.raw, 64, 48, frame)), 'snapshot()');
});

test('two players on one page, each with its own movie and decoder', async ({ open, m }) => {
  const page = await open('/two.html');
  await page.evaluate(() => {
    document.getElementById('a').src = '/movies/mixed.zmb';
    document.getElementById('b').src = '/movies/demo.zmb';
  });
  await waitEvent(page, 'a', 'canplaythrough');
  await waitEvent(page, 'b', 'canplaythrough');
  await seekTo(page, 'a', 10 * 0.04167);
  await seekTo(page, 'b', 100 * 0.06666);
  await seekTo(page, 'a', 3 * 0.04167);
  await expectFrame(page, 'a', m.mixedReference, 3, 'player a');
  await expectFrame(page, 'b', m.demoReference, 100, 'player b');
  // Both playing at once, then paused where they are.
  await page.evaluate(() => Promise.all([document.getElementById('a').play(),
                                         document.getElementById('b').play()]));
  await page.waitForFunction(() => document.getElementById('b').frame >= 110);
  await page.evaluate(() => { document.getElementById('b').pause(); });
  await waitEvent(page, 'a', 'ended');
  const shown = await page.evaluate(() => document.getElementById('b').frame);
  await expectFrame(page, 'a', m.mixedReference, 23, 'player a after playing');
  await expectFrame(page, 'b', m.demoReference, shown, 'player b after playing');
  // Taken off the page it pauses; put back, it has its movie still.
  const removed = await page.evaluate(async () => {
    const b = document.getElementById('b');
    await b.play();
    b.remove();
    await new Promise((resolve) => setTimeout(resolve, 100));
    const paused = b.paused;
    document.body.append(b);
    b.frame = 40;
    return paused;
  });
  assert.equal(removed, true, 'a player taken off the page pauses');
  await expectFrame(page, 'b', m.demoReference, 40, 'player b put back');
});

test('a slow movie starts before it has arrived, and a seek past what has come waits for it',
     async ({ open, m }) => {
  const page = await open('/two.html');
  await page.evaluate(() => { document.getElementById('b').src = '/slow/demo.zmb'; });
  await waitEvent(page, 'b', 'canplay');
  const early = await page.evaluate(() => {
    const p = document.getElementById('b');
    return { buffered: p.buffered.end(0), duration: p.duration, ready: p.readyState,
             progress: window.log.b.filter((t) => t === 'progress').length };
  });
  assert.ok(early.buffered < early.duration / 2, 'playable after ' + early.buffered + ' s');
  assert.equal(early.ready, 3);
  assert.ok(early.progress >= 1);
  await expectFrame(page, 'b', m.demoReference, 0, 'first frame');
  await clearLog(page, 'b');
  await page.evaluate(() => { document.getElementById('b').currentTime = 9.5; });
  assert.equal(await page.evaluate(() => document.getElementById('b').seeking), true);
  await waitEvent(page, 'b', 'seeked');
  await expectFrame(page, 'b', m.demoReference, 142, 'after waiting');
  await waitEvent(page, 'b', 'canplaythrough');
  assert.equal(await page.evaluate(() => document.getElementById('b').readyState), 4);
});

test('a movie compressed in transit, without a length, starts before it has arrived',
     async ({ open, m }) => {
  const page = await open('/two.html');
  await page.evaluate(() => { document.getElementById('b').src = '/gzip/demo.zmb'; });
  await waitEvent(page, 'b', 'canplay');
  const early = await page.evaluate(() => {
    const p = document.getElementById('b');
    return { buffered: p.buffered.end(0), duration: p.duration };
  });
  assert.ok(early.buffered < early.duration / 2, 'playable after ' + early.buffered + ' s');
  await expectFrame(page, 'b', m.demoReference, 0, 'first frame');
  await waitEvent(page, 'b', 'canplaythrough');
  await seekTo(page, 'b', 149 * 0.06666);
  await expectFrame(page, 'b', m.demoReference, 149, 'the last frame');
});

test('a URL that fails fires error with the reason and leaves the element usable',
     async ({ open, m, errors }) => {
  const page = await open('/two.html');
  const cases = [['/movies/missing.zmb', 2, /404/], ['/two.html', 4, /Not a Zambrel movie/],
                 ['http://127.0.0.1:9/nothing.zmb', 2, /could not be fetched/],
                 ['/broken/demo.zmb', 2, /broke off/]];
  for (const [url, code, reason] of cases) {
    await clearLog(page, 'a');
    await page.evaluate((u) => { document.getElementById('a').src = u; }, url);
    await waitEvent(page, 'a', 'error');
    const error = await page.evaluate(() => {
      const e = document.getElementById('a').error;
      return { code: e.code, message: e.message };
    });
    assert.equal(error.code, code, url);
    assert.match(error.message, reason, url);
    const rejected = await page.evaluate(() => document.getElementById('a').play().then(
        () => 'played', (e) => e.name));
    if (url !== '/broken/demo.zmb') assert.equal(rejected, 'NotSupportedError', url);
    else await page.evaluate(() => document.getElementById('a').pause());
  }
  await page.evaluate(() => { document.getElementById('a').src = '/movies/mixed.zmb'; });
  await waitEvent(page, 'a', 'canplaythrough');
  assert.equal(await page.evaluate(() => document.getElementById('a').error), null);
  await seekTo(page, 'a', 12 * 0.04167);
  await expectFrame(page, 'a', m.mixedReference, 12, 'after the failures');
  assert.deepEqual(errors.filter((e) => !e.includes('Failed to load resource')), []);
});

test('the keys act on the focused control, the player\'s own keys only when it has focus',
     async ({ openPage, m }) => {
  const page = await openPage();
  await page.setInputFiles('#file', m.mixed);
  await page.waitForFunction(() => window.zambrelTest.state() !== null);
  await page.keyboard.press('Escape');  // the page gives the player focus: paused, frame 1
  const state = () => page.evaluate(() => window.zambrelTest.state());
  assert.equal((await state()).shown, 0);
  const control = (name) => page.locator('zambrel-player').locator('.' + name);
  // Enter and Space on the play button press the button, and never step a frame.
  await control('play').focus();
  await page.keyboard.press('Enter');
  assert.equal((await state()).playing, true, 'Enter on the play button plays');
  await page.keyboard.press('Space');
  const paused = await state();
  assert.equal(paused.playing, false, 'Space on the play button pauses');
  // Arrows on the focused time bar move it by one frame.
  await page.evaluate(() => { document.getElementById('player').frame = 5; });
  await control('time').focus();
  await page.keyboard.press('ArrowRight');
  assert.equal((await state()).shown, 6, 'the time bar moves one frame');
  // With the page's body focused, the player's keys do nothing.
  await page.evaluate(() => document.activeElement.blur());
  await page.evaluate(() => document.body.focus());
  for (const key of ['Space', 'Enter', 'ArrowRight', 'm']) await page.keyboard.press(key);
  const untouched = await state();
  assert.deepEqual([untouched.shown, untouched.playing], [6, false]);
  assert.equal(await page.evaluate(() => document.getElementById('player').muted), false);
  // The mute button and the track choice from the keyboard.
  await control('mute').focus();
  await page.keyboard.press('Space');
  assert.equal(await page.evaluate(() => document.getElementById('player').muted), true);
  await control('tracks').focus();
  await control('tracks').selectOption('1');
  assert.deepEqual(await page.evaluate(() => document.getElementById('player').tracks
    .map((t) => t.enabled)), [false, true, false]);
  // The player's own keys once it has focus again.
  await page.focus('zambrel-player');
  await page.keyboard.press('Enter');
  assert.equal((await state()).shown, 7, 'Enter on the player steps');
  await page.keyboard.press('f');
  await page.waitForFunction(() => document.fullscreenElement ===
                                   document.getElementById('player'));
  await page.keyboard.press('f');
  await page.waitForFunction(() => document.fullscreenElement === null);
  // The next movie is heard on every track, whatever the last one had turned off.
  await page.setInputFiles('#file', []);
  await page.setInputFiles('#file', m.mixed);
  await page.waitForFunction(() => document.getElementById('player').tracks
    .every((track) => track.enabled));
  const gains = await page.evaluate(() => document.getElementById('player')[
    Symbol.for('zambrel-player.test')]._audio.gains.filter(Boolean).map((gain) => gain.gain.value));
  assert.ok(gains.length >= 3 && gains.every((value) => value === 1), 'gains ' + gains);
});

test('the page at a phone\'s width: the picture fits, smoothly scaled; at a desk it stays sharp',
     async ({ browser, m }) => {
  for (const [width, ratio, smooth] of [[390, 3, true], [1100, 1, false], [1100, 2, false]]) {
    const page = await browser.newPage();
    const session = await browser.newCDPSession(page);
    await session.send('Emulation.setDeviceMetricsOverride',
                       { width, height: 800, deviceScaleFactor: ratio, mobile: ratio > 1 });
    await page.goto(pathToFileURL(path.join(buildWeb, 'index.html')).href + '?test');
    await page.setInputFiles('#file', m.full);
    await page.waitForFunction(() => window.zambrelTest.state() !== null);
    const box = await page.evaluate(() => {
      const player = document.getElementById('player');
      const canvas = player.shadowRoot.querySelector('canvas');
      const rect = canvas.getBoundingClientRect();
      return { canvas: [rect.left, rect.width, rect.height], player: player.clientWidth,
               smooth: canvas.classList.contains('smooth'),
               page: document.documentElement.scrollWidth };
    });
    const [left, shownWidth, shownHeight] = box.canvas;
    const why = width + ' px at ' + ratio + 'x: ' + JSON.stringify(box);
    assert.ok(box.page <= width && left >= 0 && shownWidth <= box.player + 0.5, why);
    assert.ok(Math.abs(shownWidth / shownHeight - 640 / 480) < 0.01, why);
    assert.equal(box.smooth, smooth, why);
    if (smooth) assert.ok(shownWidth >= box.player - 1, 'fills the width: ' + why);
    else assert.ok(Number.isInteger(shownWidth * ratio / 640), 'whole factors: ' + why);
    await page.close();
  }
});

test('a player whose container is resized refits its picture without a resize loop error',
     async ({ open }) => {
  const page = await open('/two.html');
  await page.addScriptTag({ content: ONCE });
  const seen = await page.evaluate(async () => {
    // The browser reports a resize loop on the window, where a page's error reporting
    // (not the console) hears it.
    const thrown = [];
    addEventListener('error', (e) => thrown.push(e.message));
    const frames = (n) => new Promise((resolve) => {
      const next = () => (n-- > 0 ? requestAnimationFrame(next) : resolve());
      next();
    });
    const box = document.createElement('div');
    const p = document.createElement('zambrel-player');
    p.src = '/movies/untimed.zmb';
    box.append(p);
    document.body.append(box);
    await once(p, 'canplaythrough');
    const widths = [];
    for (const width of [300, 520, 96, 700]) {
      box.style.width = width + 'px';
      await frames(4);
      widths.push(p.shadowRoot.querySelector('canvas').getBoundingClientRect().width);
    }
    box.remove();
    return { thrown, widths };
  });
  // 32 pixels wide: the largest whole factor within each width.
  assert.deepEqual(seen, { thrown: [], widths: [288, 512, 96, 672] });
});

test('a refused file leaves no picture; text has AA contrast in both schemes; parts styled',
     async ({ openPage, m }) => {
  const page = await openPage();
  await page.setInputFiles('#file', m.mixed);
  await page.waitForFunction(() => window.zambrelTest.state() !== null);
  await page.setInputFiles('#file', { name: 'not-a-movie.zmb', mimeType: 'text/plain',
                                      buffer: Buffer.from('hello') });
  await page.waitForFunction(() => window.zambrelTest.message() !== '');
  assert.match(await page.evaluate(() => window.zambrelTest.message()), /not-a-movie/);
  assert.equal(await page.evaluate(() => getComputedStyle(document.getElementById('player')
    .shadowRoot.querySelector('canvas')).display), 'none');
  await page.setInputFiles('#file', m.mixed);
  await page.waitForFunction(() => window.zambrelTest.state() !== null);
  for (const scheme of ['light', 'dark']) {
    await page.emulateMedia({ colorScheme: scheme });
    const worst = await page.evaluate(lowestContrast);
    assert.ok(worst.ratio >= 4.5, scheme + ': ' + JSON.stringify(worst));
  }
  // Every control is a part the page can style, and the colours are custom properties.
  const styled = await page.evaluate(() => {
    const style = document.createElement('style');
    style.textContent = 'zambrel-player::part(play-button) { background: rgb(1, 2, 3); }' +
                        'zambrel-player { --zambrel-accent: rgb(4, 5, 6); }';
    document.head.append(style);
    const root = document.getElementById('player').shadowRoot;
    const parts = [...root.querySelectorAll('.controls > *')].map((e) => e.getAttribute('part'));
    return { parts, play: getComputedStyle(root.querySelector('.play')).backgroundColor,
             accent: getComputedStyle(root.querySelector('.time')).accentColor };
  });
  assert.deepEqual(styled, { parts: ['play-button', 'time-range', 'clock', 'mute-button',
                                     'volume-range', 'track-select', 'fullscreen-button'],
                             play: 'rgb(1, 2, 3)', accent: 'rgb(4, 5, 6)' });
});

// The lowest contrast of any visible text on the page, the element's inside included,
// against the first opaque background behind it.
function lowestContrast() {
  const parse = (colour) => (colour.match(/[\d.]+/g) || []).map(Number);
  const luminance = ([r, g, b]) => {
    const f = (v) => { v /= 255; return v <= 0.03928 ? v / 12.92 : ((v + 0.055) / 1.055) ** 2.4; };
    return 0.2126 * f(r) + 0.7152 * f(g) + 0.0722 * f(b);
  };
  const background = (element) => {
    for (let e = element; e; e = e.parentElement || (e.getRootNode().host ?? null)) {
      const value = parse(getComputedStyle(e).backgroundColor);
      if (value.length === 3 || value[3] === 1) return value.slice(0, 3);
    }
    return matchMedia('(prefers-color-scheme: dark)').matches ? [18, 18, 18] : [255, 255, 255];
  };
  let worst = { ratio: Infinity };
  const visit = (root) => {
    for (const element of root.querySelectorAll('*')) {
      if (element.shadowRoot) visit(element.shadowRoot);
      const own = [...element.childNodes].some((n) => n.nodeType === 3 && n.textContent.trim());
      if (!own && !['BUTTON', 'SELECT'].includes(element.tagName)) continue;
      if (!element.getClientRects().length || getComputedStyle(element).visibility === 'hidden')
        continue;
      const style = getComputedStyle(element);
      const a = luminance(parse(style.color)), b = luminance(background(element));
      const ratio = (Math.max(a, b) + 0.05) / (Math.min(a, b) + 0.05);
      if (ratio < worst.ratio)
        worst = { ratio, tag: element.tagName, text: element.textContent.trim().slice(0, 40),
                  colour: style.color, behind: background(element) };
    }
  };
  visit(document);
  return worst;
}

test('autoplay, muted, loop, poster and volume as on <video>', async ({ open }) => {
  const page = await open('/two.html');
  await page.evaluate(() => {
    const p = document.getElementById('b');
    p.setAttribute('poster', '/poster.png');
    p.src = '/movies/doubled.zmb';
  });
  await waitEvent(page, 'b', 'canplaythrough');
  const poster = () => page.evaluate(() => !document.getElementById('b').shadowRoot
    .querySelector('.poster').hidden);
  assert.equal(await poster(), true, 'the poster is shown before playing');
  await page.evaluate(() => document.getElementById('b').play());
  await page.waitForFunction(() => document.getElementById('b').frame > 0);
  assert.equal(await poster(), false, 'and not once the movie plays');
  // Three attributes at once: it starts by itself, muted, and goes round.
  await page.evaluate(() => {
    const a = document.getElementById('a');
    a.setAttribute('autoplay', '');
    a.setAttribute('loop', '');
    a.setAttribute('muted', '');
    a.src = '/movies/mixed.zmb';
  });
  const long = { timeout: 20000 };
  await page.waitForFunction(() => document.getElementById('a').frame >= 20, null, long);
  await page.waitForFunction(() => document.getElementById('a').frame < 5, null, long);
  const state = await page.evaluate(() => {
    const a = document.getElementById('a');
    return { paused: a.paused, ended: a.ended, muted: a.muted, log: window.log.a.slice() };
  });
  assert.deepEqual([state.paused, state.ended, state.muted], [false, false, true]);
  assert.ok(!state.log.includes('ended'), 'a looping movie does not end');
  const volume = await page.evaluate(async () => {
    const a = document.getElementById('a');
    const before = window.log.a.filter((t) => t === 'volumechange').length;
    a.volume = 0.25;
    let thrown = '';
    try { a.volume = 2; } catch (error) { thrown = error.name; }
    await new Promise((resolve) => setTimeout(resolve, 50));
    return { thrown, volume: a.volume,
             changes: window.log.a.filter((t) => t === 'volumechange').length - before };
  });
  assert.deepEqual(volume, { thrown: 'IndexSizeError', volume: 0.25, changes: 1 });
});

test('a movie stored without timing plays at sixty frames a second',
     async ({ open, m }) => {
  const page = await open('/two.html');
  await page.evaluate(() => { document.getElementById('a').src = '/movies/untimed.zmb'; });
  await waitEvent(page, 'a', 'canplaythrough');
  assert.equal(await page.evaluate(() => document.getElementById('a').duration), 12 / 60);
  await seekTo(page, 'a', 7 / 60);
  await expectFrame(page, 'a', m.untimedReference, 7, 'currentTime 7/60');
  await clearLog(page, 'a');
  await page.evaluate(() => document.getElementById('a').play());
  await waitEvent(page, 'a', 'ended');
  await expectFrame(page, 'a', m.untimedReference, 11, 'at the end');
});

// zmbtool verify is the judge of each damaged copy: every copy it does not call whole must
// end in an error naming the file, however far the copy plays, and a whole one in none.
test('damaged movies streamed from a server end as they do when given whole',
     async ({ open, m }) => {
  const page = await open('/two.html');
  const outcomes = [];
  for (const { name, whole: verified } of m.hostile) {
    // Each movie is sought to its last frame (decoding every frame on the way), given once
    // by a slow src and once whole.
    const file = name + '.zmb';
    const [streamed, whole] = await page.evaluate(async (file) => {
      const a = document.getElementById('a');
      const attempt = (load) => new Promise((resolve) => {
        const done = (what) => { a.onerror = a.oncanplay = a.onseeked = null; resolve(what); };
        a.onerror = () => done('error: ' + a.error.message);
        a.oncanplay = () => { a.frame = a.frameCount - 1; };
        a.onseeked = () => done('reached frame ' + a.frame);
        load();
      });
      const streamed = await attempt(() => { a.src = '/slow/hostile/' + file; });
      const bytes = await (await fetch('/movies/hostile/' + file)).arrayBuffer();
      const whole = await attempt(() => a.loadBytes(bytes, file));
      return [streamed, whole];
    }, file);
    outcomes.push(name + ': ' + streamed);
    assert.equal(streamed, whole, name + ' streamed and whole');
    if (verified) assert.match(streamed, /^reached frame/, name + ' is whole by zmbtool verify');
    else assert.ok(streamed.startsWith('error: ' + file + ': '), name + ': ' + streamed);
  }
  if (process.env.VERBOSE) console.log(outcomes.join('\n'));
  // Played, a movie damaged in frame 2 stops there showing frame 1 whole, and tells which
  // tracks' sound is damaged before its error.
  await page.addScriptTag({ content: ONCE });
  const played = await page.evaluate(async () => {
    const a = document.getElementById('a');
    const told = [];
    const onDamaged = (e) => told.push('sounddamaged ' + e.detail.track + ' ' + e.detail.frame);
    a.addEventListener('sounddamaged', onDamaged);
    a.muted = true;
    a.src = '/slow/hostile/frame-2-cut-short.zmb';
    await once(a, 'canplay');
    const error = once(a, 'error');
    a.play().catch(() => {});
    await error;
    a.removeEventListener('sounddamaged', onDamaged);
    return { told, paused: a.paused, code: a.error.code };
  });
  assert.deepEqual(played, { told: ['sounddamaged 1 2', 'sounddamaged 3 2'], paused: true,
                             code: 3 });
  await expectFrame(page, 'a', m.mixedReference, 1, 'played up to the damaged frame');
  await clearLog(page, 'a');
  await page.evaluate(() => { document.getElementById('a').src = '/movies/mixed.zmb'; });
  await waitEvent(page, 'a', 'canplaythrough');
  await seekTo(page, 'a', 5 * 0.04167);
  await expectFrame(page, 'a', m.mixedReference, 5, 'after the damaged movies');
});

// In the page: waits for `type` from `el`, failing after five seconds.
const ONCE = `window.once = (el, type) => new Promise((resolve, reject) => {
  const timer = setTimeout(() => reject(new Error('no ' + type + ' came')), 5000);
  el.addEventListener(type, () => { clearTimeout(timer); resolve(); }, { once: true });
});`;

test('events come in tasks after the call that caused them, in <video>\'s orders',
     async ({ open }) => {
  const page = await open('/two.html');
  await page.addScriptTag({ content: ONCE });
  const seen = await page.evaluate(async (types) => {
    // Made, given a src and put on the page in one task: a listener added after still
    // hears loadstart.
    const p = document.createElement('zambrel-player');
    p.src = '/movies/mixed.zmb';
    document.body.append(p);
    const log = [];
    for (const type of types) p.addEventListener(type, () => log.push(type));
    await once(p, 'canplaythrough');
    const quiet = {};  // what fired inside each call: <video> fires nothing there
    const call = (name, action) => {
      const before = log.length;
      action();
      quiet[name] = log.slice(before);
    };
    const orders = { load: log.slice() };
    const mark = () => log.splice(0);
    mark();
    call('seek', () => { p.currentTime = 0.5; });
    const seeking = p.seeking;
    await once(p, 'seeked');
    orders.seek = mark();
    call('volume', () => { p.volume = 0.5; });
    await once(p, 'volumechange');
    call('muted', () => { p.muted = true; });
    await once(p, 'volumechange');
    orders.volume = mark();
    call('play', () => { p.play(); });
    const pausedAfterPlay = p.paused;
    await once(p, 'playing');
    await new Promise((resolve) => setTimeout(resolve, 300));
    orders.play = mark();
    call('pause', () => { p.pause(); });
    await once(p, 'pause');
    orders.pause = mark();
    // Played to the end: currentTime is then the duration.
    p.currentTime = 22 * 0.04167;
    await once(p, 'seeked');
    mark();
    p.play();
    await once(p, 'ended');
    const end = { time: p.currentTime, duration: p.duration, order: mark() };
    // Looping goes round with a seek's events and never ends.
    p.loop = true;
    p.currentTime = 22 * 0.04167;
    await once(p, 'seeked');
    mark();
    p.play();
    await once(p, 'seeked');
    p.pause();
    await once(p, 'pause');
    orders.loop = mark();
    const played = [];
    for (let i = 0; i < p.played.length; i++) played.push([p.played.start(i), p.played.end(i)]);
    // A new src gives up the old movie: abort, emptied, then the new load.
    call('src', () => { p.src = '/movies/doubled.zmb'; });
    await once(p, 'loadstart');
    orders.src = mark();
    p.remove();
    return { orders, quiet, seeking, pausedAfterPlay, end, played };
  }, [...EVENTS, 'abort', 'suspend']);
  const o = {};
  for (const [name, order] of Object.entries(seen.orders)) o[name] = events(order);
  o.end = events(seen.end.order);
  assert.deepEqual(o.load, ['loadstart', 'durationchange', 'loadedmetadata', 'loadeddata',
                            'canplay', 'canplaythrough']);
  for (const [name, fired] of Object.entries(seen.quiet))
    assert.deepEqual(fired, [], 'fired inside ' + name);
  assert.deepEqual([seen.seeking, seen.pausedAfterPlay], [true, false]);
  assert.deepEqual(seen.orders.seek, ['seeking', 'timeupdate', 'seeked']);
  assert.deepEqual(o.volume, ['volumechange', 'volumechange']);
  assert.deepEqual(o.play.filter((t) => t !== 'timeupdate'), ['play', 'playing']);
  assert.deepEqual(seen.orders.pause, ['timeupdate', 'pause']);
  assert.deepEqual(o.end, ['play', 'playing', 'pause', 'ended']);
  assert.equal(seen.end.time, seen.end.duration, 'currentTime at the end');
  assert.deepEqual(o.loop, ['play', 'playing', 'seeking', 'seeked', 'pause']);
  assert.deepEqual(o.src, ['abort', 'emptied', 'durationchange', 'loadstart']);
  // Played: from frame 11 for a moment, and from frame 22 to the end, twice: joined.
  const [first, last] = [seen.played[0], seen.played.at(-1)];
  assert.ok(seen.played.length >= 2 && Math.abs(first[0] - 11 * 0.04167) < 1e-9 &&
            first[1] > first[0] && Math.abs(last[0] - 22 * 0.04167) < 1e-9 &&
            Math.abs(last[1] - seen.end.duration) < 1e-9, JSON.stringify(seen.played));
});

// What a hidden page does to timers and the display's refresh, as browsers do it: drawing
// waits until the page shows again, timers wake at most once a second.
const HIDE = `(() => {
  const realTimeout = window.setTimeout, realFrame = window.requestAnimationFrame;
  let hidden = false;
  const frames = [];
  Object.defineProperty(document, 'visibilityState', { get: () => hidden ? 'hidden' : 'visible' });
  Object.defineProperty(document, 'hidden', { get: () => hidden });
  window.setTimeout = (f, ms = 0, ...rest) => realTimeout(f, hidden
      ? Math.max(ms, 1000 - performance.now() % 1000) : ms, ...rest);
  window.requestAnimationFrame = (f) => {
    if (!hidden) return realFrame(f);
    frames.push(f);
    return -frames.length;
  };
  window.setHidden = (on) => {
    hidden = on;
    document.dispatchEvent(new Event('visibilitychange'));
    if (!on) for (const f of frames.splice(0)) realFrame(f);
  };
  // Every sound buffer started, with the audio clock when it was handed out.
  window.started = [];
  const start = AudioBufferSourceNode.prototype.start;
  AudioBufferSourceNode.prototype.start = function (when) {
    window.started.push({ when, at: this.context.currentTime, length: this.buffer.duration });
    return start.call(this, when);
  };
})();`;

test('in a hidden page the movie\'s time and sound go on; the picture catches up after',
     async ({ open, m }) => {
  const page = await open('/two.html');
  await page.addScriptTag({ content: ONCE + HIDE });
  await page.evaluate(async () => {
    const b = document.getElementById('b');
    b.muted = false;
    b.src = '/movies/demo.zmb';
    await once(b, 'canplaythrough');
    await b.play();
    await new Promise((resolve) => setTimeout(resolve, 500));
    setHidden(true);
    window.started.length = 0;
    window.from = { clock: performance.now(), time: b.currentTime };
  });
  await page.waitForTimeout(4000);
  const hidden = await page.evaluate(() => {
    const b = document.getElementById('b');
    return { elapsed: (performance.now() - window.from.clock) / 1000,
             advanced: b.currentTime - window.from.time, started: window.started.slice() };
  });
  // Within 5 % of the time that passed.
  const ratio = hidden.advanced / hidden.elapsed;
  assert.ok(ratio > 0.95 && ratio < 1.05, 'advanced ' + hidden.advanced + ' s in ' +
            hidden.elapsed + ' s');
  // Continuous sound: every buffer handed out before it was due, each where the one before
  // ended.
  assert.ok(hidden.started.length > 40, hidden.started.length + ' buffers');
  hidden.started.forEach(({ when, at }, i) => {
    assert.ok(when > at, 'buffer ' + i + ' handed out late: ' +
              JSON.stringify(hidden.started.slice(0, i + 1)));
    if (i > 0) {
      const before = hidden.started[i - 1];
      assert.ok(Math.abs(before.when + before.length - when) < 1e-6, 'a gap before buffer ' + i);
    }
  });
  // Shown again: the movie plays on, drawn; paused, the picture is exactly its frame.
  await page.evaluate(() => setHidden(false));
  await page.waitForTimeout(2000);
  await page.evaluate(() => document.getElementById('b').pause());
  const frame = await page.evaluate(() => document.getElementById('b').frame);
  await expectFrame(page, 'b', m.demoReference, frame, 'after the page showed again');
});

test('preload none fetches nothing until played, metadata stops after the first picture',
     async ({ open, m, server }) => {
  const page = await open('/two.html');
  await page.addScriptTag({ content: ONCE });
  const before = server.requests.length;
  const movies = () => server.requests.slice(before).filter((p) => p.startsWith('/movies/'));
  const early = await page.evaluate(async () => {
    const p = document.createElement('zambrel-player');
    p.preload = 'none';
    p.crossOrigin = 'use-credentials';
    p.src = '/movies/mixed.zmb?none';
    document.body.append(p);
    const log = [];
    for (const type of ['loadstart', 'suspend', 'loadedmetadata']) p.addEventListener(type, () => log.push(type));
    await new Promise((resolve) => setTimeout(resolve, 500));
    window.lazy = p;
    return { log, preload: p.preload, crossOrigin: p.crossOrigin, state: p.networkState };
  });
  assert.deepEqual(early, { log: ['loadstart', 'suspend'], preload: 'none',
                            crossOrigin: 'use-credentials', state: 1 });
  assert.deepEqual(movies(), [], 'requests with preload none');
  await page.evaluate(async () => {
    const p = window.lazy;
    p.muted = true;
    await p.play();
    await once(p, 'ended');
  });
  assert.deepEqual(movies(), ['/movies/mixed.zmb']);
  // metadata: the first picture, and the rest only once it plays.
  await page.evaluate(async () => {
    const b = document.getElementById('b');
    b.preload = 'metadata';
    b.src = '/slow/demo.zmb';
    await once(b, 'suspend');
    window.firstArrived = b.buffered.length ? b.buffered.end(0) : 0;
  });
  await page.waitForTimeout(1500);
  const held = await page.evaluate(() => document.getElementById('b').buffered.end(0));
  assert.ok(held === await page.evaluate(() => window.firstArrived) && held < 2,
            'fetching rests at ' + held + ' s');
  await expectFrame(page, 'b', m.demoReference, 0, 'preload metadata');
  await page.evaluate(() => { document.getElementById('b').currentTime = 9; });
  await waitEvent(page, 'b', 'seeked');
  await expectFrame(page, 'b', m.demoReference, 135, 'a seek fetches on');
});

test('frame 0\'s sound is handed out every time a movie plays from its start',
     async ({ open, m }) => {
  const page = await open('/two.html');
  await page.addScriptTag({ content: ONCE });
  const expected = [0, 1, 3].map((track, i) =>
    referenceSound(m.mixedReference.folder, track, [1, 2, 2][i], [8, 16, 8][i])[0]);
  for (let run = 0; run < 4; run++) {
    const first = await page.evaluate(async () => {
      const a = document.createElement('zambrel-player');
      a[Symbol.for('zambrel-player.test')].recordSound = true;
      a.src = '/movies/mixed.zmb';
      document.body.append(a);
      await once(a, 'canplaythrough');
      await a.play();
      await new Promise((resolve) => setTimeout(resolve, 300));
      const handed = a[Symbol.for('zambrel-player.test')].movie.handed;
      const out = [0, 1, 3].map((t) => Array.from(handed[t][0].channels[0]));
      a.remove();
      return out;
    });
    first.forEach((samples, i) => {
      const reference = expected[i].subarray(0, samples.length);
      assert.ok(samples.length > 0 && samples.every((v, j) => v === reference[j]),
                'run ' + run + ': the first sound handed out of track ' + [0, 1, 3][i] +
                ' is not frame 0\'s');
    });
  }
});

async function main() {
  fs.mkdirSync(work, { recursive: true });
  const movies = path.join(work, 'movies');
  const m = makeTestMovies(zmbtool, movies);
  m.full = makeFullMovie(zmbtool, movies, 2);
  fs.copyFileSync(demo, path.join(movies, 'demo.zmb'));
  m.hostile = hostileMovies(fs.readFileSync(m.mixed));
  fs.mkdirSync(path.join(movies, 'hostile'), { recursive: true });
  for (const movie of m.hostile) {
    const file = path.join(movies, 'hostile', movie.name + '.zmb');
    fs.writeFileSync(file, movie.data);
    movie.whole = spawnSync(zmbtool, ['verify', file]).status === 0;
  }
  m.mixedReference = decodeReference(zmbtool, m.mixed, path.join(work, 'mixed'));
  m.demoReference = decodeReference(zmbtool, demo, path.join(work, 'demo'));
  m.untimedReference = decodeReference(zmbtool, m.untimed, path.join(work, 'untimed'));
  const site = path.join(work, 'site');
  fs.mkdirSync(site, { recursive: true });
  fs.writeFileSync(path.join(site, 'two.html'), twoPlayers);
  const palette = Buffer.alloc(768, 200);
  fs.writeFileSync(path.join(site, 'poster.png'),
                   indexedPng(8, 8, new Uint8Array(64), palette));

  const server = await serve({ package: path.join(buildWeb, 'package'), movies, '': site });
  const { browser, close } = await launch();
  let failures = 0;
  try {
    for (const { name, body } of tests.filter((t) => t.name.includes(process.env.ONLY || ''))) {
      const pages = [];
      const errors = [];
      const watch = (page) => {
        pages.push(page);
        page.on('pageerror', (error) => errors.push('page error: ' + error.message));
        page.on('console', (message) => {
          if (message.type() === 'error') errors.push('console error: ' + message.text());
        });
        return page;
      };
      const open = async (where) => {
        const page = watch(await browser.newPage());
        await page.goto(server.url + where);
        await page.waitForFunction(() => window.ready === true);
        return page;
      };
      const openPage = async () => {
        const page = watch(await browser.newPage());
        await page.goto(pathToFileURL(path.join(buildWeb, 'index.html')).href + '?test');
        return page;
      };
      try {
        await body({ open, openPage, browser, m, errors, server });
        assert.deepEqual(errors.filter((e) => !e.includes('Failed to load resource')), [],
                         'script errors');
        console.log('ok   ' + name);
      } catch (error) {
        failures++;
        console.log('FAIL ' + name + '\n     ' + String(error.message).replace(/\n/g, '\n     '));
      }
      for (const page of pages) await page.close().catch(() => {});
    }
  } finally {
    await close();
    await server.close();
  }
  console.log(failures ? failures + ' of ' + tests.length + ' element tests failed'
                       : 'all ' + tests.length + ' element tests passed');
  process.exit(failures ? 1 : 0);
}

main().catch((error) => {
  console.error(error);
  process.exit(1);
});
