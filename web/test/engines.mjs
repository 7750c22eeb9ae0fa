// The three browser engines the browser check runs in, each behind a page shaped like
// puppeteer's Page (goto, evaluate, $, $$, $eval, mouse, keyboard, setViewport, screenshot,
// on('pageerror' | 'console'), close):
//   chromium  headless Chromium through puppeteer-core (the DevTools protocol);
//   firefox   Firefox ESR through puppeteer-core over WebDriver BiDi, in a window;
//   webkit    WebKitGTK's MiniBrowser through WebKitWebDriver and selenium-webdriver, in a
//             window.
// Headless Firefox and WebKit draw no WebGL, so their windows go on a virtual X server that
// startVirtualDisplay starts and that ends with this process. Also what every run in a
// browser shares: the static server of the page's folder and the wait for a condition.
import {spawn} from 'node:child_process';
import fs from 'node:fs';
import http from 'node:http';
import net from 'node:net';
import os from 'node:os';
import path from 'node:path';
import zlib from 'node:zlib';
import puppeteer from 'puppeteer-core';
import {Builder, Button, By, Capabilities, Key, Origin} from 'selenium-webdriver';

export const ENGINES = ['chromium', 'firefox', 'webkit'];
const SCREEN = '1920x1200x24'; // room for the largest window the checks ask for
const DEADLINE_MS = 60000; // for a browser or its driver to start on a loaded machine

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
  async actions() {
    return (await this.driver()).actions({async: true});
  }

  on(event, listener) {
    this.listeners[event].push(listener);
  }
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
  async $(selector) {
    return (await this.$$(selector))[0] || null;
  }
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
    const frame = (await this.driver()).manage().window();
    await frame.setRect({width, height});
    const [innerWidth, innerHeight] = await this.evaluate(() => [window.innerWidth, window.innerHeight]);
    await frame.setRect({width: 2 * width - innerWidth, height: 2 * height - innerHeight});
  }
  async screenshot() {
    return Buffer.from(await (await this.driver()).takeScreenshot(), 'base64');
  }
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
  evaluate(fn, ...args) {
    return this.page.evaluate(fn, this.element, ...args);
  }
  boundingBox() {
    return this.evaluate((e) => {
      const r = e.getBoundingClientRect();
      return {x: r.x, y: r.y, width: r.width, height: r.height};
    });
  }
  // WebKit's picture of a WebGL canvas alone is caught in the middle of a frame: take the
  // window's and cut the element out.
  async screenshot() {
    const box = await this.boundingBox();
    const scale = await this.page.evaluate(() => window.devicePixelRatio);
    return cropPng(await this.page.screenshot(), box, scale);
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
  async down({button = 'left'} = {}) {
    await (await this.page.actions()).press(BUTTONS[button]).perform();
  }
  async up({button = 'left'} = {}) {
    await (await this.page.actions()).release(BUTTONS[button]).perform();
  }
  async click(x, y, {button = 'left'} = {}) {
    await this.move(x, y);
    await (await this.page.actions()).press(BUTTONS[button]).release(BUTTONS[button]).perform();
  }
}

// ---------------------------------------------------------------------------------------
// PNG pictures
// ---------------------------------------------------------------------------------------

// Decodes a PNG screenshot (8-bit RGB or RGBA, not interlaced) into {width, height, channels,
// pixels, rgba(x, y)}.
export function decodePng(png) {
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
  return {width, height, channels, rgba, pixels};
}

// Encodes 8-bit RGB or RGBA pixels as a PNG, every row unfiltered.
function encodePng(width, height, channels, pixels) {
  const chunk = (type, data) => {
    const head = Buffer.alloc(8);
    head.writeUInt32BE(data.length, 0);
    head.write(type, 4, 'ascii');
    const crc = Buffer.alloc(4);
    crc.writeUInt32BE(zlib.crc32(Buffer.concat([head.subarray(4), data])));
    return Buffer.concat([head, data, crc]);
  };
  const header = Buffer.alloc(13);
  header.writeUInt32BE(width, 0);
  header.writeUInt32BE(height, 4);
  header.set([8, channels === 4 ? 6 : 2, 0, 0, 0], 8);
  const stride = width * channels;
  const raw = Buffer.alloc(height * (stride + 1));
  for (let y = 0; y < height; y++) pixels.copy(raw, y * (stride + 1) + 1, y * stride, (y + 1) * stride);
  return Buffer.concat([Buffer.from([137, 80, 78, 71, 13, 10, 26, 10]), chunk('IHDR', header),
                        chunk('IDAT', zlib.deflateSync(raw)), chunk('IEND', Buffer.alloc(0))]);
}

// The part of a PNG under a box in CSS pixels, at scale device pixels to the CSS pixel.
function cropPng(png, box, scale) {
  const picture = decodePng(png);
  const left = Math.round(box.x * scale), top = Math.round(box.y * scale);
  const width = Math.round(box.width * scale), height = Math.round(box.height * scale);
  const stride = picture.width * picture.channels;
  const pixels = Buffer.alloc(width * height * picture.channels);
  for (let y = 0; y < height; y++) {
    const start = (top + y) * stride + left * picture.channels;
    picture.pixels.copy(pixels, y * width * picture.channels, start, start + width * picture.channels);
  }
  return encodePng(width, height, picture.channels, pixels);
}
