// The browser check: serves the page on 127.0.0.1, opens it in one browser engine and
// drives it with real input (keys, clicks, drags at points where the program's own camera
// puts the model's points), reading the console element and the canvas; then compares the
// web layer's hit records and pictures with Mesa's. Runs on Node's own test runner
// (node:test), the checks grouped by concern under the engine's name, the page driven
// through the toolkit in web/test/engines.mjs. Prints the engine's figures and, last,
// "ENGINE: N passed, N failed" (which scripts/lib/web.sh reads).
// Usage: node browser_test.mjs [--engine chromium|firefox|webkit] [--page PAGE_DIR]
//          BUILD_WEB_DIR NATIVE_PICK_DUMP_FILE CAMERA_POINTS_TOOL
// PAGE_DIR is the page as a host serves it (the unpacked release); the check's own pages
// (the pick dump, the ceiling) come from BUILD_WEB_DIR, which is also the page without one.
// node --test-name-pattern=REGEX browser_test.mjs ... runs the checks whose names match.
import {execFileSync} from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import {after, before, describe, it} from 'node:test';
import {launchEngine, median, openProgram, readFacts, serve, startVirtualDisplay, waitFor} from './engines.mjs';

const options = {'--engine': 'chromium', '--page': null};
const positional = [];
for (let i = 2; i < process.argv.length; i++) {
  if (process.argv[i] in options) options[process.argv[i]] = process.argv[++i];
  else positional.push(process.argv[i]);
}
const engineName = options['--engine'];
const [buildDir, nativeDumpFile, cameraTool] = positional;
const pageDir = options['--page'] || buildDir;
// The virtual X server of the browser's window where the engine needs one. The check starts
// it; it ends with the check.
const display = await startVirtualDisplay();

// ---------------------------------------------------------------------------------------
// The model's numbers, as the program's own headers declare them (camera_points facts)
// ---------------------------------------------------------------------------------------

const FACTS = readFacts(cameraTool);
const {window: {width: WIDTH, height: HEIGHT}, table: TABLE, pitchY: PITCH_Y, rodAxisY: ROD_AXIS_Y, ballStart: BALL_START,
       startView: START_VIEW, helpBanner: BANNER} = FACTS;
const MENU = FACTS.menu; // each entry's label by its name (toggle-ball, ...)
const rodX = (index) => FACTS.rodX[index];
// Each camera key with its opposite, once a pair.
const CAMERA_KEYS = FACTS.cameraKeys.filter(([key, opposite], i, all) =>
  i < all.findIndex(([other]) => other === opposite));

// The canvas pixel (drawing-buffer pixels, origin top left) where the program's camera puts
// a model point in a window of the given size: web/test/camera_points.cpp projects it with
// the harness's camera model, which the native tests hold to the program's matrices. Both
// coordinates are rounded down, to the pixel the point falls in, as in the native tests.
const projected = new Map();
function project(point, view = START_VIEW, size = {width: WIDTH, height: HEIGHT}) {
  const args = [size.width, size.height, view.tiltX, view.rotY, view.rotZ, view.distance,
                view.panX, view.panY, ...point].map(String);
  const key = args.join(' ');
  if (!projected.has(key)) projected.set(key, JSON.parse(execFileSync(cameraTool, args))[0]);
  return projected.get(key);
}
const pitchCentre = project([TABLE.length / 2, PITCH_Y, TABLE.width / 2]);
const floorAt = (size) => project([TABLE.length / 2, 0, -250], START_VIEW, size); // beyond the far wall
const floorPoint = floorAt();
const rodPoint = (index, size) => project([rodX(index), ROD_AXIS_Y, 50], START_VIEW, size);

// ---------------------------------------------------------------------------------------
// The checks, the engine, the pages
// ---------------------------------------------------------------------------------------

const tally = {passed: 0, failed: 0, chromiumOnly: []};
const figures = {};
const CDP = 'cdp'; // a check's need: Chromium's DevTools protocol
const ESSENTIAL = 'essential'; // a check without which the others cannot run
let current = null; // the page the checks drive, so that a failed check lets go of it
let webglWorks = true; // without WebGL every check would only wait out its deadline

// One check. A check that needs Chromium's DevTools protocol names it in needs, and other
// engines skip it; a check that finds it cannot run here gives skipped(t, why); an
// essential check that fails stops the run.
const SKIPPED = Symbol('skipped');
function skipped(t, why) {
  t.skip(why);
  return SKIPPED;
}
function check(name, body, needs = null) {
  const skip = needs === CDP && !engine.cdp && "needs Chromium's DevTools protocol";
  if (skip) tally.chromiumOnly.push(name);
  it(name, {skip}, async (t) => {
    if (!webglWorks) return t.skip('WebGL does not work here');
    try {
      if ((await body(t)) !== SKIPPED) tally.passed++;
    } catch (error) {
      tally.failed++;
      webglWorks &&= needs !== ESSENTIAL;
      if (current) {
        await current.page.mouse.up({button: 'right'}).catch(() => {});
        if (current.cdp) await touch(current, 'touchEnd', []).catch(() => {});
        await current.releaseFrames().catch(() => {});
      }
      throw error;
    }
  });
}
// A group's set-up, whose failure counts as a failed check.
function setUp(body) {
  before(async () => {
    if (webglWorks) await body().catch((error) => { tally.failed++; throw error; });
  });
}
function expect(condition, message) { if (!condition) throw new Error(message); }
const expectNoProblems = (p) => expect(p.problems().length === 0, `errors: ${p.problems().join('; ')}`);

const server = await serve(pageDir, buildDir);
const origin = `http://127.0.0.1:${server.address().port}`;
const WINDOW = {width: WIDTH + 600, height: HEIGHT + 300};
let engine = null, launchError = null;
try {
  engine = await launchEngine(engineName, WINDOW, display);
  console.log(`# ${engineName}: ${await engine.version()}`);
} catch (error) {
  launchError = error;
}
// Opens the page; unless told otherwise, the canvas's box is held at the native window's
// size, so that the native program's numbers hold.
const openPage = ({viewport = WINDOW, pinned = true} = {}) =>
  openProgram(engine, `${origin}/index.html`, {viewport, pinned: pinned && {width: WIDTH, height: HEIGHT}});

// Presses a key as a keyboard of another layout types it: the key's character with the
// code of a different physical key.
async function typeOnLayout(p, key, code) {
  for (const type of ['keyDown', 'keyUp']) {
    await p.cdp.send('Input.dispatchKeyEvent', {type, key, code, text: type === 'keyDown' ? key : undefined});
  }
}

// The picture changes after `there`, and `back` brings back the identical picture.
async function expectRoundTrip(p, there, back) {
  const start = await p.shot();
  await there();
  await waitFor(async () => !(await p.shot()).equals(start), 'the picture to change');
  await back();
  await waitFor(async () => (await p.shot()).equals(start), 'the first picture again');
}

// A finger's tap, drag and long press at drawing-buffer pixels, and a tap on an on-screen
// key, as touch events sent through Chromium's protocol. A tap's two touch events, and a
// drag's first two, go out together, so that a page slow to take each one on a loaded
// machine does not see a long press in them; the protocol keeps their order.
function touch(p, type, points) {
  return p.cdp.send('Input.dispatchTouchEvent', {type, touchPoints: points.map(([x, y]) => ({x, y}))});
}
async function tapAtPage(p, x, y) {
  await Promise.all([touch(p, 'touchStart', [[x, y]]), touch(p, 'touchEnd', [])]);
}
const tap = (p, point) => tapAtPage(p, ...p.at(point));
async function drag(p, from, [dx, dy], steps = 2) {
  const [x, y] = p.at(from);
  const move = (i) => touch(p, 'touchMove', [[x + (dx * i) / steps, y + (dy * i) / steps]]);
  await Promise.all([touch(p, 'touchStart', [[x, y]]), move(1)]);
  for (let i = 2; i <= steps; i++) await move(i);
  await touch(p, 'touchEnd', []);
}
async function longPress(p, point) {
  await touch(p, 'touchStart', [p.at(point)]);
  await waitFor(() => p.menuOpen(), 'the menu to open under a long press');
  await touch(p, 'touchEnd', []);
}
async function tapKey(p, key) {
  const b = await (await p.page.$(`button[data-key="${key}"]`)).boundingBox();
  await tapAtPage(p, b.x + b.width / 2, b.y + b.height / 2);
}

// ---------------------------------------------------------------------------------------
// The program in a window of the native size
// ---------------------------------------------------------------------------------------

function inAWindow() {
  let p;
  setUp(async () => { p = current = await openPage(); });

  // First of all, WebGL works here; without it the run stops.
  check(`WebGL works in ${engineName}: a context, and the program's first picture`, async () => {
    const context = await p.page.evaluate(() => {
      const webgl = document.createElement('canvas').getContext('webgl');
      return webgl && `${webgl.getParameter(webgl.VERSION)}, ${webgl.getParameter(webgl.RENDERER)}`;
    });
    expect(context, 'no WebGL context');
    console.log(`# ${engineName}: ${context}`);
    await waitFor(async () => {
      const {pixels} = await p.shot();
      return pixels.some((value, i) => i % 4 < 3 && value > 40);
    }, 'the first picture');
  }, ESSENTIAL);

  check('loads without errors and draws the first picture', async () => {
    await p.running();
    await waitFor(async () => (await p.pixel(pitchCentre)).some((c) => c > 40), 'the table');
    const [r, g, b] = await p.pixel(pitchCentre);
    expect(Math.abs(r - g) < 30 && Math.abs(g - b) < 30, `the pitch is grey, not ${[r, g, b]}`);
    expect((await p.pixel([WIDTH / 2, 5])).every((c) => c < 10), 'the background above is black');
    expectNoProblems(p);
    expect(await p.page.$eval('#canvas', (c, w, h) => c.width === w && c.height === h, WIDTH, HEIGHT),
      `${WIDTH} x ${HEIGHT}`);
  });

  check('h prints the banner, line breaks first, at once', async () => {
    const printed = await p.output(() => p.page.keyboard.press('h'), BANNER, 'the banner');
    expect(printed === BANNER, `printed ${JSON.stringify(printed)}`);
  });

  check('camera keys change the picture and their opposites bring back the same one', async () => {
    const pairs = CAMERA_KEYS.slice(0, 3).map(([key, opposite]) =>
      [() => p.page.keyboard.press(key), () => p.page.keyboard.press(opposite)]);
    // "+" from a Spanish keyboard's own key (through Chromium's protocol), and "-".
    pairs.push(engine.cdp ? [() => typeOnLayout(p, '+', 'BracketRight'), () => typeOnLayout(p, '-', 'Slash')]
      : [() => p.page.keyboard.press('+'), () => p.page.keyboard.press('-')]);
    for (const [there, back] of pairs) await expectRoundTrip(p, there, back);
  });

  check('a click on the floor prints Escenario and Id: -1', async () => {
    await p.output(() => p.click(floorPoint), ' Escenario \n Id: -1 \n', 'the floor pick');
  });

  check('clicks on rods bind them; motion turns the bound rod; a second click releases', async () => {
    for (const index of [0, 3, 7]) {
      await p.output(() => p.click(rodPoint(index)), ` Id: ${index + 2} \n`, `rod ${index}`);
      const before = await p.shot();
      const [x, y] = p.at(rodPoint(index));
      // Chromium sends a move that does not move the pointer; X reports no motion for it.
      const inPlace = await p.quiet(() => p.page.mouse.move(x, y), {});
      expect(!inPlace.includes('Movimiento'), 'a move in place is no motion');
      await p.output(() => p.page.mouse.move(x + 30, y),
        `\nMovimiento del raton fijado a la barra ${index + 2}.`, 'the motion message');
      await waitFor(async () => !(await p.shot()).equals(before), 'the rod to turn');
      await p.output(() => p.page.mouse.click(x + 30, y), ' Id: ', 'the releasing pick');
      const moved = await p.quiet(async () => {
        await p.page.mouse.move(x + 60, y);
        await p.page.mouse.move(x, y);
      }, {mousemove: 1});
      expect(!moved.includes('Movimiento'), 'released, it stays');
    }
  });

  check('a release outside the menu chooses nothing', async () => {
    const [x, y] = p.at(floorPoint);
    await p.openMenu([x, y]);
    await p.page.mouse.move(x - 60, y - 60, {steps: 3});
    await p.page.mouse.up({button: 'right'});
    await waitFor(async () => !(await p.menuOpen()), 'the menu to close');
    // In the move-model mode this would pan and print.
    const printed = await p.quiet(() => p.page.mouse.move(x, y), {mousemove: 1});
    expect(printed === '', `printed ${JSON.stringify(printed)}`);
  });

  check('the ball, put on from the menu by dragging, is picked as the last rod', async () => {
    // Seen from the start, rod 1's bar passes 5 pixels from the ball's place; tilted 30
    // degrees more, 11 pixels, well clear of the 5-pixel pick region.
    const TILT_STEPS = 6;
    for (let i = 0; i < TILT_STEPS; i++) await p.page.keyboard.press('ArrowUp');
    const above = {...START_VIEW, tiltX: START_VIEW.tiltX + 5 * TILT_STEPS};
    try {
      await p.holdFrames();
      await p.chooseFromMenu(p.at(floorPoint), MENU['toggle-ball'], 'drag');
      // Frames are held, so the ball still stands where it starts.
      await p.output(() => p.click(project(BALL_START, above)), ' Id: 9 \n', 'the ball pick');
    } finally {
      await p.releaseFrames();
      for (let i = 0; i < TILT_STEPS; i++) await p.page.keyboard.press('ArrowDown');
    }
    await p.output(() => p.click(floorPoint), ' Id: -1 \n', 'the releasing pick');
  });

  check('the rolling ball hits players: Choque!', async () => {
    await waitFor(async () => (await p.consoleText()).includes('Choque!\n'), 'Choque!');
  });

  check('frames a second and the time of a pick', async () => {
    figures.fps = await p.framesPerSecond(3000);
    // Uncapped, the page and a WebGL page drawing as many lit triangles from static buffers
    // (web/test/ceiling.html) take turns, so that both see the same load on the machine.
    fs.copyFileSync(new URL('ceiling.html', import.meta.url), path.join(buildDir, 'ceiling.html'));
    fs.copyFileSync(new URL('../webgl_program.js', import.meta.url), path.join(buildDir, 'webgl_program.js'));
    // The ceiling opens in a window of its own for its turn and closes after it. Firefox
    // hands the test's hook no frame to run here, so the uncapped turns are Chromium's and
    // WebKit's.
    const uncapped = [], ceilings = [];
    try {
      for (let i = 0; i < 5 && engineName !== 'firefox'; i++) {
        uncapped.push(await p.uncappedFramesPerSecond(1200));
        const ceiling = await openProgram(engine, `${origin}/ceiling.html?width=${WIDTH}&height=${HEIGHT}`,
                                          {newPage: {type: 'window'}});
        try {
          await waitFor(() => ceiling.page.evaluate(() => window.ceilingFrames > 0), 'the ceiling page');
          figures.triangles = await ceiling.page.evaluate(() => window.ceilingTriangles);
          ceilings.push(await ceiling.uncappedFramesPerSecond(1200));
        } finally {
          await ceiling.close();
        }
      }
    } finally {
      await p.releaseFrames();
    }
    figures.uncapped = uncapped.length ? median(uncapped) : NaN;
    figures.ceiling = ceilings.length ? median(ceilings) : NaN;
    figures.pickMs = median(await p.pickTimes(floorPoint, 10, ' Id: -1 \n'));
    figures.pageBytes = pageFiles().concat('sw.js')
      .reduce((sum, file) => sum + fs.statSync(path.join(pageDir, file)).size, 0);
    expect(figures.fps > 5, `${figures.fps} frames a second`);
    expect(engineName === 'firefox' || (figures.uncapped > 0 && figures.ceiling > 0),
      `${figures.uncapped} and ${figures.ceiling} uncapped`);
    expect(figures.pageBytes <= 150000, `the page is ${figures.pageBytes} bytes`);
  });

  check('the menu by two clicks: MOVER MODELO pans by the pointer\'s current motion', async () => {
    const start = p.at(floorPoint);
    await p.page.mouse.move(...start);
    await p.chooseFromMenu(start, MENU['move-model'], 'clicks');
    expect(!(await p.menuOpen()), 'the menu closed');
    // Back where the last plain motion was: no jump. Then 110 pixels right, 11 units of
    // pan, exactly one rod spacing.
    await p.output(() => p.page.mouse.move(...start), '\nMoviendo Mundo', 'the pan message');
    await p.chooseFromMenu([start[0] + 110, start[1]], MENU['move-rods'], 'drag');
    // Rod 3's place now holds rod 2.
    const panned = project([rodX(3), ROD_AXIS_Y, 50], {...START_VIEW, panX: 11});
    await p.output(() => p.click(rodPoint(3)), ' Id: 4 \n', 'rod 2 at rod 3\'s place');
    expect(Math.abs(panned[0] - rodPoint(3)[0]) > 20, 'the pan moves rods on the screen');
  });

  check('Escape ends the program: no more frames or input, the page says so', async () => {
    await p.page.keyboard.press('Escape');
    await p.waitForStatus('ended');
    await p.expectInert(floorPoint);
    expectNoProblems(p);
  });

  check('"Salir" ends the program', async () => {
    const q = await openPage();
    await q.running();
    await q.chooseFromMenu(q.at(floorPoint), MENU.quit, 'clicks');
    await q.waitForStatus('ended');
    expectNoProblems(q);
    await q.close();
  });
}

// ---------------------------------------------------------------------------------------
// Any window, a phone and touch
// ---------------------------------------------------------------------------------------

// Resizes the page's window; the page must not scroll sideways, and the canvas must come to
// be beside or above the console (place) once the engine has laid the page out again.
async function resize(p, viewport, place) {
  await p.page.setViewport(viewport);
  let layout = null;
  const fits = async () => {
    layout = await p.page.evaluate(() => {
      const canvas = document.getElementById('canvas').getBoundingClientRect();
      const text = document.getElementById('console').getBoundingClientRect();
      return {sideways: document.documentElement.scrollWidth > window.innerWidth,
              beside: text.left >= canvas.right, above: text.top >= canvas.bottom};
    });
    return !layout.sideways && layout[place];
  };
  await waitFor(fits, `the page laid out at ${viewport.width} x ${viewport.height}`).catch((error) => {
    throw new Error(`${error.message}: ${JSON.stringify(layout)}, not ${place}`);
  });
}

function onADesk() {
  let desk;
  setUp(async () => { desk = current = await openPage({viewport: {width: 1600, height: 1000}, pinned: false}); });
  after(() => desk?.close());

  check('a desktop window resized from 1600 x 1000 to 900 x 700, then full screen: picks land', async () => {
    await desk.running();
    const fullScreen = async (on) => {
      const b = await (await desk.page.$('#fullscreen')).boundingBox();
      await desk.page.mouse.click(b.x + b.width / 2, b.y + b.height / 2);
      await waitFor(() => desk.page.evaluate((on) => !!document.fullscreenElement === on, on), 'full screen');
    };
    const changes = [[3, '1600 x 1000', () => resize(desk, {width: 1600, height: 1000}, 'beside')],
                     [6, '900 x 700', () => resize(desk, {width: 900, height: 700}, 'beside')],
                     [1, 'full screen', () => fullScreen(true)], [4, 'back from full screen', () => fullScreen(false)]];
    let last = {width: WIDTH}; // each change leaves the width before it, the first the native one
    for (const [index, name, change] of changes) {
      await change();
      const size = await desk.measure();
      expect(size.width !== last.width, `${name}: the canvas stays ${size.width} wide`);
      last = size;
      await desk.output(() => desk.click(rodPoint(index, size)), ` Id: ${index + 2} \n`, `rod ${index}, ${name}`);
      await desk.output(() => desk.click(floorAt(size)), ' Id: -1 \n', 'the releasing pick');
    }
    expectNoProblems(desk);
  });

  check('motion is plain while no button the page saw pressed is held, whatever events report', async () => {
    // A move with the right button reported held, as WebKitGTK reports every move after a
    // menu chosen by press-drag-release; sent through Chromium's protocol, which sets the
    // buttons.
    await desk.chooseFromMenu(desk.at(floorAt(desk.size)), MENU['move-model'], 'drag');
    const [x, y] = desk.at(floorAt(desk.size));
    await desk.output(() => desk.cdp.send('Input.dispatchMouseEvent', {type: 'mouseMoved', x: x + 40, y, buttons: 2}),
      '\nMoviendo Mundo', 'the pan message');
  }, CDP);
}

const PHONE = {width: 390, height: 844, deviceScaleFactor: 3, isMobile: true, hasTouch: true};

// Touch and a phone's screen are emulated through Chromium's protocol alone.
function onAPhone() {
  let phone;
  setUp(async () => {
    if (engine.cdp) phone = current = await openPage({viewport: PHONE, pinned: false});
  });
  after(() => phone?.close());

  check('a phone: the page fits upright and turned, the buffer follows, the keys show', async () => {
    await phone.running();
    for (const [width, height, place] of [[360, 740, 'above'], [844, 390, 'beside'], [390, 844, 'above']]) {
      await resize(phone, {...PHONE, width, height}, place);
      await phone.measure();
    }
    expect(await phone.page.$eval('[data-key=h]', (k) => k.getClientRects().length > 0), 'the on-screen keys show');
  }, CDP);

  check('a phone: each on-screen key does what one press of its key does', async () => {
    const press = (key) => () => phone.focus().then(() => phone.page.keyboard.press(key));
    for (const [key, opposite] of CAMERA_KEYS) {
      await expectRoundTrip(phone, () => tapKey(phone, key), press(opposite));
      await expectRoundTrip(phone, () => tapKey(phone, opposite), press(key));
    }
    const printed = await phone.output(() => tapKey(phone, 'h'), BANNER, 'the banner');
    expect(printed === BANNER, `printed ${JSON.stringify(printed)}`);
  }, CDP);

  check('a phone: a tap binds a rod, drags turn it from wherever the finger goes down', async () => {
    const size = phone.size;
    await phone.output(() => tap(phone, rodPoint(3, size)), ' Id: 5 \n', 'rod 3');
    const before = await phone.shot();
    await phone.output(() => drag(phone, floorAt(size), [30, 0]),
      '\nMovimiento del raton fijado a la barra 5.', 'the motion message');
    await waitFor(async () => !(await phone.shot()).equals(before), 'the rod to turn');
    // Dragged back as far from another place, the rod turns back: the pointer moved by the
    // finger's displacement only.
    await drag(phone, [size.width / 4, size.height - 20], [-30, 0]);
    await waitFor(async () => (await phone.shot()).equals(before), 'the rod back where it was');
    await phone.output(() => tap(phone, floorAt(size)), ' Id: -1 \n', 'the releasing pick');
  }, CDP);

  check('a phone: a long press opens the menu, a tap elsewhere closes it, a tap on an entry chooses', async () => {
    const text = await phone.consoleText();
    await longPress(phone, floorAt(phone.size));
    expect(await phone.menuOpen(), 'the menu stays open as the finger lifts');
    await phone.quiet(() => tap(phone, [10, 10]), {pointerup: 1});
    await waitFor(async () => !(await phone.menuOpen()), 'the menu to close');
    expect((await phone.consoleText()) === text, 'neither the long press nor the closing tap picks');
    await longPress(phone, floorAt(phone.size));
    const [x, y] = await phone.menuEntry(MENU['toggle-ball']);
    await phone.output(() => tapAtPage(phone, x, y), 'Choque!\n', 'the ball on, then Choque!');
    expect(!(await phone.menuOpen()), 'the menu closed');
  }, CDP);

  check('a phone: the Escape key ends the program', async () => {
    await tapKey(phone, 'Escape');
    await phone.waitForStatus('ended');
    expectNoProblems(phone);
  }, CDP);
}

// ---------------------------------------------------------------------------------------
// The page's life in a browser: a lost context, no network, a new release
// ---------------------------------------------------------------------------------------

// The files the page's service worker keeps, as its release named them; without a release
// (the build folder served as it is), the page's own three.
function pageFiles() {
  const worker = path.join(pageDir, 'sw.js');
  if (!fs.existsSync(worker)) return ['index.html', 'orlemaz.js', 'orlemaz.wasm'];
  const [, list] = fs.readFileSync(worker, 'utf8').match(/^const FILES = \[(.*)\];/m);
  return [...list.matchAll(/'([^']+)'/g)].map((m) => m[1]).filter((file) => file !== './');
}

// The share of two pictures' pixels that differ by more than levels in a channel.
// Each is a picture ({width, height, rgba(x, y)}).
function differingShare(one, other, levels) {
  if (one.width !== other.width || one.height !== other.height) return 1;
  let differing = 0;
  for (let y = 0; y < one.height; y++) {
    for (let x = 0; x < one.width; x++) {
      const [p, q] = [one.rgba(x, y), other.rgba(x, y)];
      if ([0, 1, 2].some((c) => Math.abs(p[c] - q[c]) > levels)) differing++;
    }
  }
  return differing / (one.width * one.height);
}

const workerActive = (q) => q.page.evaluate(async () => {
  const registration = navigator.serviceWorker && await navigator.serviceWorker.getRegistration();
  return !!(registration && registration.active && registration.active.state === 'activated');
});

function inItsLife() {
  let life;
  setUp(async () => {
    life = current = await openPage();
    await life.running();
  });
  after(() => life?.close());

  check('a lost WebGL context comes back with the same picture; picks go on throughout', async (t) => {
    if (!(await life.canLoseContext())) return skipped(t, `${engineName} offers no WEBGL_lose_context`);
    await waitFor(async () => (await life.pixel(pitchCentre)).some((c) => c > 40), 'the table');
    const before = await life.shot();
    await life.loseContext();
    figures.lostShare = differingShare(before, await life.shot(), 12);
    // Bound and released where it was clicked, the rod does not move: the picture stays.
    const pick = async (index, when) => {
      for (const what of ['binds', 'releases']) {
        await life.output(() => life.click(rodPoint(index)), ` Id: ${index + 2} \n`, `rod ${index} ${what}, ${when}`);
      }
    };
    await pick(3, 'the context lost');
    await life.restoreContext();
    let share = 1;
    await waitFor(async () => (share = differingShare(before, await life.shot(), 12)) <= 0.01,
                  'the picture from before the loss').catch((error) => {
      throw new Error(`${error.message}: ${(100 * share).toFixed(2)} % of pixels differ by more than 12 levels`);
    });
    figures.restoredShare = share;
    // WebKit shows the last picture while the context is lost: the restored context must
    // draw what comes next.
    await expectRoundTrip(life, () => life.page.keyboard.press('ArrowLeft'), () => life.page.keyboard.press('ArrowRight'));
    await pick(6, 'the context back');
    expectNoProblems(life);
  });

  check('Chromium finds the page installable', async () => {
    let errors = null;
    await waitFor(async () => {
      ({installabilityErrors: errors} = await life.cdp.send('Page.getInstallabilityErrors'));
      return errors.length === 0;
    }, 'no installability errors').catch((error) => {
      throw new Error(`${error.message}: ${JSON.stringify(errors)}`);
    });
  }, CDP);

  check('after one visit the page loads and plays with no network', async () => {
    await waitFor(() => workerActive(life), 'the service worker');
    server.offline = true;
    try {
      const q = await openPage();
      await q.running();
      await waitFor(async () => (await q.pixel(pitchCentre)).some((c) => c > 40), 'the table');
      await q.output(() => q.page.keyboard.press('h'), BANNER, 'the banner');
      await q.output(() => q.click(rodPoint(3)), ' Id: 5 \n', 'rod 3');
      expectNoProblems(q);
      await q.close();
    } finally {
      server.offline = false;
    }
  });

  check('a new release reaches a returning visitor within two loads, and the old one goes', async () => {
    // The next release: the same page marked as another, its worker's cache named anew.
    const next = fs.mkdtempSync(path.join(os.tmpdir(), 'orlemaz-next-'));
    fs.cpSync(pageDir, next, {recursive: true});
    const worker = path.join(next, 'sw.js'), index = path.join(next, 'index.html');
    const [, cache] = fs.readFileSync(worker, 'utf8').match(/^const CACHE = '([^']+)'/m);
    fs.writeFileSync(worker, fs.readFileSync(worker, 'utf8').replace(`'${cache}'`, `'${cache}-next'`));
    fs.writeFileSync(index, fs.readFileSync(index, 'utf8').replace('<title>', '<meta name="release" content="next"><title>'));
    const release = () => life.page.evaluate(() => document.querySelector('meta[name=release]')?.content ?? 'first');
    const cacheNames = () => life.page.evaluate(() => caches.keys());
    await waitFor(() => workerActive(life), 'the service worker');
    expect((await cacheNames()).join() === cache, `the caches are ${await cacheNames()}, not ${cache}`);
    server.dirs = [next, buildDir];
    try {
      await life.page.goto(`${origin}/index.html`);
      // The first load finds the new worker, which takes over and clears the old cache.
      await waitFor(async () => (await cacheNames()).join() === `${cache}-next`, 'the new release\'s cache alone');
      await life.page.goto(`${origin}/index.html`);
      expect((await release()) === 'next', `the second load shows the ${await release()} release`);
      await life.waitForStatus('is running');
    } finally {
      server.dirs = [pageDir, buildDir];
      fs.rmSync(next, {recursive: true, force: true});
    }
  });
}

// ---------------------------------------------------------------------------------------
// Selection and picture parity with Mesa
// ---------------------------------------------------------------------------------------

// One line per pick: "view x y hits: [names zmin zmax name ...] ...", or a console line.
function parseDump(text) {
  return text.split('\n').filter((line) => /^\d+ \d+ \d+ -?\d+:/.test(line)).map((line) => {
    const [head, rest] = line.split(':');
    const records = [...rest.matchAll(/\[([^\]]*)\]/g)].map((m) => m[1].split(' ').map(Number));
    return {head, records};
  });
}

// The pictures a dump holds, one a view: "PICTURE view width height", then per row "P" and
// its pixels' red, green and blue bytes in hexadecimal.
function parsePictures(text) {
  return text.split(/^PICTURE /m).slice(1).map((part) => {
    const [, width, height] = part.match(/^\d+ (\d+) (\d+)$/m) || [];
    const rows = part.split('\n').filter((line) => line.startsWith('P ')).map((line) => Buffer.from(line.slice(2), 'hex'));
    return {width: Number(width), height: Number(height), rows, rgba: (x, y) => [...rows[y].subarray(3 * x, 3 * x + 3)]};
  });
}

function besideMesa() {
  const dumps = {native: fs.readFileSync(nativeDumpFile, 'utf8'), web: ''};
  check('the web layer\'s hit records match Mesa\'s over the grid', async () => {
    const native = parseDump(dumps.native);
    const q = await openProgram(engine, `${origin}/pick_dump.html`, {viewport: WINDOW});
    await waitFor(async () => {
      expectNoProblems(q);
      return q.page.evaluate(() => window.pickDumpText().includes('END\n'));
    }, 'the browser pick dump', 120000);
    dumps.web = await q.page.evaluate(() => window.pickDumpText());
    await q.close();
    const web = parseDump(dumps.web);
    expect(native.length === web.length && native.length > 0, `${native.length} vs ${web.length} picks`);
    // Depths are scaled to 2^32. Both sides compute them in single precision, the
    // operations in different orders, so they agree to a few units in the last place (256
    // at the depths of this scene).
    const DEPTH_TOLERANCE = 2 ** 32 * 1e-6;
    let same = 0, maxDepth = 0;
    const differences = [];
    // Every word of every record agrees, the depths (words 1 and 2) within the tolerance.
    const recordsMatch = (a, b) => a.length === b.length && a.every((record, r) =>
      record.length === b[r].length && record.every((word, k) => {
        const d = Math.abs(word - b[r][k]);
        if (k !== 1 && k !== 2) return d === 0;
        maxDepth = Math.max(maxDepth, d);
        return d <= DEPTH_TOLERANCE;
      }));
    native.forEach((n, i) => {
      const w = web[i];
      if (n.head === w.head && recordsMatch(n.records, w.records)) same++;
      else if (differences.length < 5) differences.push(`${n.head}: ${JSON.stringify(n.records)} vs ${JSON.stringify(w.records)}`);
    });
    figures.parity = {points: native.length, same, maxDepth};
    const pickTime = (text) => Number((text.match(/^PICKS \d+, ([\d.]+) ms each$/m) || [])[1]);
    figures.gridPickMs = {web: pickTime(dumps.web), mesa: pickTime(dumps.native)};
    expect(same === native.length, `${native.length - same} picks differ: ${differences.join(' | ')}`);
  });

  // The views follow one another as frames do, so that each draw the layer kept from the
  // frame before must be placed and lit again where it moved.
  check('each view\'s picture is within 4 levels of Mesa\'s at 99.5 % of its pixels', async () => {
    const natives = parsePictures(dumps.native), webs = parsePictures(dumps.web);
    expect(natives.length === 3 && webs.length === natives.length, `${natives.length} and ${webs.length} pictures`);
    figures.pictures = natives.map((native, v) => {
      const web = webs[v];
      expect(native.width > 0 && native.rows.length === native.height, `Mesa's picture ${v} is whole`);
      expect(web.width === native.width && web.rows.length === native.height, `the page's picture ${v} is whole`);
      expect(native.rows.some((row) => row.some((byte) => byte > 40)), `Mesa's picture ${v} is not black`);
      return 100 * (1 - differingShare(native, web, 4));
    });
    const worst = Math.min(...figures.pictures);
    expect(worst >= 99.5, `${figures.pictures.map((f) => f.toFixed(2)).join(', ')} % of pixels within 4 levels`);
  });
}

// ---------------------------------------------------------------------------------------
// The run: the groups in turn, then the figures and the count
// ---------------------------------------------------------------------------------------

// A figure to print, or "-" where its check stopped before it.
function fixed(value, digits) { return Number.isFinite(value) ? value.toFixed(digits) : '-'; }

function printFigures(name) {
  if (figures.fps) {
    console.log(`${name}: frames a second: ${fixed(figures.fps, 1)} at the display's pace, ${fixed(figures.uncapped, 1)} uncapped; ` +
      `ceiling ${fixed(figures.ceiling, 1)} (${figures.triangles ?? '-'} lit triangles from static buffers), ` +
      `ratio ${fixed(figures.uncapped / figures.ceiling, 2)} (medians of 5 turns)`);
    console.log(`${name}: pick: ${fixed(figures.pickMs, 2)} ms (median of 10); page: ${fixed(figures.pageBytes / 1024, 0)} KiB`);
  }
  if (figures.restoredShare !== undefined) {
    console.log(`${name}: a lost context: ${fixed(100 * figures.lostShare, 2)} % of pixels differ while lost, ` +
      `${fixed(100 * figures.restoredShare, 2)} % once it is back (more than 12 levels)`);
  }
  if (figures.pictures) console.log(`${name}: pictures of the three views: ${figures.pictures.map((f) => fixed(f, 2)).join(', ')} % of pixels within 4 levels of Mesa's`);
  if (figures.parity) {
    const {points, same, maxDepth} = figures.parity;
    console.log(`${name}: parity: ${same} of ${points} picks match Mesa's, largest depth difference ${maxDepth} (of 2^32)`);
    const {web, mesa} = figures.gridPickMs;
    console.log(`${name}: a pick of the grid, its line printed: ${fixed(web, 3)} ms in the page, ${fixed(mesa, 3)} ms under Mesa`);
  }
  if (tally.chromiumOnly.length) console.log(`${name}: left to Chromium: ${tally.chromiumOnly.join('; ')}`);
}

describe(engineName, () => {
  if (launchError) {
    it(`${engineName} starts`, () => {
      tally.failed++;
      throw launchError;
    });
    return;
  }
  describe('the program in a window of its native size', inAWindow);
  describe('a desktop window resized and full screen', onADesk);
  describe('a phone and touch', onAPhone);
  describe('the page\'s life: a lost context, no network, a new release', inItsLife);
  describe('parity with Mesa', besideMesa);
});

after(async () => {
  await engine?.close().catch(() => {});
  server.close();
  printFigures(engineName);
  console.log(`${engineName}: ${tally.passed} passed, ${tally.failed} failed`);
  if (tally.failed) process.exitCode = 1;
  // The virtual X server and the drivers' pipes may hold the process open: end it once the
  // runner has written its report.
  setTimeout(() => process.exit(), 5000).unref();
});
