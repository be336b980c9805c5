// WebKit for the browser tests: Debian's WebKitWebDriver (webkit2gtk-driver)
// and its MiniBrowser, driven with plain WebDriver HTTP calls, behind the
// part of puppeteer's Browser and Page that the tests use:
//   browser.newPage(), browser.close()
//   page.goto(url), page.evaluate(fn, ...args), page.waitForFunction(fn, {timeout}, ...args),
//   page.waitForSelector(selector, {timeout}), page.$(selector) then handle.uploadFile(...paths),
//   page.click(selector), page.$eval(selector, fn, ...args), page.$$eval(selector, fn, ...args),
//   page.setViewport({width, height}), page.on('console' | 'pageerror' | 'request', listener)
// Functions run in the page as their source text, so they see only their
// arguments, which (like their results) go through JSON: plain values only.
// Events come from listeners the adapter puts in the page after each goto,
// and are reported at the next call: 'console' (errors only), 'pageerror'
// (uncaught errors and rejections), and 'request' from the page's resource
// timing and its Content-Security-Policy violations (what a policy blocked,
// in the page or its workers where the browser reports it to the page).
// Without a display (no DISPLAY), the driver runs under `xvfb-run -a`.
import {spawn} from 'node:child_process';
import {createServer} from 'node:net';

const driverPath = process.env.AIFCONV_WEBKIT_DRIVER || '/usr/bin/WebKitWebDriver';

const freePort = () => new Promise((resolve, reject) => {
  const server = createServer();
  server.on('error', reject);
  server.listen(0, '127.0.0.1', () => {
    const {port} = server.address();
    server.close(() => resolve(port));
  });
});
const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

// Puts a function's source and its JSON arguments into a script for Execute
// Async Script: it calls back with {value} or {thrown}.
function script(body) {
  return `const done = arguments[arguments.length - 1];
const args = Array.prototype.slice.call(arguments, 0, -1);
Promise.resolve().then(() => (${body})(...args)).then(
  (value) => done({value: value === undefined ? null : value}),
  (error) => done({thrown: String(error) + (error && error.stack ? '\\n' + error.stack : '')}));`;
}

// Reports the page's errors into window.__webdriverProblems: console.error
// calls, uncaught errors and unhandled rejections.
const collector = () => {
  if (window.__webdriverProblems) return;
  const problems = window.__webdriverProblems = [];
  const consoleError = console.error.bind(console);
  console.error = (...args) => { problems.push(['console', args.map(String).join(' ')]); consoleError(...args); };
  window.addEventListener('error', (event) => problems.push(['pageerror', event.message]));
  window.addEventListener('unhandledrejection', (event) => problems.push(['pageerror', String(event.reason)]));
  document.addEventListener('securitypolicyviolation', (event) => problems.push(['request', event.blockedURI]));
  new PerformanceObserver((list) => {
    for (const entry of list.getEntries()) problems.push(['request', entry.name]);
  }).observe({type: 'resource', buffered: true});
};

class Page {
  constructor(call) {
    this.call = call;
    this.listeners = {console: [], pageerror: [], request: []};
  }
  on(event, listener) {
    if (!this.listeners[event]) throw new Error(`webdriver.mjs: no '${event}' events in WebKit`);
    this.listeners[event].push(listener);
  }
  async run(body, args) {
    const result = await this.call('POST', '/execute/async', {script: script(body), args});
    if (result.thrown !== undefined) throw new Error(`in the page: ${result.thrown}`);
    await this.report();
    return result.value;
  }
  async report() {
    const problems = await this.call('POST', '/execute/sync',
      {script: 'const p = window.__webdriverProblems || []; return p.splice(0, p.length);', args: []});
    for (const [type, text] of problems) {
      for (const listener of this.listeners[type]) {
        listener(type === 'console' ? {type: () => 'error', text: () => text}
                 : type === 'request' ? {url: () => text} : new Error(text));
      }
    }
  }
  async goto(url) {
    await this.call('POST', '/url', {url});
    for (const listener of this.listeners.request) listener({url: () => url});
    await this.call('POST', '/execute/sync', {script: `(${collector})();`, args: []});
  }
  evaluate(fn, ...args) {
    return this.run(fn.toString(), args);
  }
  async waitForFunction(fn, {timeout = 30000} = {}, ...args) {
    const until = Date.now() + timeout;
    for (;;) {
      const value = await this.evaluate(fn, ...args);
      if (value) return value;
      if (Date.now() > until) throw new Error(`waitForFunction: timed out after ${timeout} ms: ${fn}`);
      await sleep(100);
    }
  }
  waitForSelector(selector, {timeout = 30000} = {}) {
    return this.waitForFunction((s) => document.querySelector(s) !== null, {timeout}, selector);
  }
  async $(selector) {
    const found = await this.call('POST', '/elements', {using: 'css selector', value: selector});
    if (found.length === 0) return null;
    const element = Object.values(found[0])[0];
    const call = this.call;
    return {
      // A file input takes its files as one text of paths, a line each.
      uploadFile: (...paths) => call('POST', `/element/${element}/value`, {text: paths.join('\n')}),
      click: () => call('POST', `/element/${element}/click`, {}),
    };
  }
  async click(selector) {
    const handle = await this.$(selector);
    if (!handle) throw new Error(`click: no element matches ${selector}`);
    await handle.click();
    await this.report();
  }
  $eval(selector, fn, ...args) {
    return this.run(`(selector, ...args) => {
      const element = document.querySelector(selector);
      if (!element) throw new Error('no element matches ' + selector);
      return (${fn})(element, ...args);
    }`, [selector, ...args]);
  }
  $$eval(selector, fn, ...args) {
    return this.run(`(selector, ...args) => (${fn})([...document.querySelectorAll(selector)], ...args)`,
                    [selector, ...args]);
  }
  // The window's size: WebDriver has no viewport of its own.
  setViewport({width, height}) {
    return this.call('POST', '/window/rect', {width, height});
  }
}

// Starts the driver and one session of its browser (MiniBrowser unless
// `binary` says otherwise).
export async function launch({binary, args = [], timeout = 120000} = {}) {
  const port = await freePort();
  const command = process.env.DISPLAY ? [driverPath] : ['xvfb-run', '-a', driverPath];
  const driver = spawn(command[0], [...command.slice(1), `--port=${port}`],
                       {stdio: ['ignore', 'ignore', 'pipe'], detached: true});
  // The driver's and browser's warnings (D-Bus, GStreamer), kept for a failure to launch.
  let log = '';
  driver.stderr.on('data', (data) => { log = (log + data).slice(-4000); });
  const exited = new Promise((resolve) => driver.on('exit', resolve));
  const base = `http://127.0.0.1:${port}`;
  async function call(method, path, body) {
    const response = await fetch(base + path, {method, headers: {'content-type': 'application/json'},
                                               body: body && JSON.stringify(body)});
    const {value} = await response.json();
    if (value && value.error) throw new Error(`WebDriver ${method} ${path}: ${value.error}: ${value.message}`);
    return value;
  }
  const stop = async () => {
    try { process.kill(-driver.pid, 'SIGTERM'); } catch { /* already gone */ }
    await exited;
  };
  try {
    for (let ready = false; !ready;) {
      if (driver.exitCode !== null) throw new Error(`${driverPath} exited (${driver.exitCode}):\n${log}`);
      ready = await call('GET', '/status').then((status) => status.ready, () => false);
      if (!ready) await sleep(100);
    }
    const options = {args: ['--automation', ...args], ...(binary ? {binary} : {})};
    const {sessionId} = await call('POST', '/session',
      {capabilities: {alwaysMatch: {'webkitgtk:browserOptions': options}}});
    const session = (method, path, body) => call(method, `/session/${sessionId}${path}`, body);
    await session('POST', '/timeouts', {script: timeout});
    return {
      newPage: async () => new Page(session),
      close: async () => {
        await session('DELETE', '').catch(() => {});
        await stop();
      },
    };
  } catch (error) {
    await stop();
    throw error;
  }
}
