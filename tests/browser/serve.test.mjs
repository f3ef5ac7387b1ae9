// The page of `vexori-sim serve` in a real browser, strokes drawn with the mouse far from every
// threshold (a flick of 60 px in 150 ms, a tap of 80 ms): outcomes are asserted, never times.
// VEXORI_SCREENSHOTS=docs/img also writes pictures of the page with a stroke drawn.
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import http from 'node:http';
import path from 'node:path';
import { after, before, describe, it } from 'node:test';
import { draw, launchChromium, line, request, root, sim, startServe, stopServe } from './serve.mjs';

const shots = process.env.VEXORI_SCREENSHOTS && path.resolve(root, process.env.VEXORI_SCREENSHOTS);
const flick = line([120, 200], [120, 140], 150);
const tap = [[120, 150, 0], [120, 150, 80]];

let browser;  // one for all, each suite with a server of its own
before(async () => (browser = await launchChromium()));
after(async () => browser?.closeAll());

describe('the page', () => {
  let serve, page, tab;
  const live = [];  // every stroke's outcome, in order
  const screen = async () => (await request(serve.port, 'GET', `/api/screen.png?tab=${tab}`)).body;
  const stroke = async points => {
    const a = await draw(page, points);
    live.push(a.outcome);
    assert.equal(await page.textContent('#outcome'), a.text);
    return a.outcome;
  };
  const shoot = async name => shots && page.screenshot({ path: path.join(shots, name) });

  before(async () => {
    serve = await startServe();
    page = await browser.newPage();
    await page.goto(serve.url);
    await page.waitForSelector('body[data-ready="1"]');
    tab = new URL(await page.getAttribute('#kept', 'href'), serve.url).searchParams.get('tab');
  });
  after(async () => {
    await page?.close();
    if (serve) await stopServe(serve);
  });

  // The page shows a switch as the scenario's registry has it: the default scenario starts
  // with the gesture function on.
  it('the panel shows the gesture function on', async () => {
    assert.equal(await page.isChecked('#set-Activate'), true);
  });

  it('the switch turned off in the panel lets the next flick pass through', async () => {
    const off = page.waitForResponse(r => r.url().includes('/api/setting')
      && JSON.parse(r.request().postData()).value === 0);
    await page.check('#set-Activate');  // written on, whatever the panel showed
    await page.uncheck('#set-Activate');
    assert.equal((await off).status(), 200);
    const o = await stroke(flick);
    assert.equal(o.decision, 'passed through');
    assert.equal(o.reason, 'gesture function off');
    const on = page.waitForResponse(r => r.url().includes('/api/setting'));
    await page.check('#set-Activate');
    assert.equal((await on).status(), 200);
  });

  it('a flick up the list scrolls it, and a tap passes through', async () => {
    const before = await screen();
    const o = await stroke(flick);
    assert.equal(o.decision, 'handed over', JSON.stringify(o));
    assert.match(o.did, /scroll forward with momentum/);
    assert.ok(o.scrolls[0].after > o.scrolls[0].before, JSON.stringify(o.scrolls));
    assert.ok(!before.equals(await screen()), 'the screen did not change');
    await shoot('serve-list-flick.png');
    const t = await stroke(tap);
    assert.equal(t.decision, 'passed through');
    assert.equal(t.reason, 'tap at the pen-up');
  });

  it('a stroke to the left in the browser turns its page', async () => {
    const shown = page.waitForResponse(r => r.url().includes('/api/screen.png'));
    await page.selectOption('#window', 'browser');
    await shown;
    const o = await stroke(line([200, 150], [60, 165], 150));
    assert.match(o.did, /page navigation leftward/, JSON.stringify(o));
    // Its pages draw alike on the screen: the outcome line tells which is shown.
    assert.deepEqual(o.effects, ['page 4 of 5']);
    assert.match(await page.textContent('#outcome'), /page 4 of 5/);
    await shoot('serve-browser.png');
  });

  it('what was drawn, downloaded, replays with `vexori-sim run` to the same outcomes', async () => {
    const file = path.join(serve.tmp, '..', `vexori-drawn-${process.pid}.scn`);
    const [download] = await Promise.all([page.waitForEvent('download'), page.click('#kept')]);
    await download.saveAs(file);
    let out;
    try {
      out = execFileSync(sim, ['run', file, '--jsonl', '-'], { encoding: 'utf8' });
    } finally {
      fs.rmSync(file, { force: true });
    }
    const again = out.split('\n').filter(l => l.includes('"kind":"outcome"')).map(l => JSON.parse(l));
    assert.equal(again.length, live.length);
    const fields = ['t', 'end', 'decision', 'reason', 'did', 'codes', 'scrolls', 'effects'];
    again.forEach((o, i) => {
      for (const f of fields) assert.deepEqual(o[f], live[i][f], `stroke ${i}: ${f}`);
    });
  });
});

describe('requests the server refuses', () => {
  let serve;
  before(async () => (serve = await startServe()));
  after(async () => serve && (await stopServe(serve)));
  const points = JSON.stringify({ points: flick });

  it('a foreign Host or Origin is refused; bad JSON is a 400 and the device goes on', async () => {
    const host = `evil.example:${serve.port}`;
    for (const headers of [{ Host: host }, { Origin: 'http://evil.example' },
      { Origin: `http://127.0.0.1:${serve.port + 1}` }]) {
      const r = await request(serve.port, 'POST', '/api/stroke', { headers, body: points });
      assert.equal(r.status, 403, JSON.stringify(headers));
    }
    assert.equal((await request(serve.port, 'GET', '/', { headers: { Host: host } })).status, 403);
    const bad = await request(serve.port, 'POST', '/api/stroke', { body: '{"points": [[1,' });
    assert.equal(bad.status, 400);
    assert.match(JSON.parse(bad.body).error, /not JSON/);
    const good = await request(serve.port, 'POST', '/api/stroke', {
      headers: { Origin: `http://localhost:${serve.port}` }, body: points,
    });
    assert.equal(good.status, 200, good.body);
    const o = JSON.parse(good.body).outcome;
    assert.equal(o.decision, 'handed over');
    assert.ok(o.scrolls[0].after > 0);
  });
});

// A page of another origin on this machine posts a stroke to the server, not caring for the
// answer (as a page that means harm would): the browser sends its Origin, and the device is not
// driven.
describe('a page elsewhere', () => {
  let serve, elsewhere;
  before(async () => {
    serve = await startServe();
    elsewhere = http.createServer((req, res) => res.end(`<script>fetch("${serve.url}api/stroke",
      {method: "POST", mode: "no-cors", body: ${JSON.stringify(JSON.stringify({ points: flick }))}})
      </script>`));
    await new Promise(done => elsewhere.listen(0, '127.0.0.1', done));
  });
  after(async () => {
    elsewhere?.close();
    if (serve) await stopServe(serve);
  });

  it('is refused', async () => {
    const page = await browser.newPage();
    const answer = page.waitForResponse(r => r.url().startsWith(serve.url));
    await page.goto(`http://127.0.0.1:${elsewhere.address().port}/`);
    assert.equal((await answer).status(), 403);
    const kept = await request(serve.port, 'GET', '/api/kept.scn');
    assert.doesNotMatch(kept.body.toString(), /^sample /m);
  });
});
