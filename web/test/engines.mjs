// The toolkit every run of the page in a browser shares: the browser check
// (browser_test.mjs), the storm (storm.mjs), the Lighthouse audit (lighthouse.mjs) and the
// page benchmark. What it gives:
//   readFacts(tool)            the program's outward facts (camera_points facts): window
//                              size, camera keys and their opposites, menu labels, banner
//   serve(...dirs)             a static server of the page's folders on 127.0.0.1
//   startVirtualDisplay()      an X server of its own for the engines that draw in a window
//   launchEngine(name, size, display)  chromium, firefox or webkit, each behind a page
//                              shaped like puppeteer's Page (goto, evaluate, $, $$, $eval,
//                              mouse, keyboard, setViewport, screenshot, on, close)
//   openProgram(engine, url, {viewport, pinned, newPage})  a page of the program (ProgramPage):
//     running(), waitForStatus(text): waits for the program to run (and measures the
//                              canvas), or for the status line to say text
//     measure(), at(point)     the drawing buffer's size; page coordinates of a buffer pixel
//     output(action, text)     what the program prints after an action, once it holds text
//     quiet(action, types)     runs an action and waits until the page has taken its input
//                              events and drawn a frame since (for "nothing happens")
//     framesAsked(), holdFrames(), releaseFrames(): the frame hook
//     framesPerSecond(ms), uncappedFramesPerSecond(ms): frames a second at the display's
//                              pace, and with each frame run as soon as it is asked for
//     pickTimes(point, count)  the time of the whole left-press handler, count clicks
//     openMenu(at), menuEntry(label), chooseFromMenu(at, label, way): the pop-up menu
//     loseContext(), restoreContext(): the WebGL context, through WEBGL_lose_context
//     expectInert(at)          after the end: frames, keys, clicks and menu do nothing
//   waitFor(condition, what, deadline), median(values), decodePng(png): a picture with
//   rgba(x, y) and equals(other), as ProgramPage.shot() gives the canvas's
// The engines:
//   chromium  headless Chromium through puppeteer-core (the DevTools protocol);
//   firefox   Firefox ESR through puppeteer-core over WebDriver BiDi, in a window;
//   webkit    WebKitGTK's MiniBrowser through WebKitWebDriver and selenium-webdriver, in a
//             window.
// Headless Firefox and WebKit draw no WebGL, so their windows go on a virtual X server that
// startVirtualDisplay starts and that ends with this process.
import {execFileSync, spawn} from 'node:child_process';
import fs from 'node:fs';
import http from 'node:http';
import net from 'node:net';
import os from 'node:os';
import path from 'node:path';
import {PNG} from 'pngjs';
import puppeteer from 'puppeteer-core';
import {Builder, Button, By, Capabilities, Key, Origin} from 'selenium-webdriver';

export const ENGINES = ['chromium', 'firefox', 'webkit'];
const SCREEN = '1920x1200x24'; // room for the largest window the checks ask for
const DEADLINE_MS = 60000; // for a browser or its driver to start on a loaded machine

// The program's outward facts, as its own headers declare them: camera_points facts.
export const readFacts = (tool) => JSON.parse(execFileSync(tool, ['facts']));

export const median = (values) => [...values].sort((a, b) => a - b)[Math.floor(values.length / 2)];

// Polls an async condition until it holds or the deadline passes; gives its value.
export async function waitFor(condition, what, deadline = 20000) {
  const end = Date.now() + deadline;
  for (;;) {
    const value = await condition();
    if (value) return value;
    if (Date.now() > end) throw new Error(`timed out waiting for ${what}`);
    await new Promise((resolve) => setTimeout(resolve, 50));
  }
}

const TYPES = {'.html': 'text/html', '.js': 'text/javascript', '.wasm': 'application/wasm',
               '.json': 'application/json', '.webmanifest': 'application/manifest+json',
               '.png': 'image/png', '.svg': 'image/svg+xml', '.css': 'text/css'};
// Serves on 127.0.0.1, on a free port, the first of dirs (server.dirs) that has the file
// asked for, '/' being index.html; gives the listening server. While server.offline is set
// every request fails as on a machine without a network.
export function serve(...dirs) {
  const server = http.createServer((request, response) => {
    const dirs = server.dirs;
    if (server.offline) {
      request.socket.destroy();
      return;
    }
    let name = path.normalize(decodeURIComponent(request.url.split('?')[0]));
    if (name.endsWith('/')) name += 'index.html';
    const found = dirs.map((dir) => path.join(dir, name)).find((file) => fs.existsSync(file));
    fs.readFile(found || '', (error, data) => {
      if (error) {
        response.writeHead(404);
        response.end();
        return;
      }
      response.writeHead(200, {'Content-Type': TYPES[path.extname(found)] || 'application/octet-stream'});
      response.end(data);
    });
  });
  server.dirs = dirs;
  return new Promise((resolve) => server.listen(0, '127.0.0.1', () => resolve(server)));
}

// Starts Xvfb on a display it picks itself (-displayfd) and gives that display, ':N'. The
// server does not reset when its last client leaves: the camera tool connects once a point.
export function startVirtualDisplay() {
  const server = spawn('Xvfb', ['-displayfd', '3', '-screen', '0', SCREEN, '-nolisten', 'tcp',
                                '-noreset'], {stdio: ['ignore', 'ignore', 'pipe', 'pipe']});
  process.on('exit', () => server.kill());
  // Ended by a signal, the process still runs its exit handlers, so the server ends too.
  for (const signal of ['SIGINT', 'SIGTERM', 'SIGHUP']) process.once(signal, () => process.exit(1));
  let said = '', number = '';
  server.stderr.on('data', (data) => { said += data; });
  return new Promise((resolve, reject) => {
    server.stdio[3].on('data', (data) => {
      number += data;
      if (number.includes('\n')) resolve(`:${number.trim()}`);
    });
    server.on('error', reject);
    server.on('exit', (code) => reject(new Error(`Xvfb ended (${code}): ${said.trim()}`)));
  });
}

// Starts the engine's browser with a window of the given inner size; display is the virtual
// X server for the engines that need one. Gives {name, version, cdp, newPage(), close()}:
// cdp says whether Chromium's DevTools protocol is there (page.createCDPSession, touch).
export async function launchEngine(name, {width, height}, display) {
  if (name === 'chromium') {
    const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'orlemaz-chromium-'));
    const browser = await puppeteer.launch({
      executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
      headless: true,
      userDataDir: profile,
      timeout: DEADLINE_MS,
      args: ['--headless', '--no-sandbox', '--use-angle=swiftshader', '--enable-unsafe-swiftshader',
             '--disable-background-networking', '--disable-component-update', '--disable-sync',
             '--no-first-run', '--disable-quic', `--window-size=${width},${height}`],
    });
    return puppeteerEngine(name, browser, () => fs.rmSync(profile, {recursive: true, force: true}));
  }
  if (name === 'firefox') {
    const browser = await puppeteer.launch({
      browser: 'firefox',
      protocol: 'webDriverBiDi',
      executablePath: process.env.FIREFOX || '/usr/bin/firefox-esr',
      headless: false,
      timeout: DEADLINE_MS,
      env: {...process.env, DISPLAY: display},
      args: [`--width=${width}`, `--height=${height}`],
      // Timers to the microsecond, as in the other engines, not rounded to the millisecond.
      extraPrefsFirefox: {'privacy.reduceTimerPrecision': false},
    });
    return puppeteerEngine(name, browser, () => {});
  }
  if (name === 'webkit') return webkitEngine(display);
  throw new Error(`no engine "${name}" (one of ${ENGINES.join(', ')})`);
}

function puppeteerEngine(name, browser, cleanUp) {
  return {
    name,
    cdp: name === 'chromium',
    version: () => browser.version(),
    newPage: (options) => browser.newPage(options),
    close: async () => {
      await browser.close();
      cleanUp();
    },
  };
}

// ---------------------------------------------------------------------------------------
// A page of the program
// ---------------------------------------------------------------------------------------

const SANITIZER_REPORT = /AddressSanitizer|UndefinedBehaviorSanitizer|LeakSanitizer|runtime error:/;

// Installed in the page before the program asks for its first frame: counts the frames
// the program asks for (the toolchain asks through window.requestAnimationFrame, looked
// up at every call) and holds them back while window.heldFrames is an array; counts the
// input events the page takes; keeps the display's own requestAnimationFrame.
function pageHooks() {
  const request = window.requestAnimationFrame.bind(window);
  window.displayFrame = request;
  window.framesAsked = 0;
  window.heldFrames = null;
  window.requestAnimationFrame = (frame) => {
    window.framesAsked++;
    return window.heldFrames ? window.heldFrames.push(frame) : request(frame);
  };
  window.releaseFrames = () => {
    const waiting = window.heldFrames || [];
    window.heldFrames = null;
    waiting.forEach((frame) => request(frame));
  };
  window.inputSeen = {};
  for (const type of ['keydown', 'mousedown', 'mouseup', 'mousemove', 'touchend', 'pointerup']) {
    window.addEventListener(type, () => { window.inputSeen[type] = (window.inputSeen[type] || 0) + 1; }, true);
  }
}

// Opens url in a new page of the engine (newPage: its options, such as {type: 'window'}).
// viewport takes puppeteer's setViewport options (a phone's are Chromium's alone); pinned, a
// {width, height}, holds the canvas's box at that size. The page records what it reports:
// errors (page errors, console errors, sanitizer reports) and warnings.
export async function openProgram(engine, url, {viewport = null, pinned = null, newPage} = {}) {
  const page = await engine.newPage(newPage);
  if (viewport) await page.setViewport(viewport);
  const p = new ProgramPage(engine, page, viewport);
  page.on('pageerror', (error) => p.errors.push(`page error: ${error.message}`));
  page.on('console', (message) => {
    const text = message.text();
    if (message.type() === 'error' || SANITIZER_REPORT.test(text)) p.errors.push(text);
    else if (['warn', 'warning'].includes(message.type())) p.warnings.push(text);
  });
  await page.goto(url);
  await page.evaluate(pageHooks);
  if (pinned) {
    await page.evaluate(({width, height}) => document.head.insertAdjacentHTML('beforeend',
      `<style>#screen { flex: none !important; width: ${width}px !important; height: ${height}px !important; }</style>`), pinned);
  }
  p.canvas = await page.$('#canvas');
  p.cdp = engine.cdp ? await page.createCDPSession() : null;
  await p.measure(false);
  return p;
}

class ProgramPage {
  constructor(engine, page, viewport) {
    Object.assign(this, {engine, page, viewport, errors: [], warnings: [], canvas: null, cdp: null,
                         size: null, box: null});
  }
  // What the page reported that a check holds against it: errors and warnings.
  problems() { return [...this.errors, ...this.warnings]; }
  status() { return this.page.$eval('#status', (e) => e.textContent); }
  consoleText() { return this.page.$eval('#console', (e) => e.textContent); }
  // The canvas's picture (decodePng's), in the engine's own way.
  async shot() { return this.canvas.picture ? this.canvas.picture() : decodePng(await this.canvas.screenshot()); }
  // Gives the canvas the keyboard's focus, in every engine.
  focus() { return this.canvas.evaluate((c) => c.focus()); }
  // Waits until the status line says text.
  waitForStatus(text, deadline) {
    return waitFor(async () => (await this.status()).includes(text), `the page to say "${text}"`, deadline);
  }
  // Waits for the program to start, then measures the canvas once its buffer follows it.
  async running(deadline = 20000) {
    await this.waitForStatus('is running', deadline);
    return this.measure();
  }
  // Reads the canvas's place and its buffer's size, at once or (follow) once the buffer
  // follows the canvas's box: its CSS size times the pixel ratio, at most the page's limit.
  async measure(follow = true) {
    await waitFor(() => !follow || this.canvas.evaluate((c) => {
      const rect = c.getBoundingClientRect(), ratio = Math.min(devicePixelRatio, Module.MAX_PIXEL_RATIO);
      return c.width === Math.round(rect.width * ratio) && c.height === Math.round(rect.height * ratio);
    }), 'the drawing buffer to follow the canvas');
    this.box = await this.canvas.boundingBox();
    return (this.size = await this.canvas.evaluate((c) => ({width: c.width, height: c.height})));
  }
  // Page coordinates of a drawing-buffer pixel.
  at([x, y]) {
    return [this.box.x + (x * this.box.width) / this.size.width, this.box.y + (y * this.box.height) / this.size.height];
  }
  click(point, options = {}) { return this.page.mouse.click(...this.at(point), options); }
  // The colour of a drawing-buffer pixel, in a picture that may have more pixels than the
  // buffer.
  async pixel([x, y]) {
    const shot = await this.shot();
    return shot.rgba(Math.floor((x * shot.width) / this.size.width), Math.floor((y * shot.height) / this.size.height));
  }
  // Runs action; gives what the program prints from then on, once it is not empty and
  // holds text.
  async output(action, text = '', what = `output holding ${JSON.stringify(text)}`) {
    const before = (await this.consoleText()).length;
    await action();
    const printed = async () => (await this.consoleText()).slice(before);
    try {
      await waitFor(async () => {
        const now = await printed();
        return now.length > 0 && now.includes(text);
      }, what);
    } catch (error) {
      throw new Error(`${error.message}; printed ${JSON.stringify((await printed()).slice(0, 200))}`);
    }
    return printed();
  }
  // Runs action, then waits until the page has taken as many more input events of each
  // type as given ({mousemove: 1}, ...) and the display has shown two frames since (or a
  // second has passed), so that whatever the input would do has been done; gives what the
  // program printed meanwhile.
  async quiet(action, types) {
    const seen = () => this.page.evaluate(() => ({...window.inputSeen}));
    const [before, text] = [await seen(), (await this.consoleText()).length];
    await action();
    await waitFor(async () => {
      const now = await seen();
      return Object.entries(types).every(([type, n]) => (now[type] || 0) >= (before[type] || 0) + n);
    }, `the page to take ${JSON.stringify(types)}`);
    await this.page.evaluate(() => new Promise((resolve) => {
      setTimeout(resolve, 1000);
      window.displayFrame(() => window.displayFrame(resolve));
    }));
    return (await this.consoleText()).slice(text);
  }

  // The frame hook.
  framesAsked() { return this.page.evaluate(() => window.framesAsked); }
  holdFrames() { return this.page.evaluate(() => { window.heldFrames = window.heldFrames || []; }); }
  releaseFrames() { return this.page.evaluate(() => window.releaseFrames()); }
  // Frames a second at the display's pace, over ms milliseconds.
  framesPerSecond(ms) {
    return this.page.evaluate((ms) => new Promise((resolve) => {
      let frames = 0;
      const start = performance.now();
      const frame = () => {
        frames++;
        if (performance.now() - start < ms) requestAnimationFrame(frame);
        else resolve((frames * 1000) / (performance.now() - start));
      };
      requestAnimationFrame(frame);
    }), ms);
  }
  // Frames a second over ms milliseconds with every frame asked for run at once, not at
  // the display's pace, each finished (a one-pixel readPixels) before the next. Holds the
  // frames first, starts once the page has asked for one, and holds them after. While
  // window.frameTimes is an array, each frame's milliseconds on the page's thread go in it.
  async uncappedFramesPerSecond(ms) {
    await this.holdFrames();
    await waitFor(() => this.page.evaluate(() => window.heldFrames.length > 0), 'a frame to hold');
    return this.page.evaluate((ms) => new Promise((resolve) => {
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
      const webgl = document.getElementById('canvas').getContext('webgl');
      const pixel = new Uint8Array(4);
      const start = performance.now();
      channel.port1.onmessage = () => {
        const now = waiting;
        waiting = [];
        now.forEach((frame) => {
          const before = performance.now();
          frames++;
          frame(before);
          if (window.frameTimes) window.frameTimes.push(performance.now() - before);
        });
        if (webgl) webgl.readPixels(0, 0, 1, 1, webgl.RGBA, webgl.UNSIGNED_BYTE, pixel);
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
  // The time of the whole left-press handler, in milliseconds, for count clicks at a
  // drawing-buffer point, each waited for until the program prints text.
  async pickTimes(point, count, text) {
    await this.page.evaluate(() => {
      window.pickTimes = [];
      let start = 0;
      window.addEventListener('mousedown', () => { start = performance.now(); }, true);
      window.addEventListener('mousedown', () => window.pickTimes.push(performance.now() - start));
    });
    for (let i = 0; i < count; i++) await this.output(() => this.click(point), text, 'a pick');
    return this.page.evaluate(() => window.pickTimes);
  }

  // The pop-up menu.
  menuOpen() { return this.page.$('.glut-menu').then((menu) => menu !== null); }
  // Opens the menu with the right button at page point `at`, and keeps the button down.
  async openMenu([x, y]) {
    await this.page.mouse.move(x, y);
    await this.page.mouse.down({button: 'right'});
    await waitFor(() => this.menuOpen(), 'the menu to open');
  }
  // The open menu's entries: {label, box} each, box in page coordinates.
  async menuEntries() {
    const entries = [];
    for (const entry of await this.page.$$('.glut-menu-entry')) {
      entries.push({label: await entry.evaluate((e) => e.textContent), box: await entry.boundingBox()});
    }
    return entries;
  }
  // The centre of the open menu's entry with the given label, in page coordinates.
  async menuEntry(label) {
    const entry = (await this.menuEntries()).find((e) => e.label === label);
    if (!entry) throw new Error(`no menu entry "${label}"`);
    return [entry.box.x + entry.box.width / 2, entry.box.y + entry.box.height / 2];
  }
  // Chooses label from the menu opened at page point `at`: by pressing the right button,
  // dragging onto the entry and releasing it there ('drag'), or by a right click and a
  // click on the entry ('clicks'); `to` is a page point on the entry (its centre if not
  // given).
  async chooseFromMenu(at, label, way, to = null) {
    if (way === 'drag') {
      await this.openMenu(at);
      await this.page.mouse.move(...(to || await this.menuEntry(label)), {steps: 3});
      await this.page.mouse.up({button: 'right'});
    } else {
      await this.page.mouse.click(...at, {button: 'right'});
      await waitFor(() => this.menuOpen(), 'the menu to open');
      await this.page.mouse.click(...(to || await this.menuEntry(label)));
    }
  }

  // The WebGL context, through WEBGL_lose_context, whose object outlives the context (asked
  // for while it is lost, it is null); the page's context events are kept in
  // window.contextEvents.
  canLoseContext() { return this.page.evaluate(() => !!Module.ctx.getExtension('WEBGL_lose_context')); }
  async contextEvent(type, call) {
    await this.page.evaluate((call) => {
      if (!window.loseContext) {
        window.loseContext = Module.ctx.getExtension('WEBGL_lose_context');
        for (const type of ['webglcontextlost', 'webglcontextrestored']) {
          Module.canvas.addEventListener(type, () => window.contextEvents.push(type));
        }
      }
      window.contextEvents = [];
      window.loseContext[call]();
    }, call);
    await waitFor(() => this.page.evaluate((type) => window.contextEvents.includes(type), type), `the ${type} event`);
  }
  // Loses the context and waits until the page has heard of it.
  loseContext() { return this.contextEvent('webglcontextlost', 'loseContext'); }
  // Gives the context back and waits until the page has heard of it.
  restoreContext() { return this.contextEvent('webglcontextrestored', 'restoreContext'); }

  // After the program's end: held frames run, a camera key, h, a click and a right click at
  // drawing-buffer point `at` draw nothing, print nothing, open no menu and leave the
  // picture as it was.
  async expectInert(at) {
    const [text, picture] = [await this.consoleText(), await this.shot()];
    await this.page.evaluate(() => {
      const context = Module.ctx, clear = context.clear.bind(context);
      window.clears = 0;
      context.clear = (...args) => {
        window.clears++;
        return clear(...args);
      };
      window.releaseFrames();
    });
    await this.focus();
    const printed = await this.quiet(async () => {
      for (const key of ['ArrowLeft', 'h']) await this.page.keyboard.press(key);
      await this.click(at);
      await this.click(at, {button: 'right'});
    }, {keydown: 2, mousedown: 2});
    if (printed) throw new Error(`printed ${JSON.stringify(printed)}`);
    const clears = await this.page.evaluate(() => window.clears);
    if (clears) throw new Error(`${clears} frames drawn`);
    if (await this.menuOpen()) throw new Error('a menu opened');
    if (!(await this.shot()).equals(picture)) throw new Error('the picture changed');
    if ((await this.consoleText()) !== text) throw new Error('the console changed');
  }
  close() { return this.page.close(); }
}

// ---------------------------------------------------------------------------------------
// WebKitGTK: WebDriver classic through selenium-webdriver
// ---------------------------------------------------------------------------------------

const MINIBROWSER = '/usr/lib/x86_64-linux-gnu/webkit2gtk-4.1/MiniBrowser';

function freePort() {
  return new Promise((resolve, reject) => {
    const server = net.createServer().on('error', reject);
    server.listen(0, '127.0.0.1', () => {
      const {port} = server.address();
      server.close(() => resolve(port));
    });
  });
}

async function webkitEngine(display) {
  const port = await freePort();
  const driverProcess = spawn(process.env.WEBKIT_WEBDRIVER || '/usr/bin/WebKitWebDriver',
                              [`--port=${port}`], {stdio: 'ignore', env: {...process.env, DISPLAY: display}});
  process.on('exit', () => driverProcess.kill());
  const capabilities = new Capabilities({
    browserName: 'MiniBrowser',
    'webkitgtk:browserOptions': {binary: process.env.MINIBROWSER || MINIBROWSER, args: ['--automation']},
  });
  // The driver takes a moment to listen: retry the session until the deadline.
  const end = Date.now() + DEADLINE_MS;
  let driver;
  for (;;) {
    try {
      driver = await new Builder().usingServer(`http://127.0.0.1:${port}`)
        .withCapabilities(capabilities).build();
      break;
    } catch (error) {
      if (Date.now() > end) throw new Error(`WebKitWebDriver did not start: ${error.message}`);
      await new Promise((resolve) => setTimeout(resolve, 200));
    }
  }
  const session = {driver, window: null, first: true};
  return {
    name: 'webkit',
    cdp: false,
    version: async () => `MiniBrowser/${(await driver.getCapabilities()).get('browserVersion')}`,
    newPage: async () => {
      if (!session.first) await driver.switchTo().newWindow('window');
      session.first = false;
      return new WebDriverPage(session, await driver.getWindowHandle());
    },
    close: async () => {
      await driver.quit().catch(() => {});
      driverProcess.kill();
    },
  };
}

const BUTTONS = {left: Button.LEFT, middle: Button.MIDDLE, right: Button.RIGHT};
const KEYS = {ArrowLeft: Key.ARROW_LEFT, ArrowRight: Key.ARROW_RIGHT, ArrowUp: Key.ARROW_UP,
              ArrowDown: Key.ARROW_DOWN, Escape: Key.ESCAPE, Enter: Key.ENTER, Tab: Key.TAB,
              Backspace: Key.BACK_SPACE, Shift: Key.SHIFT};

// Collects what the page reports as errors, for the 'pageerror' and 'console' listeners:
// WebDriver classic has no events. Installed after each load, so it misses what happens
// while the page loads (a program that fails then never says it is running).
function collectErrors() {
  if (window.pageErrors) return;
  window.pageErrors = [];
  window.addEventListener('error', (event) => window.pageErrors.push(['pageerror', event.message]));
  window.addEventListener('unhandledrejection',
                          (event) => window.pageErrors.push(['pageerror', String(event.reason)]));
  for (const [method, type] of [['error', 'error'], ['warn', 'warning']]) {
    const original = console[method].bind(console);
    console[method] = (...args) => {
      window.pageErrors.push([type, args.join(' ')]);
      original(...args);
    };
  }
}

class WebDriverPage {
  constructor(session, handle) {
    this.session = session;
    this.handle = handle;
    this.listeners = {pageerror: [], console: []};
    this.mouse = new WebDriverMouse(this);
    this.keyboard = {
      press: async (key) => {
        const code = KEYS[key] || key;
        await (await this.actions()).keyDown(code).keyUp(code).perform();
      },
    };
  }

  // The session's driver, switched to this page's window.
  async driver() {
    const {driver} = this.session;
    if (this.session.window !== this.handle) {
      await driver.switchTo().window(this.handle);
      this.session.window = this.handle;
    }
    return driver;
  }
  async actions() { return (await this.driver()).actions({async: true}); }

  on(event, listener) { this.listeners[event].push(listener); }
  async goto(url) {
    await (await this.driver()).get(url);
    await this.evaluate(collectErrors);
  }
  // Runs fn(...args) in the page, awaits what it returns, and hands on the errors collected.
  async evaluate(fn, ...args) {
    const [value, errors] = await (await this.driver()).executeScript(
      `return Promise.resolve((${fn}).apply(null, arguments)).then(
         (value) => [value, window.pageErrors ? window.pageErrors.splice(0) : []]);`, ...args);
    for (const [type, text] of errors) {
      if (type === 'pageerror') this.listeners.pageerror.forEach((listener) => listener(new Error(text)));
      else this.listeners.console.forEach((listener) => listener({type: () => type, text: () => text}));
    }
    return value;
  }
  async $$(selector) {
    const elements = await (await this.driver()).findElements(By.css(selector));
    return elements.map((element) => new WebDriverElement(this, element));
  }
  async $(selector) { return (await this.$$(selector))[0] || null; }
  async $eval(selector, fn, ...args) {
    const element = await this.$(selector);
    if (!element) throw new Error(`no element matches ${selector}`);
    return element.evaluate(fn, ...args);
  }
  // Sets the size of the page's viewport: the window, less what the browser's own parts take.
  async setViewport({width, height, deviceScaleFactor = 1, isMobile = false, hasTouch = false}) {
    if (deviceScaleFactor !== 1 || isMobile || hasTouch) {
      throw new Error('WebDriver cannot make WebKit a phone: leave that check to Chromium (CDP)');
    }
    // The page takes its new size a moment after the window does: each step waits for it to
    // change and corrects the window by what the page still lacks, from fresh reads. A step
    // that changes nothing ends it (the window's smallest size is the browser's to choose).
    const frame = (await this.driver()).manage().window();
    const inner = () => this.evaluate(() => [window.innerWidth, window.innerHeight]);
    let size = await inner();
    for (let step = 0; step < 6 && (size[0] !== width || size[1] !== height); step++) {
      const rect = await frame.getRect(), before = size;
      await frame.setRect({width: rect.width + width - size[0], height: rect.height + height - size[1]});
      const changed = await waitFor(async () => (size = await inner())[0] !== before[0] || size[1] !== before[1],
                                    'the page to take its new size', 5000).catch(() => false);
      if (!changed) break;
    }
  }
  async screenshot() { return Buffer.from(await (await this.driver()).takeScreenshot(), 'base64'); }
  async close() {
    const {driver} = this.session;
    await (await this.driver()).close();
    const [other] = await driver.getAllWindowHandles();
    if (other) await driver.switchTo().window(other);
    this.session.window = other;
  }
}

class WebDriverElement {
  constructor(page, element) {
    this.page = page;
    this.element = element;
  }
  evaluate(fn, ...args) { return this.page.evaluate(fn, this.element, ...args); }
  boundingBox() {
    return this.evaluate((e) => {
      const r = e.getBoundingClientRect();
      return {x: r.x, y: r.y, width: r.width, height: r.height};
    });
  }
  // The element's picture, decoded. WebKit's picture of a WebGL canvas alone is caught in
  // the middle of a frame: take the window's and cut the element out.
  async picture() {
    const box = await this.boundingBox();
    const scale = await this.page.evaluate(() => window.devicePixelRatio);
    return crop(decodePng(await this.page.screenshot()), box, scale);
  }
}

// WebDriver positions are whole CSS pixels: a point is taken up to the next one, which lies
// inside the same canvas pixel where a canvas pixel is at least a CSS pixel wide.
class WebDriverMouse {
  constructor(page) {
    this.page = page;
    this.x = 0;
    this.y = 0;
  }
  async move(x, y, {steps = 1} = {}) {
    const actions = await this.page.actions();
    for (let i = 1; i <= steps; i++) {
      actions.move({origin: Origin.VIEWPORT, duration: 0,
                    x: Math.ceil(this.x + ((x - this.x) * i) / steps),
                    y: Math.ceil(this.y + ((y - this.y) * i) / steps)});
    }
    await actions.perform();
    [this.x, this.y] = [x, y];
  }
  async down({button = 'left'} = {}) { await (await this.page.actions()).press(BUTTONS[button]).perform(); }
  async up({button = 'left'} = {}) { await (await this.page.actions()).release(BUTTONS[button]).perform(); }
  async click(x, y, {button = 'left'} = {}) {
    await this.move(x, y);
    await (await this.page.actions()).press(BUTTONS[button]).release(BUTTONS[button]).perform();
  }
}

// ---------------------------------------------------------------------------------------
// PNG pictures
// ---------------------------------------------------------------------------------------

// Decodes a PNG screenshot into a picture.
export function decodePng(png) {
  const {width, height, data} = PNG.sync.read(png);
  return picture(width, height, data);
}

// A picture of 8-bit RGBA pixels: {width, height, pixels, rgba(x, y), equals(other)}.
function picture(width, height, pixels) {
  const rgba = (x, y) => [...pixels.subarray((y * width + x) * 4, (y * width + x) * 4 + 3)];
  const equals = (other) => other.width === width && other.height === height && other.pixels.equals(pixels);
  return {width, height, pixels, rgba, equals};
}

// The part of a picture under a box in CSS pixels, at scale device pixels to the CSS pixel.
function crop(whole, box, scale) {
  const left = Math.round(box.x * scale), top = Math.round(box.y * scale);
  const width = Math.round(box.width * scale), height = Math.round(box.height * scale);
  const pixels = Buffer.alloc(width * height * 4);
  for (let y = 0; y < height; y++) {
    const start = ((top + y) * whole.width + left) * 4;
    whole.pixels.copy(pixels, y * width * 4, start, start + width * 4);
  }
  return picture(width, height, pixels);
}
