// SPDX-License-Identifier: MIT
// The npm package as a web developer meets it, in headless Chromium: `npm pack`'s tarball
// installed into a fresh Vite project, type-checked against its declarations, built, served
// and played; its runtime files within budget; and media-chrome's controls (written for
// <video>) driving the element.
//
// usage: node package_test.mjs BUILD_WEB ZMBTOOL WORK_FOLDER
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';
import { fileURLToPath, pathToFileURL } from 'node:url';
import zlib from 'node:zlib';
import { launch } from './browser.mjs';
import { decodeReference, makeTestMovies, referenceFrame } from './movies.mjs';
import { serve } from './server.mjs';

const [buildWeb, zmbtool, work] = process.argv.slice(2).map((arg) => path.resolve(arg));
if (!work) {
  console.error('usage: node package_test.mjs BUILD_WEB ZMBTOOL WORK_FOLDER');
  process.exit(2);
}
const here = path.dirname(fileURLToPath(import.meta.url));
const RUNTIME = ['zambrel-player.js', 'zambrel-core.js', 'zambrel-core.wasm'];
const BUDGET = 300000, BUDGET_GZIPPED = 100000;

async function pixelsOf(page, selector) {
  const encoded = await page.evaluate((s) => {
    const canvas = document.querySelector(s).shadowRoot.querySelector('canvas');
    const data = canvas.getContext('2d').getImageData(0, 0, canvas.width, canvas.height).data;
    let text = '';
    for (let i = 0; i < data.length; i += 0x8000)
      text += String.fromCharCode.apply(null, data.subarray(i, i + 0x8000));
    return btoa(text);
  }, selector);
  return Buffer.from(encoded, 'base64');
}

async function expectShownFrame(page, selector, reference, why) {
  const { frame, width, height } = await page.evaluate((s) => {
    const p = document.querySelector(s);
    return { frame: p.frame, width: p.videoWidth, height: p.videoHeight };
  }, selector);
  assert.ok((await pixelsOf(page, selector)).equals(
      referenceFrame(reference.raw, width, height, frame)), why + ': frame ' + frame);
  return frame;
}

function packTarball(folder) {
  const out = path.join(work, 'pack');
  fs.rmSync(out, { recursive: true, force: true });
  fs.mkdirSync(out, { recursive: true });
  const report = JSON.parse(execFileSync('npm', ['pack', '--json', '--pack-destination', out],
                                         { cwd: folder, encoding: 'utf8' }));
  return { tarball: path.join(out, report[0].filename), files: report[0].files.map((f) => f.path) };
}

// A project as `npm create vite` leaves a plain one, with the movie in public/.
function freshProject(tarball, movie) {
  const app = path.join(work, 'vite-app');
  fs.rmSync(app, { recursive: true, force: true });
  fs.mkdirSync(path.join(app, 'public'), { recursive: true });
  fs.writeFileSync(path.join(app, 'package.json'), JSON.stringify(
      { name: 'vite-app', private: true, version: '0.0.0', type: 'module' }, null, 2));
  fs.writeFileSync(path.join(app, 'index.html'), `<!DOCTYPE html>
<html lang="en"><head><meta charset="utf-8"><title>app</title></head>
<body>
  <zambrel-player id="intro" src="/intro.zmb" controls></zambrel-player>
  <script type="module" src="/main.js"></script>
</body></html>
`);
  fs.writeFileSync(path.join(app, 'main.js'), `import 'zambrel-player';
window.ready = customElements.get('zambrel-player') !== undefined;
`);
  fs.copyFileSync(movie, path.join(app, 'public', 'intro.zmb'));
  execFileSync('npm', ['install', '--offline', '--no-audit', '--no-fund', tarball],
               { cwd: app, stdio: ['ignore', 'ignore', 'inherit'] });
  typeCheck(app);
  execFileSync(process.execPath, [path.join(here, 'node_modules', 'vite', 'bin', 'vite.js'),
                                  'build', '--logLevel', 'warn'],
               { cwd: app, stdio: ['ignore', 'inherit', 'inherit'] });
  return path.join(app, 'dist');
}

// A TypeScript user's code against the package's declarations, strictly checked.
function typeCheck(app) {
  fs.writeFileSync(path.join(app, 'check.ts'), `\
import ZambrelPlayer, { ZambrelMediaError } from 'zambrel-player';
const found: ZambrelPlayer | null = document.querySelector('zambrel-player');
if (found) {
  const player: ZambrelPlayer = found;
  player.currentTime = player.duration / 2;
  player.volume = 0.5;
  player.muted = !player.paused;
  for (const track of player.tracks) track.enabled = track.sampleRate >= 11025;
  const damaged = (event: CustomEvent<{ track: number; frame: number }>) =>
    console.log(event.detail.track + 1);
  player.addEventListener('sounddamaged', damaged);
  player.removeEventListener('sounddamaged', damaged);
  const seeked = (event: Event) => console.log(event.type, player.seeking);
  player.addEventListener('seeked', seeked, { once: true });
  player.removeEventListener('seeked', seeked);
  player.preload = 'metadata';
  player.crossOrigin = 'anonymous';
  player.addEventListener('timeupdate', () => console.log(player.frame, player.frameCount));
  const picture: ImageData | null = player.snapshot();
  if (player.error?.code === ZambrelMediaError.MEDIA_ERR_NETWORK) console.log(player.error.message);
  player.play().then(() => player.step(), () => player.loadBytes(new Blob([]), 'none'));
  console.log(picture?.width, player.buffered.length, player.readyState >= 3);
}
`);
  execFileSync(process.execPath, [path.join(here, 'node_modules', 'typescript', 'bin', 'tsc'),
                                  '--noEmit', '--strict', '--target', 'es2022',
                                  '--module', 'esnext',
                                  '--moduleResolution', 'bundler', '--lib', 'es2022,dom',
                                  'check.ts'],
               { cwd: app, stdio: ['ignore', 'inherit', 'inherit'] });
}

const tests = [];
const test = (name, body) => tests.push({ name, body });

test('the packed tarball: within budget, typed, installed into a fresh Vite project, plays there',
     async ({ browser, m }) => {
  const folder = path.join(buildWeb, 'package');
  let plain = 0, gzipped = 0;
  for (const file of RUNTIME) {
    const bytes = fs.readFileSync(path.join(folder, file));
    plain += bytes.length;
    gzipped += zlib.gzipSync(bytes, { level: 9 }).length;
  }
  console.log(`     runtime files: ${plain} bytes, ${gzipped} gzipped`);
  assert.ok(plain <= BUDGET && gzipped <= BUDGET_GZIPPED, `${plain} bytes, ${gzipped} gzipped`);
  const { tarball, files } = packTarball(folder);
  for (const file of [...RUNTIME, 'zambrel-player.d.ts', 'README.md', 'package.json'])
    assert.ok(files.includes(file), file + ' is in the tarball: ' + files);
  const dist = freshProject(tarball, m.mixed);
  const assets = fs.readdirSync(path.join(dist, 'assets'));
  assert.ok(assets.some((name) => name.endsWith('.wasm')), 'Vite ships the WebAssembly: ' + assets);
  const server = await serve({ '': dist });
  try {
    const page = await browser.newPage();
    await page.goto(server.url + '/');
    await page.waitForFunction(() => window.ready === true);
    await page.waitForFunction(() => document.getElementById('intro').readyState === 4);
    await page.evaluate(() => { document.getElementById('intro').currentTime = 0.5; });
    await page.waitForFunction(() => !document.getElementById('intro').seeking);
    assert.equal(await expectShownFrame(page, '#intro', m.mixedReference, 'seek'), 11);
    await page.evaluate(() => document.getElementById('intro').play());
    await page.waitForFunction(() => document.getElementById('intro').ended, null,
                               { timeout: 20000 });
    await expectShownFrame(page, '#intro', m.mixedReference, 'at the end');
    await page.close();
  } finally {
    await server.close();
  }
});

test('the package imports where there is no DOM (a server rendering the page)', async () => {
  // A fresh Node.js with no document, window or customElements.
  const module = pathToFileURL(path.join(buildWeb, 'package', 'zambrel-player.js')).href;
  const out = execFileSync(process.execPath, ['--input-type=module', '-e',
    `const m = await import(${JSON.stringify(module)});
     console.log(typeof m.default, typeof m.ZambrelMediaError, typeof document);`],
                           { encoding: 'utf8' });
  assert.equal(out.trim(), 'function function undefined');
});

test('media-chrome\'s play, time, mute and fullscreen controls drive the element',
     async ({ browser, m }) => {
  const site = path.join(work, 'chrome');
  fs.mkdirSync(site, { recursive: true });
  fs.writeFileSync(path.join(site, 'chrome.html'), `<!DOCTYPE html><meta charset="utf-8">
<body style="margin:0">
<media-controller id="controller" style="width:640px">
  <zambrel-player slot="media" id="player" src="/movies/mixed.zmb"></zambrel-player>
  <media-control-bar>
    <media-play-button></media-play-button>
    <media-time-range></media-time-range>
    <media-mute-button></media-mute-button>
    <media-fullscreen-button></media-fullscreen-button>
  </media-control-bar>
</media-controller>
<script type="module">
  await import('/media-chrome/index.js');
  await import('/package/zambrel-player.js');
  window.ready = true;
</script>`);
  const server = await serve({ '': site, package: path.join(buildWeb, 'package'),
                               movies: path.dirname(m.mixed),
                               'media-chrome': path.join(here, 'node_modules', 'media-chrome',
                                                         'dist') });
  try {
    const page = await browser.newPage();
    await page.goto(server.url + '/chrome.html');
    await page.waitForFunction(() => window.ready === true);
    await page.waitForFunction(() => document.getElementById('player').readyState === 4);
    // Play and pause.
    await page.click('media-play-button');
    await page.waitForFunction(() => !document.getElementById('player').paused);
    await page.click('media-play-button');
    await page.waitForFunction(() => document.getElementById('player').paused);
    // Mute and unmute.
    await page.click('media-mute-button');
    await page.waitForFunction(() => document.getElementById('player').muted);
    await page.click('media-mute-button');
    await page.waitForFunction(() => !document.getElementById('player').muted);
    // The time range: a click three quarters along seeks there, to the exact picture.
    const range = await page.locator('media-time-range').boundingBox();
    await page.mouse.click(range.x + range.width * 0.75, range.y + range.height / 2);
    await page.waitForFunction(() => {
      const p = document.getElementById('player');
      return !p.seeking && p.currentTime > 0.5;
    });
    const frame = await expectShownFrame(page, '#player', m.mixedReference, 'time range');
    assert.ok(frame >= 14 && frame <= 21, 'a frame three quarters along: ' + frame);
    // media-chrome reads the element's time and duration back.
    await page.waitForFunction(() => {
      const c = document.getElementById('controller');
      return Math.abs(Number(c.getAttribute('mediacurrenttime')) -
                      document.getElementById('player').currentTime) < 1e-6 &&
             Number(c.getAttribute('mediaduration')) > 0.99;
    });
    // Fullscreen, and back.
    await page.click('media-fullscreen-button');
    await page.waitForFunction(() => {
      const shown = document.fullscreenElement;
      return shown !== null && shown.contains(document.getElementById('player'));
    });
    await page.click('media-fullscreen-button');
    await page.waitForFunction(() => document.fullscreenElement === null);
    await page.close();
  } finally {
    await server.close();
  }
});

async function main() {
  fs.mkdirSync(work, { recursive: true });
  const m = makeTestMovies(zmbtool, path.join(work, 'movies'));
  m.mixedReference = decodeReference(zmbtool, m.mixed, path.join(work, 'mixed'));
  const { browser, close } = await launch();
  let failures = 0;
  try {
    for (const { name, body } of tests.filter((t) => t.name.includes(process.env.ONLY || ''))) {
      try {
        await body({ browser, m });
        console.log('ok   ' + name);
      } catch (error) {
        failures++;
        console.log('FAIL ' + name + '\n     ' + String(error.message).replace(/\n/g, '\n     '));
      }
    }
  } finally {
    await close();
  }
  console.log(failures ? failures + ' of ' + tests.length + ' package tests failed'
                       : 'all ' + tests.length + ' package tests passed');
  process.exit(failures ? 1 : 0);
}

main().catch((error) => {
  console.error(error);
  process.exit(1);
});
