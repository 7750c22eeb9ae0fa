// Audits the page with Lighthouse 12.2.3 (mobile: a mid-range phone on slow 4G, its CPU
// slowed 4 times, all simulated) in Debian's headless Chromium, served from a folder on
// 127.0.0.1, and prints the four scores and the figures that weigh most, as medians of
// several runs. Beside it, in turn, it audits a floor: a page that only makes a WebGL
// context for a canvas of the page's size, since on a machine without a GPU the first
// context of a browser costs its main thread a long task that no page can avoid.
// Usage: node lighthouse.mjs [--runs N] [--facts CAMERA_POINTS_TOOL] PAGE_DIR...
//   (npx fetches Lighthouse once; the floor's canvas takes the program's window size from
//   the camera tool's facts, build-web/native/camera_points unless told.)
import {execFile} from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import {promisify} from 'node:util';
import {median, readFacts, serve} from './engines.mjs';

const LIGHTHOUSE = 'lighthouse@12.2.3';
// SwiftShader in the GPU process, as the browser check draws: without it this Chromium
// draws in a way that blocks the page's main thread for every frame.
const CHROMIUM_FLAGS = '--headless=new --no-sandbox --use-angle=swiftshader ' +
  '--enable-unsafe-swiftshader --disable-background-networking --no-first-run';
const args = process.argv.slice(2);
const option = (name, fallback) => {
  const at = args.indexOf(name);
  return at >= 0 ? args.splice(at, 2)[1] : fallback;
};
const runs = Number(option('--runs', 3));
const {width, height} = readFacts(option('--facts', 'build-web/native/camera_points')).window;

const floor = fs.mkdtempSync(path.join(os.tmpdir(), 'orlemaz-floor-'));
fs.writeFileSync(path.join(floor, 'index.html'), `<!DOCTYPE html>
<html lang="en"><head><meta charset="utf-8"><meta name="viewport" content="width=device-width">
<meta name="description" content="A WebGL context and nothing else."><title>floor</title>
<link rel="icon" href="data:,"></head><body><p>A WebGL context</p>
<canvas width="${width}" height="${height}"></canvas><script>
addEventListener('load', () => document.querySelector('canvas').getContext('webgl'));
</script></body></html>`);

// Runs Lighthouse in a process of its own, while this one serves the page.
async function audit(url) {
  const {stdout} = await promisify(execFile)('npx', ['--yes', LIGHTHOUSE, url, '--quiet',
    '--output=json', '--only-categories=performance,accessibility,best-practices,seo',
    `--chrome-flags=${CHROMIUM_FLAGS}`],
    {env: {...process.env, CHROME_PATH: process.env.CHROMIUM || '/usr/bin/chromium'},
     maxBuffer: 1 << 28});
  const report = JSON.parse(stdout);
  const score = (name) => Math.round(report.categories[name].score * 100);
  const value = (name) => report.audits[name].numericValue;
  return {performance: score('performance'), accessibility: score('accessibility'),
          'best practices': score('best-practices'), seo: score('seo'),
          'total blocking time, ms': value('total-blocking-time'),
          'first contentful paint, ms': value('first-contentful-paint'),
          'largest contentful paint, ms': value('largest-contentful-paint'),
          'main-thread work, ms': value('mainthread-work-breakdown'),
          'bytes loaded': value('total-byte-weight')};
}

const folders = [...args, floor];
const results = folders.map(() => []);
for (let run = 0; run < runs; run++) {
  for (const [i, folder] of folders.entries()) {
    const server = await serve(folder);
    try {
      results[i].push(await audit(`http://127.0.0.1:${server.address().port}/`));
    } finally {
      server.close();
    }
  }
}
for (const [i, folder] of folders.entries()) {
  const name = folder === floor ? 'floor (a WebGL context alone)' : folder;
  console.log(`${name}, medians of ${runs}:`);
  for (const key of Object.keys(results[i][0])) {
    console.log(`  ${key}: ${Math.round(median(results[i].map((r) => r[key])))}`);
  }
}
fs.rmSync(floor, {recursive: true, force: true});
