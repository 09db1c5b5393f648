// Serves the built site on 127.0.0.1: files only, from one folder, with the
// types a browser needs to run a module script and a worklet.
//
//   node web/tools/serve.mjs SITE_DIR [PORT]     (PORT 0: any free port)
import fs from 'node:fs';
import http from 'node:http';
import path from 'node:path';
import { pathToFileURL } from 'node:url';

const TYPES = {
  '.html': 'text/html; charset=utf-8',
  '.js': 'text/javascript; charset=utf-8',
  '.css': 'text/css; charset=utf-8',
  '.json': 'application/json; charset=utf-8',
  '.map': 'application/json; charset=utf-8',
  '.wasm': 'application/wasm',
  '.png': 'image/png',
};

// The file a request path names inside root, or null outside it.
export function resolveRequest(root, url) {
  let name;
  try {
    name = decodeURIComponent(new URL(url, 'http://127.0.0.1').pathname);
  } catch {
    return null;
  }
  if (name.endsWith('/')) name += 'index.html';
  const file = path.resolve(root, `.${path.posix.normalize(name)}`);
  return file === root || file.startsWith(root + path.sep) ? file : null;
}

// Starts serving root; resolves to {server, url} once it listens.
export function serve(root, port = 0) {
  const base = path.resolve(root);
  const server = http.createServer((request, response) => {
    const file = resolveRequest(base, request.url);
    if (request.method !== 'GET' && request.method !== 'HEAD') return reply(response, 405, 'method not allowed');
    if (!file) return reply(response, 404, 'not found');
    fs.readFile(file, (error, body) => {
      if (error) return reply(response, 404, 'not found');
      response.writeHead(200, { 'content-type': TYPES[path.extname(file)] ?? 'application/octet-stream', 'cache-control': 'no-cache' });
      response.end(request.method === 'HEAD' ? undefined : body);
    });
  });
  return new Promise((resolve, reject) => {
    server.once('error', reject);
    server.listen(port, '127.0.0.1', () => resolve({ server, url: `http://127.0.0.1:${server.address().port}/` }));
  });
}

function reply(response, status, text) {
  response.writeHead(status, { 'content-type': 'text/plain; charset=utf-8' });
  response.end(text);
}

if (import.meta.url === pathToFileURL(process.argv[1]).href) {
  const [root, port] = process.argv.slice(2);
  try {
    const { url } = await serve(root, Number(port ?? 0));
    console.log(`Quorvel playground: ${url}`);
    console.log('Press Ctrl-C to stop.');
  } catch (error) {
    console.error(`cannot serve on 127.0.0.1 port ${port}: ${error.message}`);
    process.exit(1);
  }
}
