// SPDX-License-Identifier: MIT
// Debian's Chromium with a fresh profile, for the browser tests and the benchmark: headless,
// or with windows on the X display given, where a tab put behind another really hides.
import { spawn } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { pathToFileURL } from 'node:url';
import { chromium } from 'playwright-core';

const TICKS_PER_SECOND = 100;  // Linux's USER_HZ, what /proc counts in

const CHROMIUM = process.env.CHROMIUM || '/usr/bin/chromium';
const ARGS = ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
              '--disable-background-networking', '--disable-component-update', '--disable-sync',
              '--autoplay-policy=no-user-gesture-required'];

export async function launch({ display = null } = {}) {
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'zambrel-chromium-'));
  const browser = display ? await launchWithWindows(profile, display)
    : await chromium.launchPersistentContext(profile, {
      executablePath: CHROMIUM, headless: true, viewport: { width: 1100, height: 760 },
      args: ['--headless', ...ARGS],
    });
  return {
    browser,
    async close() {
      await browser.close();
      if (browser.chromiumProcess) await browser.chromiumProcess.ended;
      fs.rmSync(profile, { recursive: true, force: true, maxRetries: 5 });
    },
  };
}

// The driver's own launch keeps every page of its making in front (it emulates focus by
// holding each page as if it were being captured) and stops Chromium from slowing hidden
// pages down: here Chromium is started as a user would start it and the driver only
// attaches, leaving the pages it finds as the browser has them.
async function launchWithWindows(profile, display) {
  const child = spawn(CHROMIUM, [...ARGS, '--remote-debugging-port=0', '--user-data-dir=' + profile,
                                 '--window-size=1100,800', 'about:blank'],
                      { env: { ...process.env, DISPLAY: display },
                        stdio: ['ignore', 'ignore', 'pipe'] });
  const ended = new Promise((resolve) => child.once('exit', resolve));
  const endpoint = await new Promise((resolve, reject) => {
    let text = '';
    child.stderr.on('data', (data) => {
      text += data;
      const found = /DevTools listening on (ws:\/\/\S+)/.exec(text);
      if (found) resolve(found[1]);
    });
    child.once('exit', () => reject(new Error('Chromium ended before it took connections: ' +
                                              text)));
  });
  child.stderr.resume();
  const connected = await chromium.connectOverCDP(endpoint, { noDefaults: true });
  const context = connected.contexts()[0];
  context.chromiumProcess = { ended };
  // Closed as a user closes it, so that none of its processes goes on writing to the profile.
  context.close = async () => {
    try {
      await (await connected.newBrowserCDPSession()).send('Browser.close');
    } catch (refused) {
      child.kill();
    }
    await connected.close();
  };
  return context;
}

// The CPU seconds each of this process's descendants (Chromium's processes) has used, by
// process id. The difference of two readings is what they used in between; a process that
// ended in between is missing from the second, and with it its last moments.
export function chromiumCpu() {
  const children = new Map(), used = new Map();
  for (const pid of fs.readdirSync('/proc').filter((name) => /^\d+$/.test(name))) {
    let stat;
    try {
      stat = fs.readFileSync(`/proc/${pid}/stat`, 'utf8');
    } catch (gone) {
      continue;
    }
    // After the name in parentheses: state, parent, ... user time and system time in ticks.
    const fields = stat.slice(stat.lastIndexOf(')') + 2).split(' ');
    if (!children.has(fields[1])) children.set(fields[1], []);
    children.get(fields[1]).push(pid);
    used.set(pid, (Number(fields[11]) + Number(fields[12])) / TICKS_PER_SECOND);
  }
  const tree = new Map();
  const pending = [...(children.get(String(process.pid)) || [])];
  while (pending.length > 0) {
    const pid = pending.pop();
    tree.set(pid, used.get(pid));
    pending.push(...(children.get(pid) || []));
  }
  return tree;
}

export function cpuBetween(before, after) {
  let seconds = 0;
  for (const [pid, used] of after) seconds += used - (before.get(pid) || 0);
  return seconds;
}

// Opens the page from file:// in test mode and waits for its decoder; collects every
// script error and console error the page reports.
export async function openPage(browser, pagePath) {
  const page = await browser.newPage();
  const errors = [];
  page.on('pageerror', (error) => errors.push('page error: ' + error.message));
  page.on('console', (message) => {
    if (message.type() === 'error') errors.push('console error: ' + message.text());
  });
  await page.goto(pathToFileURL(pagePath).href + '?test');
  if (!(await page.evaluate(() => window.zambrelTest.ready())))
    throw new Error('the page did not load its decoder: ' +
                    await page.evaluate(() => window.zambrelTest.message()));
  return { page, errors };
}

// Picks a file through the page's own file input, as a user would.
export async function pickMovie(page, file) {
  await page.setInputFiles('#file', file);
}

// Picks bytes that exist only in memory, under a name.
export async function pickBytes(page, name, bytes) {
  await page.setInputFiles('#file', { name, mimeType: 'application/octet-stream',
                                      buffer: Buffer.from(bytes) });
}

// Drops a file on the page, as a user dragging it from a file manager would.
export async function dropMovie(page, file) {
  const transfer = await page.evaluateHandle(([data, name]) => {
    const bytes = Uint8Array.from(atob(data), (c) => c.charCodeAt(0));
    const dropped = new DataTransfer();
    dropped.items.add(new File([bytes], name));
    return dropped;
  }, [fs.readFileSync(file).toString('base64'), path.basename(file)]);
  await page.dispatchEvent('body', 'dragover', { dataTransfer: transfer });
  await page.dispatchEvent('body', 'drop', { dataTransfer: transfer });
}

// Waits until the page has opened a movie (or shown why it could not).
export async function waitForOpen(page) {
  await page.waitForFunction(() => window.zambrelTest.state() !== null ||
                                   window.zambrelTest.message() !== '');
}

// The canvas as RGBA bytes.
export async function canvasPixels(page) {
  const encoded = await page.evaluate(() => {
    const canvas = document.querySelector('zambrel-player').shadowRoot.querySelector('canvas');
    const data = canvas.getContext('2d').getImageData(0, 0, canvas.width, canvas.height).data;
    let text = '';
    for (let i = 0; i < data.length; i += 0x8000)
      text += String.fromCharCode.apply(null, data.subarray(i, i + 0x8000));
    return btoa(text);
  });
  return Buffer.from(encoded, 'base64');
}
