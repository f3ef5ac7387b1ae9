// What the browser tests share: `vexori-sim serve` on a free port with a temporary folder of its
// own, Debian's chromium, strokes drawn with the mouse at timed steps, and plain HTTP requests.
import assert from 'node:assert/strict';
import { spawn } from 'node:child_process';
import fs from 'node:fs';
import http from 'node:http';
import net from 'node:net';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { chromium } from 'playwright-core';

export const root = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '../..');
export const sim = process.env.VEXORI_SIM || path.join(root, 'build/vexori-sim');

const sleep = ms => new Promise(done => setTimeout(done, ms));
// A bound on a wait that keeps no test run going.
const bound = ms => new Promise(done => setTimeout(done, ms).unref());

function freePort() {
  return new Promise((done, fail) => {
    const s = net.createServer().once('error', fail);
    s.listen(0, '127.0.0.1', () => {
      const { port } = s.address();
      s.close(() => done(port));
    });
  });
}

// `vexori-sim serve --port P`, in a process group of its own (its workers too) and with its own
// temporary folder, answering once it listens.
export async function startServe() {
  const port = await freePort();
  const tmp = fs.mkdtempSync(path.join(os.tmpdir(), 'vexori-browser-'));
  const proc = spawn(sim, ['serve', '--port', String(port)], {
    env: { ...process.env, TMPDIR: tmp },
    detached: true,
    stdio: ['ignore', 'pipe', 'inherit'],
  });
  const exited = new Promise(done => proc.once('exit', (code, signal) => done({ code, signal })));
  let out = '';
  proc.stdout.on('data', d => (out += d));
  while (!out.includes('serving on')) {
    const gone = await Promise.race([exited, sleep(50)]);
    if (gone) throw new Error(`vexori-sim serve ended before it listened: ${JSON.stringify(gone)}`);
  }
  return { port, tmp, proc, exited, url: `http://127.0.0.1:${port}/` };
}

// SIGINT ends it: nothing of the server or its workers is left, in the process table or in the
// temporary folder.
export async function stopServe(s) {
  s.proc.kill('SIGINT');
  const end = await Promise.race([s.exited, bound(20000).then(() => null)]);
  assert.ok(end, 'vexori-sim serve did not end within 20 s of SIGINT');
  assert.throws(() => process.kill(-s.proc.pid, 0), { code: 'ESRCH' }, 'a worker outlived it');
  assert.deepEqual(fs.readdirSync(s.tmp), [], 'left in its temporary folder');
  fs.rmSync(s.tmp, { recursive: true, force: true });
  return end;
}

// Debian's chromium with a fresh profile; the machine's network is closed, so nothing of its own
// is fetched.
export async function launchChromium() {
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'vexori-chromium-'));
  const context = await chromium.launchPersistentContext(profile, {
    executablePath: '/usr/bin/chromium',
    headless: true,
    viewport: { width: 1160, height: 720 },
    args: ['--no-sandbox', '--headless', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync'],
  });
  context.closeAll = async () => {
    await context.close();
    fs.rmSync(profile, { recursive: true, force: true });
  };
  return context;
}

// Points every `step` ms on the line from `from` to `to` ([x, y] screen pixels) over `ms`. A mouse
// move takes the browser 10 to 20 ms under load: steps of 30 ms keep the stroke near its time.
export function line(from, to, ms, step = 30) {
  const pts = [];
  for (let t = 0; t <= ms; t += step) {
    const f = t / ms;
    pts.push([Math.round(from[0] + (to[0] - from[0]) * f),
      Math.round(from[1] + (to[1] - from[1]) * f), t]);
  }
  return pts;
}

// Draws [[x, y, ms], ...] (screen pixels of the upright screen) with the mouse on the page's
// screen, each move at its time, and answers the stroke's answer from the server once the page
// has shown the screen after it.
export async function draw(page, points) {
  const box = await page.locator('#pad').boundingBox();
  const k = box.width / 240;
  const at = ([x, y]) => [box.x + x * k, box.y + y * k];
  const answer = page.waitForResponse(r => r.url().includes('/api/stroke'));
  const screen = page.waitForResponse(r => r.url().includes('/api/screen.png'));
  await page.mouse.move(...at(points[0]));
  const t0 = Date.now();
  await page.mouse.down();
  for (const p of points.slice(1)) {
    await sleep(t0 + p[2] - Date.now());
    await page.mouse.move(...at(p));
  }
  await page.mouse.up();
  const r = await answer;
  assert.equal(r.status(), 200, await r.text());
  await screen;
  await page.waitForFunction(() => document.getElementById('screen').complete);
  return r.json();
}

// A plain HTTP request with the headers given, answering its status and body (a Buffer).
export function request(port, method, url, { headers = {}, body } = {}) {
  return new Promise((done, fail) => {
    const req = http.request({ host: '127.0.0.1', port, method, path: url, headers }, res => {
      const parts = [];
      res.on('data', d => parts.push(d));
      res.on('end', () => done({ status: res.statusCode, body: Buffer.concat(parts) }));
    });
    req.on('error', fail);
    req.end(body);
  });
}
