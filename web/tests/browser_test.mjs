// SPDX-License-Identifier: MIT
// The web player in headless Chromium: writer-made movies picked through the page's file
// input show, frame by frame, exactly the colours `zmbtool decode` gives; the sound the
// page hands to Web Audio is exactly the decoded PCM; damaged movies leave a message and
// no script error. Also writes a screenshot of the page playing the demo.
//
// usage: node browser_test.mjs PAGE ZMBTOOL DEMO WORK_FOLDER
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';
import { canvasPixels, dropMovie, launch, openPage, pickBytes, pickMovie,
         waitForOpen } from './browser.mjs';
import { decodeReference, hostileMovies, makeTestMovies, referenceFrame,
         referenceSound } from './movies.mjs';

const [pagePath, zmbtool, demo, work] = process.argv.slice(2);
if (!work) {
  console.error('usage: node browser_test.mjs PAGE ZMBTOOL DEMO WORK_FOLDER');
  process.exit(2);
}

async function state(page) {
  return page.evaluate(() => window.zambrelTest.state());
}

async function message(page) {
  return page.evaluate(() => window.zambrelTest.message());
}

async function openAndStop(page, file) {
  await pickMovie(page, file);
  await waitForOpen(page);
  assert.equal(await message(page), '', 'opening ' + file);
  await page.keyboard.press('Escape');
  assert.equal((await state(page)).shown, 0, 'Escape stops on the first frame');
}

// Compares the canvas with the reference's frame `n`, and the frame the page says it shows.
async function expectFrame(page, reference, n) {
  const { shown, width, height } = await state(page);
  assert.equal(shown, n, 'the frame shown');
  const expected = referenceFrame(reference.raw, width, height, n);
  const actual = await canvasPixels(page);
  if (!actual.equals(expected)) {
    let first = 0;
    while (actual[first] === expected[first]) first++;
    const pixel = first >> 2;
    assert.fail(`frame ${n}: pixel (${pixel % width}, ${Math.floor(pixel / width)}) is ` +
                `${[...actual.subarray(4 * pixel, 4 * pixel + 4)]}, ` +
                `decoded ${[...expected.subarray(4 * pixel, 4 * pixel + 4)]}`);
  }
}

// Plays the loaded movie to its end at its own pace, then compares each track's handed
// samples with the decoded PCM.
async function expectHandedSound(page, reference, tracks) {
  await page.waitForFunction(() => window.zambrelTest.state().ended, null, { timeout: 60000 });
  for (const { track, channels, bits } of tracks) {
    const expected = referenceSound(reference.folder, track, channels, bits);
    for (let c = 0; c < channels; c++) {
      const encoded = await page.evaluate(([t, ch]) => window.zambrelTest.handedSound(t, ch),
                                          [track, c]);
      const bytes = Buffer.from(encoded, 'base64');
      const handed = new Float32Array(bytes.buffer, bytes.byteOffset, bytes.length / 4);
      assert.equal(handed.length, expected[c].length, `track ${track} channel ${c}: samples`);
      const first = handed.findIndex((v, i) => v !== expected[c][i]);
      assert.equal(first, -1, `track ${track} channel ${c}: first sample that differs`);
    }
  }
}

const tests = [];
const test = (name, body) => tests.push({ name, body });

test('every frame of a movie with changing palettes, stepped and sought', async (page, m) => {
  await openAndStop(page, m.mixed);
  for (let n = 0; n < 24; n++) {
    await expectFrame(page, m.mixedReference, n);
    await page.keyboard.press('Enter');
  }
  await page.keyboard.press('Escape');
  await expectFrame(page, m.mixedReference, 0);
  await page.keyboard.press('ArrowRight');  // one second: past the end, so the last frame
  await expectFrame(page, m.mixedReference, 23);
  await page.keyboard.press('Escape');
  for (let n = 0; n < 5; n++) await page.keyboard.press('Enter');
  await expectFrame(page, m.mixedReference, 5);
  await page.keyboard.press('ArrowLeft');
  await expectFrame(page, m.mixedReference, 0);
  // Frames that keep their palette were drawn as their changed rectangles only.
  assert.ok((await state(page)).partialFrames >= 10);
});

// Browsers handle a key ahead of events already queued: one pressed as soon as the movie is
// open comes before the page has heard that it can play, and must still reach the player and
// hold.
test('a movie stopped the moment it opens stays stopped, and steps from its first frame',
     async (page, m) => {
  await page.evaluate(() => {
    const player = document.getElementById('player');
    player.addEventListener('loadedmetadata', () => {
      player.dispatchEvent(new KeyboardEvent('keydown', { key: 'Escape' }));
    }, { once: true });
  });
  await pickMovie(page, m.mixed);
  await waitForOpen(page);
  assert.ok(await page.evaluate(() => document.activeElement === document.getElementById('player')),
            'the player has the keys once the movie is open');
  await page.waitForTimeout(300);
  assert.equal((await state(page)).playing, false);
  await expectFrame(page, m.mixedReference, 0);
  await page.keyboard.press('Enter');
  await expectFrame(page, m.mixedReference, 1);
});

test('a doubled movie is shown at its doubled height', async (page, m) => {
  await openAndStop(page, m.doubled);
  assert.equal((await state(page)).height, 32);
  for (let n = 0; n < 6; n++) {
    await expectFrame(page, m.doubledReference, n);
    await page.keyboard.press('Enter');
  }
});

test('the demo at frames reached by steps and by the arrow keys', async (page, m) => {
  await openAndStop(page, demo);
  for (let n = 0; n < 4; n++) {
    await expectFrame(page, m.demoReference, n);
    await page.keyboard.press('Enter');
  }
  for (const [key, frame] of [['ArrowRight', 19], ['Enter', 20], ['ArrowUp', 149],
                              ['ArrowLeft', 134], ['Enter', 135], ['ArrowDown', 0]]) {
    await page.keyboard.press(key);
    await expectFrame(page, m.demoReference, frame);
  }
});

test('three sound tracks in three formats are handed to Web Audio as decoded, through a pause',
     async (page, m) => {
  await page.evaluate(() => window.zambrelTest.catchUpEveryFrame());
  await pickMovie(page, m.mixed);
  await waitForOpen(page);
  assert.deepEqual((await state(page)).tracks, [0, 1, 3]);
  await page.waitForFunction(() => window.zambrelTest.state().shown >= 4);
  await page.keyboard.press('Space');
  const paused = await state(page);
  assert.equal(paused.playing, false);
  await page.waitForTimeout(300);
  assert.equal((await state(page)).shown, paused.shown, 'a paused movie stays on its frame');
  await page.keyboard.press('Space');
  await expectHandedSound(page, m.mixedReference, [{ track: 0, channels: 1, bits: 8 },
                                                   { track: 1, channels: 2, bits: 16 },
                                                   { track: 3, channels: 2, bits: 8 }]);
});

test('the demo dropped on the page plays with its sound (and leaves a screenshot)',
     async (page, m) => {
  await page.evaluate(() => window.zambrelTest.catchUpEveryFrame());
  await dropMovie(page, demo);
  await waitForOpen(page);
  assert.equal(await page.evaluate(() => document.getElementById('file').files[0].name),
               path.basename(demo), 'the file input names the dropped movie');
  await page.waitForFunction(() => window.zambrelTest.state().shown >= 45, null,
                             { timeout: 30000 });
  await page.screenshot({ path: path.join(work, 'screenshot-demo.png') });
  await expectHandedSound(page, m.demoReference, [{ track: 0, channels: 2, bits: 16 }]);
});

test('damaged movies show the library\'s reason and the page keeps working', async (page, m,
                                                                                     errors) => {
  const outcomes = [];
  const folder = path.join(work, 'hostile');
  fs.mkdirSync(folder, { recursive: true });
  for (const { name, data } of hostileMovies(fs.readFileSync(m.mixed))) {
    await pickBytes(page, name + '.zmb', data);
    await waitForOpen(page);
    // Whatever opens is played to its end or to the frame that cannot be decoded.
    await page.waitForFunction(() => window.zambrelTest.message() !== '' ||
                                     window.zambrelTest.state().ended, null, { timeout: 60000 });
    const text = await message(page);
    const notes = await page.evaluate(() => window.zambrelTest.notes());
    outcomes.push(name + ': ' + (text || 'played to the end') + (notes ? ' / ' + notes : ''));
    assert.deepEqual(errors, [], name);
    // Sound that zmbtool verify finds damaged is reported, not silently dropped.
    const file = path.join(folder, name + '.zmb');
    fs.writeFileSync(file, data);
    const verdict = spawnSync(zmbtool, ['verify', file], { encoding: 'utf8' }).stdout;
    if (!text && /sound/.test(verdict))
      assert.match(notes, /sound is damaged/, name + ': ' + verdict);
  }
  const refused = outcomes.filter((line) => !line.endsWith('played to the end'));
  for (const name of ['wrong-start', 'cut-0', 'size-0x48', 'size-5x48', 'frame-count-1000'])
    assert.ok(refused.some((line) => line.startsWith(name + ': ' + name + '.zmb: ')),
              name + ' is refused with a reason:\n' + outcomes.join('\n'));
  console.log('    ' + outcomes.join('\n    '));
  await openAndStop(page, m.mixed);
  await expectFrame(page, m.mixedReference, 0);
});

async function main() {
  fs.mkdirSync(work, { recursive: true });
  const movies = makeTestMovies(zmbtool, path.join(work, 'movies'));
  movies.mixedReference = decodeReference(zmbtool, movies.mixed, path.join(work, 'mixed'));
  movies.doubledReference = decodeReference(zmbtool, movies.doubled, path.join(work, 'doubled'));
  movies.demoReference = decodeReference(zmbtool, demo, path.join(work, 'demo'));

  const { browser, close } = await launch();
  let failures = 0;
  try {
    for (const { name, body } of tests) {
      const { page, errors } = await openPage(browser, pagePath);
      try {
        await body(page, movies, errors);
        assert.deepEqual(errors, [], 'script errors');
        console.log('ok   ' + name);
      } catch (error) {
        failures++;
        console.log('FAIL ' + name + '\n     ' + String(error.message).replace(/\n/g, '\n     '));
      }
      await page.close();
    }
  } finally {
    await close();
  }
  console.log(failures ? failures + ' of ' + tests.length + ' browser tests failed'
                       : 'all ' + tests.length + ' browser tests passed');
  console.log('screenshot: ' + path.join(work, 'screenshot-demo.png'));
  process.exit(failures ? 1 : 0);
}

main().catch((error) => {
  console.error(error);
  process.exit(1);
});
