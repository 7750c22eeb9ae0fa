// The page benchmark: two built pages (A and B), the same-triangle ceiling (ceiling.html)
// and one of the page's own frames replayed from static buffers (replay.html) take turns
// in one browser engine, each in a window of its own for its turn, so that all four see the
// same load on the machine. For each it prints medians over the turns with their spread:
// frames a second uncapped (every frame run as soon as it is asked for, each finished before
// the next) and at the display's pace; main-thread milliseconds a frame (the time inside
// the frame's callback), at the display's pace and with the CPU slowed four times
// (Chromium's DevTools protocol); frames later than one and a half of the display's
// intervals; and JavaScript heap allocated a frame once the page is warm (Chromium: V8's
// sampling heap profiler, collected objects included). It counts what each page asks of
// WebGL a frame through bench_probe.js, and then prints B/A and each page against each
// ceiling. Pages are opened and driven through the browser tests' toolkit (engines.mjs).
// Usage: node bench.mjs --engine chromium|firefox|webkit [--turns N] [--variants yes]
//          --ball LABEL --size WIDTHxHEIGHT A_PAGE_DIR B_PAGE_DIR WORK_DIR
// WORK_DIR takes the ceiling pages and the captured frame (frame.json, captured from page B,
// whose layer bench_probe.js reads, in the first engine run and kept for the others).
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import {launchEngine, median, openProgram, serve, startVirtualDisplay, waitFor} from '../test/engines.mjs';

const options = {'--engine': 'chromium', '--turns': '5', '--ball': null, '--size': '680x480', '--variants': 'no'};
const positional = [];
for (let i = 2; i < process.argv.length; i++) {
  if (process.argv[i] in options) options[process.argv[i]] = process.argv[++i];
  else positional.push(process.argv[i]);
}
const engineName = options['--engine'];
const turns = Number(options['--turns']);
const [width, height] = options['--size'].split('x').map(Number);
const [pageA, pageB, work] = positional;
const MEASURE_MS = 2000; // each figure's time in a turn

// The ceiling pages and the probed pages (the page's own index.html with the probe first).
const here = path.dirname(new URL(import.meta.url).pathname);
for (const [from, to] of [['../test/ceiling.html', 'ceiling.html'], ['replay.html'], ['bench_probe.js'], ['../webgl_program.js', 'webgl_program.js']]) {
  fs.copyFileSync(path.join(here, from), path.join(work, to || from));
}
fs.writeFileSync(path.join(work, 'blank.html'), '<!DOCTYPE html><title>blank</title>');
const probed = (dir, name) => {
  const folder = path.join(work, `probed-${name}`);
  fs.mkdirSync(folder, {recursive: true});
  const page = fs.readFileSync(path.join(dir, 'index.html'), 'utf8');
  fs.writeFileSync(path.join(folder, 'index.html'), page.replace('<head>', '<head><script src="bench_probe.js"></script>'));
  return folder;
};
const origin = async (...dirs) => `http://127.0.0.1:${(await serve(...dirs)).address().port}`;
const pages = {
  A: {url: `${await origin(pageA)}/index.html`, probed: `${await origin(probed(pageA, 'A'), pageA, work)}/index.html`},
  B: {url: `${await origin(pageB)}/index.html`, probed: `${await origin(probed(pageB, 'B'), pageB, work)}/index.html`},
};
const ceilings = await origin(work);
pages.ceiling = {url: `${ceilings}/ceiling.html`};
pages.replay = {url: `${ceilings}/replay.html`};
// With --variants yes, page B also with its uploads removed, and with the camera turning
// every frame, so that every vertex is placed, lit and sent again (bench_probe.js).
const variants = options['--variants'] === 'yes' ? ['no-upload', 'turning'] : [];
for (const variant of variants) pages[`B ${variant}`] = {url: `${pages.B.probed}?variant=${variant}`};
const columns = ['A', 'B', 'ceiling', 'replay', ...variants.map((v) => `B ${v}`)];

const display = await startVirtualDisplay();
const engine = await launchEngine(engineName, {width: width + 200, height: height + 200}, display);
console.log(`# ${engineName}: ${await engine.version()}; ${turns} turns; load ${os.loadavg().map((l) => l.toFixed(1)).join(' ')}`);

// Installed in each page once it has loaded, over the shared frame hook: times every
// frame's callback at the display's pace. Pages ask through window.requestAnimationFrame,
// looked up at every call.
function timingHook() {
  const request = window.requestAnimationFrame;
  window.benchTimes = null; // {ms: [], at: []} while a figure is measured
  window.benchFrameCount = 0;
  window.requestAnimationFrame = (frame) => request((time) => {
    const times = window.benchTimes, start = performance.now();
    window.benchFrameCount++;
    frame(time);
    if (times) times.ms.push(performance.now() - start), times.at.push(start);
  });
}

// Opens url in a window of its own, with the canvas held at the benchmark's size; for the
// program's pages, waits for it to run and puts the ball on through the menu, so that
// every frame differs.
async function open(url, program) {
  const p = await openProgram(engine, url, {viewport: {width: width + 200, height: height + 200},
                                            pinned: {width, height}, newPage: {type: 'window'}});
  if (program) {
    // An older page may not show the pixel-ratio limit that running() measures against.
    await p.waitForStatus('is running', 60000);
    await p.measure(false);
    await p.chooseFromMenu(p.at([width / 2, height / 2]), options['--ball'], 'drag');
    await waitFor(async () => !(await p.menuOpen()), 'the menu to close');
  } else {
    await waitFor(() => p.page.evaluate(() => window.ceilingFrames > 0), 'the ceiling page', 60000);
  }
  await p.page.evaluate(timingHook);
  return p;
}

// Frames a second, main-thread ms a frame (the mean: the timer may count in tenths) and
// frames later than 1.5 intervals over ms milliseconds at the display's pace.
const paced = (p, interval, ms = MEASURE_MS) => p.page.evaluate((interval, ms) => new Promise((resolve) => {
  window.benchTimes = {ms: [], at: []};
  setTimeout(() => {
    const {ms: times, at} = window.benchTimes;
    window.benchTimes = null;
    let late = 0;
    for (let i = 1; i < at.length; i++) if (at[i] - at[i - 1] > 1.5 * interval) late++;
    resolve({fps: ((at.length - 1) * 1000) / (at[at.length - 1] - at[0]),
             mainMs: times.reduce((sum, t) => sum + t, 0) / times.length, late});
  }, ms);
}), interval, ms);

// Frames a second with every frame run as soon as it is asked for, and their main-thread
// ms (the mean); the page's frames are released again after.
// NOTE: Firefox runs no frame after it: measure it last there.
async function uncapped(p, ms = MEASURE_MS) {
  await p.page.evaluate(() => { window.frameTimes = []; });
  const fps = await p.uncappedFramesPerSecond(ms);
  const times = await p.page.evaluate(() => window.frameTimes.splice(0));
  await p.page.evaluate(() => { window.frameTimes = null; });
  await p.releaseFrames();
  return {fps, mainMs: times.reduce((sum, t) => sum + t, 0) / times.length};
}

// JavaScript heap allocated a frame at the display's pace, collected objects included, once
// the page has drawn WARM_FRAMES frames. Until an import of the wasm has been called 1,000
// times, V8 calls it through a generic wrapper that makes garbage of its own on each call;
// then it compiles one for it that does not.
const WARM_FRAMES = 1200;
async function heapPerFrame(p, interval) {
  await waitFor(() => p.page.evaluate((n) => window.benchFrameCount >= n, WARM_FRAMES),
                `${WARM_FRAMES} frames drawn`, 300000);
  const cdp = p.cdp;
  await cdp.send('HeapProfiler.enable');
  await cdp.send('HeapProfiler.startSampling', {samplingInterval: 128, includeObjectsCollectedByMajorGC: true,
                                                includeObjectsCollectedByMinorGC: true});
  const {fps} = await paced(p, interval);
  const {profile} = await cdp.send('HeapProfiler.stopSampling');
  const total = (node) => node.selfSize + node.children.reduce((sum, child) => sum + total(child), 0);
  return total(profile.head) / ((fps * MEASURE_MS) / 1000);
}

// The display's interval, from a page that draws nothing. It stays open: WebDriver ends
// the session with its last window.
const blank = await engine.newPage({type: 'window'});
await blank.goto(`${ceilings}/blank.html`);
const interval = await blank.evaluate(() => new Promise((resolve) => {
  const at = [];
  const tick = (time) => (at.push(time) < 61 ? requestAnimationFrame(tick) : resolve((at[60] - at[0]) / 60));
  requestAnimationFrame(tick);
}));
console.log(`# the display's interval: ${interval.toFixed(2)} ms`);

// What each program page asks of WebGL a frame, and the frame replayed, captured once.
const counts = {};
for (const name of ['A', 'B']) {
  const p = await open(pages[name].probed, true);
  await p.page.evaluate(() => { window.benchFrames = []; });
  await waitFor(() => p.page.evaluate(() => window.benchFrames.length >= 60), '60 counted frames', 60000);
  counts[name] = await p.page.evaluate(() => window.benchFrames.slice(0, 60));
  const frameFile = path.join(work, 'frame.json');
  if (name === 'B' && !fs.existsSync(frameFile)) {
    fs.writeFileSync(frameFile, JSON.stringify(await p.page.evaluate(() => window.benchCapture())));
  }
  await p.close();
}

// The turns.
const figures = Object.fromEntries(columns.map((name) => [name, {}]));
const add = (name, key, value) => (figures[name][key] = figures[name][key] || []).push(value);
for (let turn = 0; turn < turns; turn++) {
  for (const name of Object.keys(figures)) {
    const p = await open(pages[name].url, name.startsWith('A') || name.startsWith('B'));
    try {
      await paced(p, interval, 500); // past the first frames' compiling and filling
      const atPace = await paced(p, interval);
      add(name, 'fps', atPace.fps);
      add(name, 'mainMs', atPace.mainMs);
      add(name, 'late', atPace.late);
      // Then uncapped, after which Firefox runs no frame released, and before the CPU is
      // slowed, after which Chromium's ceiling page ran uncapped at a fraction of its rate.
      const free = await uncapped(p).catch(() => null);
      if (free) add(name, 'uncapped', free.fps), add(name, 'uncappedMainMs', free.mainMs);
      if (p.cdp) {
        await p.cdp.send('Emulation.setCPUThrottlingRate', {rate: 4});
        add(name, 'mainMsX4', (await paced(p, interval)).mainMs);
        await p.cdp.send('Emulation.setCPUThrottlingRate', {rate: 1});
        if (turn === 0) add(name, 'heap', await heapPerFrame(p, interval));
      }
    } finally {
      await p.close();
    }
  }
  process.stdout.write(`# turn ${turn + 1} of ${turns} done\n`);
}
await engine.close();

// The table: medians with the spread (lowest to highest) over the turns or frames.
const sorted = (values) => [...values].sort((a, b) => a - b);
const cell = (values, digits) => {
  if (!values || !values.length) return 'n/a';
  const s = sorted(values);
  return s[0] === s[s.length - 1] ? s[0].toFixed(digits) : `${median(s).toFixed(digits)} (${s[0].toFixed(digits)}-${s[s.length - 1].toFixed(digits)})`;
};
for (const name of ['A', 'B']) {
  for (const key of ['calls', 'draws', 'writes', 'mostWrites', 'bytes']) figures[name][key] = counts[name].map((c) => c[key]);
}
const rows = [
  ['frames a second, uncapped', 'uncapped', 1], ['main ms a frame, uncapped', 'uncappedMainMs', 2],
  ['frames a second, display pace', 'fps', 1], ['main ms a frame', 'mainMs', 2],
  ['main ms a frame, CPU x4', 'mainMsX4', 2], [`frames later than 1.5 intervals in ${MEASURE_MS / 1000} s`, 'late', 0],
  ['JS heap bytes a frame', 'heap', 0], ['WebGL calls a frame', 'calls', 0], ['draws a frame', 'draws', 0],
  ['buffer writes a frame', 'writes', 0], ['most writes to one buffer', 'mostWrites', 0],
  ['bytes uploaded a frame', 'bytes', 0],
];
const pad = (text, n) => String(text).padEnd(n);
console.log(`${engineName}: ${pad('figure', 42)}${columns.map((n) => pad(n, 22)).join('')}`);
for (const [label, key, digits] of rows) {
  console.log(`${engineName}: ${pad(label, 42)}${columns.map((n) => pad(cell(figures[n][key], digits), 22)).join('')}`);
}
const ratio = (a, b, key) => (figures[a][key] && figures[b][key] ? (median(figures[a][key]) / median(figures[b][key])).toFixed(2) : 'n/a');
for (const key of ['uncapped', 'fps', 'mainMs', 'mainMsX4']) {
  console.log(`${engineName}: ratios of ${pad(key, 10)} B/A ${ratio('B', 'A', key)}; A/ceiling ${ratio('A', 'ceiling', key)}, ` +
    `B/ceiling ${ratio('B', 'ceiling', key)}; A/replay ${ratio('A', 'replay', key)}, B/replay ${ratio('B', 'replay', key)}` +
    variants.map((v) => `; B ${v}/B ${ratio(`B ${v}`, 'B', key)}`).join(''));
}
process.exit(0);
