// Serves the page's files from one folder: GET and HEAD only, no listing, nothing
// outside the folder.
import { readFile } from 'node:fs/promises';
import path from 'node:path';

const kTypes = {
  '.html': 'text/html; charset=utf-8',
  '.js': 'text/javascript; charset=utf-8',
  '.css': 'text/css; charset=utf-8',
  '.png': 'image/png',
  '.svg': 'image/svg+xml',
};

export function staticFiles(root) {
  const base = path.resolve(root);
  return async (request, response, pathname) => {
    if (request.method !== 'GET' && request.method !== 'HEAD') {
      response.writeHead(405, { Allow: 'GET, HEAD' }).end();
      return;
    }
    const file = path.resolve(base, `.${pathname === '/' ? '/index.html' : pathname}`);
    const type = kTypes[path.extname(file)];
    if (!file.startsWith(base + path.sep) || !type) {
      response.writeHead(404).end('not found');
      return;
    }
    try {
      const body = await readFile(file);
      response.writeHead(200, { 'Content-Type': type, 'Cache-Control': 'no-cache' });
      response.end(request.method === 'HEAD' ? undefined : body);
    } catch {
      response.writeHead(404).end('not found');
    }
  };
}
