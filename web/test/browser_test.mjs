// The browser check: serves build-web/ on 127.0.0.1, opens the page in headless Chromium
// and drives it with real input through the DevTools protocol (keys, clicks, drags at
// points projected from the model's own numbers), reading the console element and the
// canvas. Then it compares the web layer's hit records with Mesa's over a grid of picks.
// Usage: node browser_test.mjs BUILD_WEB_DIR NATIVE_PICK_DUMP_FILE
import http from 'node:http';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import zlib from 'node:zlib';
import puppeteer from 'puppeteer-core';

const [buildDir, nativeDumpFile] = process.argv.slice(2);
const DEADLINE_MS = 20000;
const WIDTH = 680, HEIGHT = 480;

// ---------------------------------------------------------------------------------------
// The model's numbers, as the program's scene state and camera give them
// ---------------------------------------------------------------------------------------

const TABLE = {length: 100, width: 70, legHeight: 20};
const ROD_AXIS_Y = TABLE.legHeight + 10;
const rodX = (index) => 11 * index + 12;
const BALL_START = [20, 23, 20];
const START_VIEW = {tiltX: 16, rotY: 0, rotZ: 0, distance: 400, panX: 0, panY: 0};

// Window pixel (top-left origin) of a model point under the program's projection and camera.
function project(point, v = START_VIEW) {
  const rad = (d) => (d * Math.PI) / 180;
  let [x, y, z] = point;
  [x, y] = [x * Math.cos(rad(v.rotZ)) - y * Math.sin(rad(v.rotZ)),
            x * Math.sin(rad(v.rotZ)) + y * Math.cos(rad(v.rotZ))];
  [x, z] = [x * Math.cos(rad(v.rotY)) + z * Math.sin(rad(v.rotY)),
            -x * Math.sin(rad(v.rotY)) + z * Math.cos(rad(v.rotY))];
  [y, z] = [y * Math.cos(rad(v.tiltX)) - z * Math.sin(rad(v.tiltX)),
            y * Math.sin(rad(v.tiltX)) + z * Math.cos(rad(v.tiltX))];
  x += Math.trunc(-TABLE.length / 2) + v.panX;
  y += Math.trunc(-TABLE.width / 2) + v.panY;
  z -= v.distance;
  const near = 5, aspect = HEIGHT / WIDTH;
  const ndcX = (near * x) / -z, ndcY = (near * y) / -z / aspect;
  return [Math.round(((ndcX + 1) / 2) * WIDTH), Math.round(HEIGHT - ((ndcY + 1) / 2) * HEIGHT)];
}

// ---------------------------------------------------------------------------------------
// Checks, the static server, pictures
// ---------------------------------------------------------------------------------------

let passed = 0, failed = 0;
let current = null; // the page the checks drive, so that a failed check lets go of it
async function check(name, body) {
  try {
    await body();
    passed++;
    console.log(`ok - ${name}`);
  } catch (error) {
    failed++;
    console.log(`FAIL - ${name}: ${error.message}`);
    if (current) {
      await current.page.mouse.up({button: 'right'}).catch(() => {});
      await current.page.evaluate(() => window.releaseFrames()).catch(() => {});
    }
  }
}
function expect(condition, message) {
  if (!condition) throw new Error(message);
}

// Polls an async condition until it holds or the deadline passes.
async function waitFor(condition, what, deadline = DEADLINE_MS) {
  const end = Date.now() + deadline;
  for (;;) {
    const value = await condition();
    if (value) return value;
    if (Date.now() > end) throw new Error(`timed out waiting for ${what}`);
    await new Promise((resolve) => setTimeout(resolve, 50));
  }
}

const TYPES = {'.html': 'text/html', '.js': 'text/javascript', '.wasm': 'application/wasm'};
function serve(dir) {
  const server = http.createServer((request, response) => {
    const file = path.join(dir, path.normalize(decodeURIComponent(request.url.split('?')[0])));
    fs.readFile(file, (error, data) => {
      if (error) {
        response.writeHead(404);
        response.end();
        return;
      }
      response.writeHead(200, {'Content-Type': TYPES[path.extname(file)] || 'application/octet-stream'});
      response.end(data);
    });
  });
  return new Promise((resolve) => server.listen(0, '127.0.0.1', () => resolve(server)));
}

// Decodes a PNG screenshot (8-bit RGB or RGBA) into {width, height, rgba}.
function decodePng(png) {
  let offset = 8, width = 0, height = 0, channels = 4;
  const idat = [];
  while (offset < png.length) {
    const length = png.readUInt32BE(offset);
    const type = png.toString('ascii', offset + 4, offset + 8);
    const data = png.subarray(offset + 8, offset + 8 + length);
    if (type === 'IHDR') {
      width = data.readUInt32BE(0);
      height = data.readUInt32BE(4);
      channels = data[9] === 6 ? 4 : 3;
    } else if (type === 'IDAT') {
      idat.push(data);
    }
    offset += 12 + length;
  }
  const raw = zlib.inflateSync(Buffer.concat(idat));
  const stride = width * channels;
  const pixels = Buffer.alloc(height * stride);
  for (let y = 0; y < height; y++) {
    const filter = raw[y * (stride + 1)];
    for (let i = 0; i < stride; i++) {
      const x = raw[y * (stride + 1) + 1 + i];
      const a = i >= channels ? pixels[y * stride + i - channels] : 0;
      const b = y > 0 ? pixels[(y - 1) * stride + i] : 0;
      const c = y > 0 && i >= channels ? pixels[(y - 1) * stride + i - channels] : 0;
      const p = a + b - c;
      const paeth = Math.abs(p - a) <= Math.abs(p - b) && Math.abs(p - a) <= Math.abs(p - c)
        ? a : Math.abs(p - b) <= Math.abs(p - c) ? b : c;
      const predictor = [0, a, b, (a + b) >> 1, paeth][filter];
      pixels[y * stride + i] = (x + predictor) & 255;
    }
  }
  const rgba = (px, py) => {
    const i = py * stride + px * channels;
    return [pixels[i], pixels[i + 1], pixels[i + 2]];
  };
  return {width, height, rgba, pixels};
}

// ---------------------------------------------------------------------------------------
// The page
// ---------------------------------------------------------------------------------------

const server = await serve(buildDir);
const origin = `http://127.0.0.1:${server.address().port}`;
const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'orlemaz-chromium-'));
const browser = await puppeteer.launch({
  executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
  headless: true,
  userDataDir: profile,
  args: ['--headless', '--no-sandbox', '--use-angle=swiftshader', '--enable-unsafe-swiftshader',
         '--disable-background-networking', '--disable-component-update', '--disable-sync',
         '--no-first-run', '--disable-quic', `--window-size=${WIDTH + 600},${HEIGHT + 300}`],
});

// Opens the page with frames that the test can hold back, and records its errors.
async function openPage() {
  const page = await browser.newPage();
  await page.setViewport({width: WIDTH + 600, height: HEIGHT + 300});
  const errors = [];
  page.on('pageerror', (error) => errors.push(error.message));
  page.on('console', (message) => {
    if (message.type() === 'error' || message.type() === 'warning') errors.push(message.text());
  });
  await page.evaluateOnNewDocument(() => {
    const request = window.requestAnimationFrame.bind(window);
    window.heldFrames = null; // an array of waiting frames while frames are held
    window.requestAnimationFrame = (frame) => {
      if (window.heldFrames) return window.heldFrames.push(frame);
      return request(frame);
    };
    window.releaseFrames = () => {
      const waiting = window.heldFrames || [];
      window.heldFrames = null;
      waiting.forEach((frame) => request(frame));
    };
  });
  await page.goto(`${origin}/index.html`);
  const canvas = await page.$('#canvas');
  const box = await canvas.boundingBox();
  const page_ = {
    page, errors, canvas,
    // Page coordinates of a canvas pixel.
    at: ([x, y]) => [box.x + x, box.y + y],
    consoleText: () => page.$eval('#console', (e) => e.textContent),
    status: () => page.$eval('#status', (e) => e.textContent),
    shot: () => canvas.screenshot(),
    pixel: async ([x, y]) => decodePng(await canvas.screenshot()).rgba(x, y),
  };
  // Waits until what the program prints next, after what it printed so far, holds text.
  page_.expectOutput = async (action, text, what) => {
    const before = (await page_.consoleText()).length;
    await action();
    try {
      await waitFor(async () => (await page_.consoleText()).slice(before).includes(text), what);
    } catch (error) {
      const printed = (await page_.consoleText()).slice(before);
      throw new Error(`${error.message}; printed ${JSON.stringify(printed.slice(0, 200))}`);
    }
  };
  return page_;
}

async function click(p, point, options = {}) {
  const [x, y] = p.at(point);
  await p.page.mouse.click(x, y, options);
}

// The centre of the open menu's entry with the given label, in page coordinates.
async function menuEntry(p, label) {
  const entries = await p.page.$$('.glut-menu-entry');
  for (const entry of entries) {
    if ((await entry.evaluate((e) => e.textContent)) === label) {
      const b = await entry.boundingBox();
      return [b.x + b.width / 2, b.y + b.height / 2];
    }
  }
  throw new Error(`no menu entry "${label}"`);
}
const menuOpen = (p) => p.page.$('.glut-menu').then((m) => m !== null);

// Opens the menu with the right button at a canvas point and chooses label by dragging.
async function chooseByDrag(p, point, label) {
  const [x, y] = p.at(point);
  await p.page.mouse.move(x, y);
  await p.page.mouse.down({button: 'right'});
  await waitFor(() => menuOpen(p), 'the menu to open');
  const [ex, ey] = await menuEntry(p, label);
  await p.page.mouse.move(ex, ey, {steps: 4});
  await p.page.mouse.up({button: 'right'});
}

// Opens the menu with a right click and chooses label with a second click.
async function chooseByClicks(p, point, label) {
  await click(p, point, {button: 'right'});
  await waitFor(() => menuOpen(p), 'the menu to open');
  const [ex, ey] = await menuEntry(p, label);
  await p.page.mouse.click(ex, ey);
}

// Presses a key as a keyboard of another layout types it: the key's character with the
// code of a different physical key.
async function typeOnLayout(p, key, code) {
  const cdp = await p.page.createCDPSession();
  for (const type of ['keyDown', 'keyUp']) {
    await cdp.send('Input.dispatchKeyEvent', {type, key, code, text: type === 'keyDown' ? key : undefined});
  }
}

const pitchCentre = project([TABLE.length / 2, TABLE.legHeight + 1, TABLE.width / 2]);
const floorPoint = project([TABLE.length / 2, 0, -250]); // beyond the far wall
const rodPoint = (index) => project([rodX(index), ROD_AXIS_Y, 50]);
const figures = {};

const p = await openPage();
current = p;

await check('loads without errors and draws the first picture', async () => {
  await waitFor(async () => (await p.status()).includes('is running'), 'the program to start');
  await waitFor(async () => (await p.pixel(pitchCentre)).some((c) => c > 40), 'the table');
  const [r, g, b] = await p.pixel(pitchCentre);
  expect(Math.abs(r - g) < 30 && Math.abs(g - b) < 30, `the pitch is grey, not ${[r, g, b]}`);
  expect((await p.pixel([WIDTH / 2, 5])).every((c) => c < 10), 'the background above is black');
  expect(p.errors.length === 0, `errors: ${p.errors.join('; ')}`);
  expect(await p.page.$eval('#canvas', (c) => c.width === 680 && c.height === 480), '680 x 480');
});

await check('h prints the banner, line breaks first, at once', async () => {
  const before = (await p.consoleText()).length;
  await p.page.keyboard.press('h');
  await waitFor(async () => (await p.consoleText()).slice(before) ===
    '\n PROYECTO CAD\n ORLEMAZ\n Escape: Salir\n\n\n', 'the banner');
});

await check('camera keys change the picture and their opposites bring back the same one', async () => {
  const start = await p.shot();
  const pairs = [
    [() => p.page.keyboard.press('ArrowLeft'), () => p.page.keyboard.press('ArrowRight')],
    [() => p.page.keyboard.press('ArrowUp'), () => p.page.keyboard.press('ArrowDown')],
    [() => p.page.keyboard.press('z'), () => p.page.keyboard.press('Z')],
    // "+" from a Spanish keyboard's own key, and "-".
    [() => typeOnLayout(p, '+', 'BracketRight'), () => typeOnLayout(p, '-', 'Slash')],
  ];
  for (const [there, back] of pairs) {
    await there();
    await waitFor(async () => !(await p.shot()).equals(start), 'the picture to change');
    await back();
    await waitFor(async () => (await p.shot()).equals(start), 'the first picture again');
  }
});

await check('a click on the floor prints Escenario and Id: -1', async () => {
  await p.expectOutput(() => click(p, floorPoint), ' Escenario \n Id: -1 \n', 'the floor pick');
});

await check('clicks on rods bind them; motion turns the bound rod; a second click releases', async () => {
  for (const index of [0, 3, 7]) {
    await p.expectOutput(() => click(p, rodPoint(index)), ` Id: ${index + 2} \n`, `rod ${index}`);
    const before = await p.shot();
    const [x, y] = p.at(rodPoint(index));
    await p.expectOutput(() => p.page.mouse.move(x + 30, y),
      `\nMovimiento del raton fijado a la barra ${index + 2}.`, 'the motion message');
    await waitFor(async () => !(await p.shot()).equals(before), 'the rod to turn');
    await p.expectOutput(() => p.page.mouse.click(x + 30, y), ' Id: ', 'the releasing pick');
    const text = (await p.consoleText()).length;
    await p.page.mouse.move(x + 60, y);
    await p.page.mouse.move(x, y);
    await new Promise((resolve) => setTimeout(resolve, 200));
    expect(!(await p.consoleText()).slice(text).includes('Movimiento'), 'released, it stays');
  }
});

await check('a release outside the menu chooses nothing', async () => {
  const [x, y] = p.at(floorPoint);
  await p.page.mouse.move(x, y);
  await p.page.mouse.down({button: 'right'});
  await waitFor(() => menuOpen(p), 'the menu to open');
  const before = await p.consoleText();
  await p.page.mouse.move(x - 60, y - 60, {steps: 3});
  await p.page.mouse.up({button: 'right'});
  await waitFor(async () => !(await menuOpen(p)), 'the menu to close');
  await p.page.mouse.move(x, y); // in the move-model mode this would pan and print
  await new Promise((resolve) => setTimeout(resolve, 200));
  expect((await p.consoleText()) === before, 'nothing was printed');
});

await check('the ball, put on from the menu by dragging, is picked as the last rod', async () => {
  // Seen from the start, rod 1's bar passes 5 pixels from the ball's place; tilted 30
  // degrees more, 11 pixels, well clear of the 5-pixel pick region.
  const TILT_STEPS = 6;
  for (let i = 0; i < TILT_STEPS; i++) await p.page.keyboard.press('ArrowUp');
  const above = {...START_VIEW, tiltX: START_VIEW.tiltX + 5 * TILT_STEPS};
  try {
    await p.page.evaluate(() => { window.heldFrames = []; });
    await chooseByDrag(p, floorPoint, 'PONER/QUITAR BOLA');
    // Frames are held, so the ball still stands where it starts.
    await p.expectOutput(() => click(p, project(BALL_START, above)), ' Id: 9 \n', 'the ball pick');
  } finally {
    await p.page.evaluate(() => window.releaseFrames());
    for (let i = 0; i < TILT_STEPS; i++) await p.page.keyboard.press('ArrowDown');
  }
  await p.expectOutput(() => click(p, floorPoint), ' Id: -1 \n', 'the releasing pick');
});

await check('the rolling ball hits players: Choque!', async () => {
  await waitFor(async () => (await p.consoleText()).includes('Choque!\n'), 'Choque!');
});

// Counts the page's frames for ms milliseconds with every frame asked for run at once, not
// at the display's pace, then waits for WebGL to finish them; returns frames a second.
// NOTE: the page's frames must be held (window.heldFrames) before; they are held after.
function uncappedFps(page, ms) {
  return page.evaluate((ms) => new Promise((resolve) => {
    // A message, unlike a timer, is not held back to the display's pace or the timer
    // clamp; the loop ends itself, as a timer would wait behind the messages.
    const channel = new MessageChannel();
    let waiting = window.heldFrames, frames = 0;
    window.heldFrames = null;
    const paced = window.requestAnimationFrame;
    window.requestAnimationFrame = (frame) => {
      if (waiting.push(frame) === 1) channel.port2.postMessage(0);
      return 0;
    };
    const gl = document.getElementById('canvas').getContext('webgl');
    const pixel = new Uint8Array(4);
    const start = performance.now();
    channel.port1.onmessage = () => {
      const now = waiting;
      waiting = [];
      now.forEach((frame) => { frames++; frame(performance.now()); });
      if (gl) gl.readPixels(0, 0, 1, 1, gl.RGBA, gl.UNSIGNED_BYTE, pixel);
      if (performance.now() - start < ms) return;
      const elapsed = performance.now() - start;
      window.requestAnimationFrame = paced;
      window.heldFrames = waiting;
      channel.port1.close();
      resolve((frames * 1000) / elapsed);
    };
    channel.port2.postMessage(0);
  }), ms);
}
const median = (values) => [...values].sort((a, b) => a - b)[Math.floor(values.length / 2)];

await check('frames a second and the time of a pick', async () => {
  figures.fps = await p.page.evaluate(() => new Promise((resolve) => {
    let frames = 0;
    const start = performance.now();
    const frame = () => {
      frames++;
      if (performance.now() - start < 3000) requestAnimationFrame(frame);
      else resolve((frames * 1000) / (performance.now() - start));
    };
    requestAnimationFrame(frame);
  }));
  // Uncapped, the page and a WebGL page drawing as many lit triangles from static buffers
  // (web/test/ceiling.html) take turns, so that both see the same load on the machine.
  fs.copyFileSync(new URL('ceiling.html', import.meta.url), path.join(buildDir, 'ceiling.html'));
  const ceiling = await openPage();
  await ceiling.page.goto(`${origin}/ceiling.html`);
  await waitFor(() => ceiling.page.evaluate(() => window.ceilingFrames > 0), 'the ceiling page');
  figures.triangles = await ceiling.page.evaluate(() => window.ceilingTriangles);
  const uncapped = [], ceilings = [];
  try {
    await p.page.evaluate(() => { window.heldFrames = []; });
    await ceiling.page.evaluate(() => { window.heldFrames = []; });
    // A page behind another gets no frames: each comes to the front for its turn.
    for (let turn = 0; turn < 5; turn++) {
      await p.page.bringToFront();
      uncapped.push(await uncappedFps(p.page, 1200));
      await ceiling.page.bringToFront();
      ceilings.push(await uncappedFps(ceiling.page, 1200));
    }
  } finally {
    await ceiling.page.close();
    await p.page.bringToFront();
    await p.page.evaluate(() => window.releaseFrames());
  }
  figures.uncapped = median(uncapped);
  figures.ceiling = median(ceilings);
  await p.page.evaluate(() => {
    window.pickTimes = [];
    let start = 0;
    window.addEventListener('mousedown', () => { start = performance.now(); }, true);
    window.addEventListener('mousedown', () => window.pickTimes.push(performance.now() - start));
  });
  for (let i = 0; i < 10; i++) {
    await p.expectOutput(() => click(p, floorPoint), ' Id: -1 \n', 'a floor pick');
  }
  figures.pickMs = median(await p.page.evaluate(() => window.pickTimes));
  figures.pageBytes = ['index.html', 'orlemaz.js', 'orlemaz.wasm']
    .reduce((sum, file) => sum + fs.statSync(path.join(buildDir, file)).size, 0);
  expect(figures.fps > 5, `${figures.fps} frames a second`);
  expect(figures.uncapped > 0 && figures.ceiling > 0, `${figures.uncapped} and ${figures.ceiling} uncapped`);
  expect(figures.pageBytes < 250 * 1024, `the page is ${figures.pageBytes} bytes`);
});

await check('the menu by two clicks: MOVER MODELO pans by the pointer\'s current motion', async () => {
  const start = p.at(floorPoint);
  await p.page.mouse.move(...start);
  await chooseByClicks(p, floorPoint, 'MOVER MODELO');
  expect(!(await menuOpen(p)), 'the menu closed');
  // Back where the last plain motion was: no jump. Then 110 pixels right, 11 units of pan,
  // exactly one rod spacing.
  await p.expectOutput(() => p.page.mouse.move(...start), '\nMoviendo Mundo', 'the pan message');
  await p.page.mouse.move(start[0] + 110, start[1]);
  await p.page.mouse.down({button: 'right'});
  await waitFor(() => menuOpen(p), 'the menu to open');
  const [ex, ey] = await menuEntry(p, 'MOVER BARRAS');
  await p.page.mouse.move(ex, ey, {steps: 3});
  await p.page.mouse.up({button: 'right'});
  // Rod 3's place now holds rod 2.
  const panned = project([rodX(3), ROD_AXIS_Y, 50], {...START_VIEW, panX: 11});
  await p.expectOutput(() => click(p, rodPoint(3)), ' Id: 4 \n', 'rod 2 at rod 3\'s place');
  expect(Math.abs(panned[0] - rodPoint(3)[0]) > 20, 'the pan moves rods on the screen');
});

await check('Escape ends the program: no more frames or input, the page says so', async () => {
  await p.page.keyboard.press('Escape');
  await waitFor(async () => (await p.status()).includes('ended'), 'the page to say it ended');
  const text = await p.consoleText();
  const picture = await p.shot();
  await p.page.keyboard.press('h');
  await click(p, floorPoint, {button: 'right'});
  await new Promise((resolve) => setTimeout(resolve, 300));
  expect((await p.consoleText()) === text, 'keys and clicks print nothing');
  expect(!(await menuOpen(p)), 'no menu opens');
  expect((await p.shot()).equals(picture), 'the ball no longer moves');
  expect(p.errors.length === 0, `errors: ${p.errors.join('; ')}`);
});

await check('"Salir" ends the program', async () => {
  const q = await openPage();
  await waitFor(async () => (await q.status()).includes('is running'), 'the program to start');
  await chooseByClicks(q, floorPoint, 'Salir');
  await waitFor(async () => (await q.status()).includes('ended'), 'the page to say it ended');
  expect(q.errors.length === 0, `errors: ${q.errors.join('; ')}`);
  await q.page.close();
});

// ---------------------------------------------------------------------------------------
// Selection parity with Mesa
// ---------------------------------------------------------------------------------------

// One line per pick: "view x y hits: [names zmin zmax name ...] ...", or a console line.
function parseDump(text) {
  return text.split('\n').filter((line) => /^\d+ \d+ \d+ -?\d+:/.test(line)).map((line) => {
    const [head, rest] = line.split(':');
    const records = [...rest.matchAll(/\[([^\]]*)\]/g)].map((m) => m[1].split(' ').map(Number));
    return {head, records};
  });
}

const dumps = {native: fs.readFileSync(nativeDumpFile, 'utf8'), web: ''};
await check('the web layer\'s hit records match Mesa\'s over the grid', async () => {
  const native = parseDump(dumps.native);
  const q = await openPage();
  await q.page.goto(`${origin}/pick_dump.html`);
  await waitFor(async () => {
    expect(q.errors.length === 0, `errors: ${q.errors.join('; ')}`);
    return q.page.evaluate(() => window.pickDumpText().includes('END\n'));
  }, 'the browser pick dump', 120000);
  dumps.web = await q.page.evaluate(() => window.pickDumpText());
  await q.page.close();
  const web = parseDump(dumps.web);
  expect(native.length === web.length && native.length > 0, `${native.length} vs ${web.length} picks`);
  // Depths are scaled to 2^32. Both sides compute them in single precision, the operations
  // in different orders, so they agree to a few units in the last place (256 at the
  // depths of this scene).
  const DEPTH_TOLERANCE = 2 ** 32 * 1e-6;
  let same = 0, maxDepth = 0;
  const differences = [];
  native.forEach((n, i) => {
    const w = web[i];
    let match = n.head === w.head && n.records.length === w.records.length;
    n.records.forEach((record, r) => {
      const other = w.records[r];
      if (!match || !other || record.length !== other.length) { match = false; return; }
      record.forEach((word, k) => {
        if (k === 1 || k === 2) {
          maxDepth = Math.max(maxDepth, Math.abs(word - other[k]));
          if (Math.abs(word - other[k]) > DEPTH_TOLERANCE) match = false;
        } else if (word !== other[k]) {
          match = false;
        }
      });
    });
    if (match) same++;
    else if (differences.length < 5) differences.push(`${n.head}: ${JSON.stringify(n.records)} vs ${JSON.stringify(w.records)}`);
  });
  figures.parity = {points: native.length, same, maxDepth};
  const pickTime = (text) => Number((text.match(/^PICKS \d+, ([\d.]+) ms each$/m) || [])[1]);
  figures.gridPickMs = {web: pickTime(dumps.web), mesa: pickTime(dumps.native)};
  expect(same === native.length, `${native.length - same} picks differ: ${differences.join(' | ')}`);
});

// The start-up picture a dump holds: "PICTURE width height", then per row "P" and its
// pixels' red, green and blue bytes in hexadecimal.
function parsePicture(text) {
  const [, width, height] = text.match(/^PICTURE (\d+) (\d+)$/m) || [];
  const rows = text.split('\n').filter((line) => line.startsWith('P ')).map((line) => Buffer.from(line.slice(2), 'hex'));
  return {width: Number(width), height: Number(height), rows};
}

await check('the first picture is within 4 levels of Mesa\'s at 99.5 % of its pixels', async () => {
  const native = parsePicture(dumps.native), web = parsePicture(dumps.web);
  expect(native.width > 0 && native.rows.length === native.height, 'Mesa\'s picture is whole');
  expect(web.width === native.width && web.rows.length === native.height, 'the page\'s picture is whole');
  let close = 0;
  native.rows.forEach((row, y) => {
    for (let i = 0; i < row.length; i += 3) {
      const d = Math.max(...[0, 1, 2].map((c) => Math.abs(row[i + c] - web.rows[y][i + c])));
      if (d <= 4) close++;
    }
  });
  figures.picture = (100 * close) / (native.width * native.height);
  expect(native.rows.some((row) => row.some((byte) => byte > 40)), 'Mesa\'s picture is not black');
  expect(figures.picture >= 99.5, `${figures.picture.toFixed(2)} % of pixels within 4 levels`);
});

await browser.close();
server.close();
fs.rmSync(profile, {recursive: true, force: true});

// A figure to print, or "-" where its check stopped before it.
const fixed = (value, digits) => (Number.isFinite(value) ? value.toFixed(digits) : '-');
if (figures.fps) {
  console.log(`frames a second: ${fixed(figures.fps, 1)} at the display's pace, ${fixed(figures.uncapped, 1)} uncapped; ` +
    `ceiling ${fixed(figures.ceiling, 1)} (${figures.triangles} lit triangles from static buffers), ` +
    `ratio ${fixed(figures.uncapped / figures.ceiling, 2)} (medians of 5 turns)`);
  console.log(`pick: ${fixed(figures.pickMs, 2)} ms (median of 10); page: ${fixed(figures.pageBytes / 1024, 0)} KiB`);
}
if (figures.picture) console.log(`first picture: ${fixed(figures.picture, 2)} % of pixels within 4 levels of Mesa's`);
if (figures.parity) {
  const {points, same, maxDepth} = figures.parity;
  console.log(`parity: ${same} of ${points} picks match Mesa's, largest depth difference ${maxDepth} (of 2^32)`);
  const {web, mesa} = figures.gridPickMs;
  console.log(`a pick of the grid, its line printed: ${fixed(web, 3)} ms in the page, ${fixed(mesa, 3)} ms under Mesa`);
}
console.log(`${passed} passed, ${failed} failed`);
process.exit(failed === 0 ? 0 : 1);
