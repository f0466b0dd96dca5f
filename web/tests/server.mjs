// SPDX-License-Identifier: MIT
// A local HTTP server for the browser tests: files from a few folders, a path that sends a
// movie slowly (to see it play before it has all arrived) and one that breaks off halfway.
import fs from 'node:fs';
import http from 'node:http';
import path from 'node:path';
import zlib from 'node:zlib';

const types = { '.html': 'text/html', '.js': 'text/javascript', '.mjs': 'text/javascript',
                '.wasm': 'application/wasm', '.css': 'text/css', '.png': 'image/png',
                '.webm': 'video/webm' };

// `roots` maps a first path part to a folder: { package: '/x/pkg', movies: '/y' }.
// /slow/NAME sends movies/NAME in pieces of `piece` bytes every `delay` ms; /gzip/NAME does
// so compressed in transit, in chunks, without a length, as many servers send; /broken/NAME
// sends its first half and then drops the connection.
// Every path asked for is kept in `requests`, in order.
export async function serve(roots, { piece = 16384, delay = 40 } = {}) {
  const requests = [];
  const server = http.createServer((request, response) => {
    const url = new URL(request.url, 'http://localhost');
    requests.push(url.pathname);
    const [, first, ...rest] = decodeURIComponent(url.pathname).split('/');
    const gzip = first === 'gzip', slow = first === 'slow' || gzip, broken = first === 'broken';
    let folder = roots[slow || broken ? 'movies' : first], parts = rest;
    if (!folder && roots['']) [folder, parts] = [roots[''], [first, ...rest]];
    let file = folder && path.join(folder, ...parts);
    if (file && fs.existsSync(file) && fs.statSync(file).isDirectory())
      file = path.join(file, 'index.html');
    if (!file || !file.startsWith(folder) || !fs.existsSync(file) || !fs.statSync(file).isFile()) {
      response.writeHead(404, { 'Content-Type': 'text/plain' });
      response.end('not here');
      return;
    }
    const type = types[path.extname(file)] || 'application/octet-stream';
    let bytes = fs.readFileSync(file);
    if (gzip) {
      bytes = zlib.gzipSync(bytes);
      response.writeHead(200, { 'Content-Type': type, 'Content-Encoding': 'gzip',
                                'Cache-Control': 'no-store' });
    } else {
      response.writeHead(200, { 'Content-Type': type, 'Content-Length': bytes.length,
                                'Cache-Control': 'no-store' });
    }
    if (broken) {
      const drop = () => setTimeout(() => request.socket.destroy(), 50);
      response.write(bytes.subarray(0, bytes.length >> 1), drop);
      return;
    }
    if (!slow) {
      response.end(bytes);
      return;
    }
    let at = 0;
    const next = () => {
      if (response.destroyed) return;
      const end = Math.min(bytes.length, at + piece);
      response.write(bytes.subarray(at, end));
      at = end;
      if (at < bytes.length) setTimeout(next, delay);
      else response.end();
    };
    next();
  });
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  return { url: 'http://127.0.0.1:' + server.address().port, requests, close: () => new Promise((resolve) => {
    server.closeAllConnections();
    server.close(resolve);
  }) };
}
