// SPDX-License-Identifier: MIT
// Frames decoded and drawn per second by the web player in headless Chromium, for the demo
// and for a 640 x 480 movie of full blocks only, and the size of the page with its module.
// Figures to read, not a timed test.
//
// usage: node bench.mjs PAGE ZMBTOOL DEMO WORK_FOLDER
import fs from 'node:fs';
import path from 'node:path';
import zlib from 'node:zlib';
import { launch, openPage, pickMovie, waitForOpen } from './browser.mjs';
import { makeFullMovie } from './movies.mjs';

const [pagePath, zmbtool, demo, work] = process.argv.slice(2);
if (!work) {
  console.error('usage: node bench.mjs PAGE ZMBTOOL DEMO WORK_FOLDER');
  process.exit(2);
}

const RUNS = 2;

async function framesPerSecond(browser, movie) {
  const { page, errors } = await openPage(browser, pagePath);
  await pickMovie(page, movie);
  await waitForOpen(page);
  let best = null;
  for (let run = 0; run < RUNS; run++) {
    const result = await page.evaluate(() => window.zambrelTest.benchmark(2));
    if (!best || result.frames / result.seconds > best.frames / best.seconds) best = result;
  }
  if (errors.length > 0) throw new Error(errors.join('\n'));
  await page.close();
  return best;
}

function pageSize() {
  const folder = path.dirname(pagePath);
  let plain = 0, compressed = 0;
  for (const file of ['index.html', 'player.js', 'zambrel.js']) {
    const bytes = fs.readFileSync(path.join(folder, file));
    plain += bytes.length;
    compressed += zlib.gzipSync(bytes, { level: 9 }).length;
  }
  return { plain, compressed };
}

async function main() {
  const full = makeFullMovie(zmbtool, path.join(work, 'movies'));
  const { browser, close } = await launch();
  try {
    for (const [name, movie] of [['demo (320x240)', demo], ['640x480 full blocks', full]]) {
      const { frames, seconds } = await framesPerSecond(browser, movie);
      console.log(`${name}: ${(frames / seconds).toFixed(1)} frames decoded and drawn a second ` +
                  `(${frames} frames in ${seconds.toFixed(2)} s, best of ${RUNS} runs)`);
    }
  } finally {
    await close();
  }
  const { plain, compressed } = pageSize();
  console.log(`page with its module: ${(plain / 1024).toFixed(1)} KiB ` +
              `(${(compressed / 1024).toFixed(1)} KiB gzipped)`);
}

main().catch((error) => {
  console.error(error);
  process.exit(1);
});
