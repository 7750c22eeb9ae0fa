// The storm in the browser: serves a build of the page (the sanitized one in CI), opens it in
// headless Chromium and throws seeded random input at it for a while: left clicks, drags and
// plain moves on the canvas, the camera keys and h, the menu opened with the right button
// and its entries chosen by drag or by click (never the one that ends the program), or
// closed, resizes of the window and of its pixel ratio, and the WebGL context lost and
// restored. Any page error, console error or sanitizer report fails it; at the end the
// program must still run: frames come, keys answer, h prints what it printed at the start.
// Usage: node storm.mjs PAGE_DIR CAMERA_POINTS_TOOL [--seconds S] [--seed N]
//   (ORLEMAZ_STORM_SECONDS and ORLEMAZ_STORM_SEED give the same; the seed is printed, to
//   replay a run; the camera keys come from the program's facts.)
import {launchEngine, openProgram, readFacts, serve, waitFor} from './engines.mjs';

const option = (name, fallback) => {
  const i = process.argv.indexOf(name);
  return i > 0 ? process.argv[i + 1] : fallback;
};
const [buildDir, cameraTool] = process.argv.slice(2);
const seconds = Number(option('--seconds', process.env.ORLEMAZ_STORM_SECONDS || 60));
const seed = Number(option('--seed', process.env.ORLEMAZ_STORM_SEED || Math.floor(Math.random() * 2 ** 32)));
const FACTS = readFacts(cameraTool);
const CAMERA_KEYS = FACTS.cameraKeys.map(([key]) => key);
const ENDS_PROGRAM = FACTS.menu.quit; // the entry that ends the program, which the storm leaves alone
const WINDOW = {width: 1280, height: 800};

// Numbers in [0, 1) from a 32-bit seed (mulberry32): the same seed, the same storm.
function random32(state) {
  return () => {
    state = (state + 0x6d2b79f5) | 0;
    let t = Math.imul(state ^ (state >>> 15), 1 | state);
    t = (t + Math.imul(t ^ (t >>> 7), 61 | t)) ^ t;
    return ((t ^ (t >>> 14)) >>> 0) / 2 ** 32;
  };
}
const random = random32(seed);
const between = (low, high) => low + random() * (high - low);
const oneOf = (list) => list[Math.floor(random() * list.length)];

// Opens the page in a fresh tab and waits for the program to run.
async function openPage(engine, origin) {
  const p = await openProgram(engine, `${origin}/index.html`, {viewport: WINDOW});
  await p.running(60000);
  await measure(p);
  return p;
}

// Finds the part of the canvas inside the window (p.visible), scrolling the page to it when a
// small window leaves none.
async function measure(p) {
  const visible = async () => {
    const {x, y, width, height} = await p.canvas.boundingBox();
    const left = Math.max(x, 0), top = Math.max(y, 0);
    const right = Math.min(x + width, p.viewport.width), bottom = Math.min(y + height, p.viewport.height);
    return right - left >= 1 && bottom - top >= 1 ? {x: left, y: top, width: right - left, height: bottom - top} : null;
  };
  p.visible = await visible();
  if (!p.visible) {
    await p.canvas.evaluate((canvas) => canvas.scrollIntoView({block: 'nearest', inline: 'nearest'}));
    p.visible = await waitFor(visible, 'the canvas in the window');
  }
}

// Presses a key with the canvas focused; gives what the program prints from then on, once
// it holds `expected` (or anything at all). What one press prints comes in one turn.
async function output(p, key, expected = '') {
  await p.focus();
  return p.output(() => p.page.keyboard.press(key), expected, `output for ${key}`);
}

// The program still runs: the page says so, frames come, and h prints what it printed at
// the start.
async function expectAlive(p, banner) {
  const status = await p.status();
  if (!status.includes('is running')) throw new Error(`the page says "${status}"`);
  const frames = await p.framesAsked();
  await p.focus();
  await p.page.keyboard.press('ArrowLeft');
  await p.page.keyboard.press('ArrowRight');
  await waitFor(async () => (await p.framesAsked()) > frames + 2, 'frames to come');
  // The ball, if on, may print besides.
  await output(p, 'h', banner);
}

// ---------------------------------------------------------------------------------------
// The events
// ---------------------------------------------------------------------------------------

// A point on the canvas, now and then in its first or last row or column of pixels: half a
// pixel in from the edge, where the browser cannot round it off the canvas.
function onCanvas(p) {
  const {x, y, width, height} = p.visible;
  const edge = random() < 0.1;
  return [x + (edge ? oneOf([0.5, width - 0.5]) : between(0.5, width - 0.5)),
          y + (edge ? oneOf([0.5, height - 0.5]) : between(0.5, height - 0.5))];
}
// A point anywhere in the window, for moves and for the end of a drag.
const inWindow = (p) => [between(0, p.viewport.width), between(0, p.viewport.height)];
// A point in the window outside a box and clear of a point by more than a click's slop
// (the smallest window leaves room below or above the menu).
function outside(p, box, [px, py]) {
  for (;;) {
    const [x, y] = inWindow(p);
    const off = x < box.x || x > box.x + box.width || y < box.y || y > box.y + box.height;
    if (off && (Math.abs(x - px) > 4 || Math.abs(y - py) > 4)) return [x, y];
  }
}

// Opens the menu with the right button and chooses an entry by dragging onto it, by a second
// click, or closes it by a release away from it; waits for it to close.
async function menuEvent(p) {
  const {mouse} = p.page;
  const [x, y] = onCanvas(p);
  await p.openMenu([x, y]);
  const menu = await (await p.page.$('.glut-menu')).boundingBox();
  // The entries the window shows whole, but the one that ends the program.
  const entries = (await p.menuEntries()).filter(({label, box: b}) => label !== ENDS_PROGRAM &&
    b.x >= 0 && b.y >= 0 && b.x + b.width <= p.viewport.width && b.y + b.height <= p.viewport.height)
    .map(({box}) => box);
  const entry = entries.length ? oneOf(entries) : null;
  const way = entry ? oneOf(['drag', 'clicks', 'away']) : 'away';
  const [ex, ey] = entry ? [entry.x + between(2, entry.width - 2), entry.y + between(2, entry.height - 2)] : [];
  if (way === 'drag') {
    await mouse.move(ex, ey, {steps: 3});
    await mouse.up({button: 'right'});
  } else if (way === 'clicks') {
    await mouse.up({button: 'right'});
    await mouse.click(ex, ey);
  } else {
    await mouse.move(...outside(p, menu, [x, y]), {steps: 2});
    await mouse.up({button: 'right'});
  }
  await waitFor(async () => !(await p.menuOpen()), `the menu to close (${way}, entry ${JSON.stringify(entry)}, menu ${JSON.stringify(menu)}, pressed at ${[x, y]})`);
  return `menu ${way}`;
}

// The WebGL context is lost now and given back some events later, each once the page has
// heard of the one before.
async function contextEvent(p) {
  p.lost = !p.lost;
  await (p.lost ? p.loseContext() : p.restoreContext());
  return p.lost ? 'context lost' : 'context restored';
}

async function resizeEvent(p) {
  const small = random() < 0.2;
  p.viewport = {width: Math.round(small ? between(120, 400) : between(400, 1900)),
                height: Math.round(small ? between(100, 300) : between(300, 1200)),
                deviceScaleFactor: oneOf([1, 1, 1.5, 2, 3])};
  await p.page.setViewport(p.viewport);
  await measure(p);
  return `resize ${p.viewport.width} x ${p.viewport.height} at ${p.viewport.deviceScaleFactor}`;
}

// Each kind of event with its weight.
const EVENTS = [
  [30, 'move', async (p) => { await p.page.mouse.move(...inWindow(p), {steps: oneOf([1, 1, 4])}); }],
  [15, 'click', async (p) => { await p.page.mouse.click(...onCanvas(p)); }],
  [12, 'drag', async (p) => {
    const {mouse} = p.page;
    await mouse.move(...onCanvas(p));
    await mouse.down();
    await mouse.move(...(random() < 0.8 ? onCanvas(p) : inWindow(p)), {steps: oneOf([1, 3, 8])});
    await mouse.up();
  }],
  [22, 'key', async (p) => { await p.page.keyboard.press(oneOf([...CAMERA_KEYS, 'h'])); }],
  [8, 'menu', menuEvent],
  [6, 'resize', resizeEvent],
  [2, 'context', contextEvent],
];
const TOTAL_WEIGHT = EVENTS.reduce((sum, [weight]) => sum + weight, 0);
function nextEvent() {
  let r = random() * TOTAL_WEIGHT;
  for (const event of EVENTS) {
    r -= event[0];
    if (r < 0) return event;
  }
  return EVENTS[0];
}

// ---------------------------------------------------------------------------------------
// Faults on the way
// ---------------------------------------------------------------------------------------

// Faults the page meets, each in a fresh page: how it comes, what the status line then
// says, and the errors the page reports (exactly these).
const FAULTS = [
  ['an error thrown out of a callback (the frame\'s first clear)', async (p) => {
    await p.page.evaluate(() => {
      const context = Module.ctx, clear = context.clear.bind(context);
      let planted = true;
      context.clear = (...args) => {
        if (!planted) return clear(...args);
        planted = false;
        throw new Error('planted');
      };
    });
  }, 'stopped with an error: Error: planted', ['page error: planted']],
  ['a frame asked for before the end, run after it', async (p) => {
    await p.holdFrames();
    await waitFor(() => p.page.evaluate(() => window.heldFrames.length > 0), 'a frame to hold');
    await p.focus();
    await p.page.keyboard.press('Escape');
  }, 'has ended (exit status 0)', []],
  ['the context lost and restored after the end', async (p) => {
    await p.focus();
    await p.page.keyboard.press('Escape');
    await p.waitForStatus('ended');
    await contextEvent(p);
    await contextEvent(p);
  }, 'has ended (exit status 0)', []],
];

// A random point on the canvas, in drawing-buffer pixels.
async function onCanvasPoint(p) {
  const size = await p.measure(false);
  return [between(0.5, size.width - 0.5), between(0.5, size.height - 0.5)];
}

// Brings the fault about, then: the page says what stopped the program, reports exactly
// the expected errors, and after it (held frames run, keys, a click, the right button)
// nothing draws (every frame begins with a clear), prints or opens a menu.
async function expectFault(engine, origin, [, bringAbout, status, errors]) {
  const p = await openPage(engine, origin);
  try {
    await bringAbout(p);
    await p.waitForStatus(status);
    await p.expectInert(await onCanvasPoint(p));
    if (JSON.stringify(p.errors) !== JSON.stringify(errors)) throw new Error(`errors: ${p.errors.join('; ')}`);
  } finally {
    await p.page.close();
  }
}

// In a window too small to place the menu clear of the pointer either way, a right click
// opens it over the pointer, here over an entry: the release where it was pressed chooses
// nothing and leaves the menu open, as elsewhere.
async function expectMenuOverPointerStaysOpen(engine, origin) {
  const p = await openPage(engine, origin);
  try {
    p.viewport = {width: 200, height: 150};
    await p.page.setViewport(p.viewport);
    await measure(p);
    const text = await p.consoleText();
    const [x, y] = [p.visible.x + p.visible.width / 2, p.visible.y + 40];
    await p.openMenu([x, y]);
    const under = await p.page.evaluate((x, y) => document.elementFromPoint(x, y).className, x, y);
    if (!under.includes('glut-menu-entry')) throw new Error(`the menu opened clear of the pointer, on ${under}`);
    await p.quiet(() => p.page.mouse.up({button: 'right'}), {mouseup: 1});
    if (!(await p.menuOpen())) throw new Error(`the release chose: the page says "${await p.status()}"`);
    if ((await p.consoleText()) !== text || p.errors.length) throw new Error('the release did something');
  } finally {
    await p.page.close();
  }
}

// ---------------------------------------------------------------------------------------
// The run
// ---------------------------------------------------------------------------------------

// Throws at the page for the run's length; gives the count of each kind of event. Every
// few seconds and at the end, the page must have reported nothing and still run.
async function storm(p) {
  const counts = Object.fromEntries(EVENTS.map(([, name]) => [name, 0]));
  const recent = []; // the last events, to tell what came before a failure
  const start = Date.now();
  let checked = start;
  try {
    while (Date.now() - start < seconds * 1000) {
      await measure(p); // the page may have scrolled
      const [, name, run] = nextEvent();
      recent.push((await run(p)) || name);
      if (recent.length > 12) recent.shift();
      counts[name]++;
      if (p.errors.length) throw new Error(p.errors.slice(0, 5).join('\n'));
      if (Date.now() - checked > 5000) {
        checked = Date.now();
        const status = await p.status();
        if (!status.includes('is running')) throw new Error(`the page says "${status}"`);
      }
    }
  } catch (error) {
    error.message += `\nafter: ${recent.join('; ')}\nthe page says "${await p.status().catch(() => '')}"`;
    throw error;
  }
  return counts;
}

const server = await serve(buildDir);
const origin = `http://127.0.0.1:${server.address().port}`;
const engine = await launchEngine('chromium', WINDOW);
let failed = false;
try {
  console.log(`storm: seed ${seed}, ${seconds} s, ${await engine.version()}`);
  const p = await openPage(engine, origin);
  if (!(await p.page.evaluate(() => typeof window._asan_c_load_4 === 'function'))) {
    console.log('storm: this build is not sanitized; only page errors will be caught');
  }
  const banner = await output(p, 'h');
  const start = Date.now();
  const counts = await storm(p);
  const elapsed = (Date.now() - start) / 1000;
  // Give the context back and the window its size before judging what is left.
  if (p.lost) await contextEvent(p);
  await p.page.setViewport(WINDOW);
  await expectAlive(p, banner);
  if (p.errors.length) throw new Error(p.errors.slice(0, 5).join('\n'));
  const events = Object.values(counts).reduce((sum, n) => sum + n, 0);
  const kinds = Object.entries(counts).map(([name, n]) => `${n} ${name}`).join(', ');
  const warnings = [...new Set(p.warnings)];
  if (warnings.length) console.log(`storm: ${p.warnings.length} warnings, first: ${warnings.slice(0, 3).join(' | ')}`);
  console.log(`storm: ${events} events in ${elapsed.toFixed(1)} s (${kinds}), no report`);
  await p.page.close();
  for (const fault of FAULTS) {
    await expectFault(engine, origin, fault).catch((error) => {
      throw new Error(`${fault[0]}: ${error.message}`);
    });
    console.log(`storm: fault handled: ${fault[0]}`);
  }
  await expectMenuOverPointerStaysOpen(engine, origin).catch((error) => {
    throw new Error(`a right click with the menu over the pointer: ${error.message}`);
  });
  console.log('storm: fault handled: a right click with the menu over the pointer');
} catch (error) {
  failed = true;
  console.log(`storm: FAIL (seed ${seed}): ${error.message}`);
} finally {
  await engine.close().catch(() => {});
  server.close();
}
process.exit(failed ? 1 : 0);
