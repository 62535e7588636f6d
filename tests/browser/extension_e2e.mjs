// The zorv extension in a real browser: headless Chromium or Firefox with
// the extension, its native messaging host (the build's zorv) and a real zorv
// window on the offscreen platform, all with a private home, settings and
// runtime folder.
//
//   node extension_e2e.mjs chromium|firefox ZORV HOST_WRAPPER EXTENSION_DIR SHOT_DIR
//
// A headless browser has no native context menu to click, so the menu
// entries' handler is called in the extension's background (Chromium's
// service worker, Firefox's event page) with what the browser would pass it.
// Browser downloads are started by clicks in the page. Exit 0 passed,
// 1 failed, 77 skipped (no such browser).
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import http from 'node:http';
import os from 'node:os';
import path from 'node:path';

import puppeteer from 'puppeteer-core';

const [kind, zorv, hostWrapper, extensionSource, shotDir] = process.argv.slice(2);
const firefox = kind === 'firefox';
const BROWSER = firefox ? (process.env.ZORV_FIREFOX ?? '/usr/bin/firefox-esr') : (process.env.ZORV_CHROMIUM ?? '/usr/bin/chromium');
const HOST = 'org.quillmere.zorv';
const EXTENSION_ID = 'cmbbbgmehlnnojaonnmpabaknblghfcl';
const FIREFOX_ID = 'zorv@quillmere.invalid';
// Firefox names an extension's pages by a random id unless told one.
const FIREFOX_UUID = '6d2e6b8a-0c1e-4a57-9a8e-3f1f4e2b7c11';
const origin = firefox ? `moz-extension://${FIREFOX_UUID}` : `chrome-extension://${EXTENSION_ID}`;

if (!fs.existsSync(BROWSER)) {
  console.log(`SKIP: no ${kind} at ${BROWSER} (scripts/deps.sh installs Debian's chromium and firefox-esr)`);
  process.exit(77);
}

const tmp = fs.mkdtempSync(path.join(os.tmpdir(), 'zorv-e2e-'));
const home = path.join(tmp, 'home');
const config = path.join(home, '.config');
const runtime = path.join(tmp, 'run');
const profile = path.join(tmp, 'profile');
const downloads = path.join(home, 'Downloads');
const dest = path.join(tmp, 'dl');
const list = path.join(tmp, 'browser.zorv');
for (const d of [profile, downloads, path.join(config, 'Quillmere')]) fs.mkdirSync(d, { recursive: true });
fs.mkdirSync(runtime, { mode: 0o700 });

const env = { ...process.env, HOME: home, XDG_CONFIG_HOME: config, XDG_RUNTIME_DIR: runtime,
  QT_QPA_PLATFORM: 'offscreen', LANG: 'ja_JP.UTF-8', LANGUAGE: 'ja' };
delete env.DISPLAY;
delete env.WAYLAND_DISPLAY;
const zorvCli = (...args) => execFileSync(zorv, args, { env, encoding: 'utf8' });

// The items of the list file: [url, destination, name, referrer] per line.
const items = () => zorvCli('--list', list).split('\n').filter(Boolean)
  .map((line) => line.split('\t')).map(([, , url, folder, name, referrer]) => ({ url, folder, name, referrer }));
const listed = (url) => items().find((i) => i.url === url);

async function until(what, test, ms = 20000) {
  const end = Date.now() + ms;
  for (;;) {
    const value = await test();
    if (value) return value;
    if (Date.now() > end) throw new Error(`timed out waiting for ${what}`);
    await new Promise((r) => setTimeout(r, 200));
  }
}

// The zorv processes of this test (the window the host started): those
// whose environment names this test's runtime folder.
function ourZorvs() {
  return fs.readdirSync('/proc').filter((pid) => {
    try { // a process gone meanwhile, or not ours, throws
      return fs.readFileSync(`/proc/${pid}/environ`, 'latin1').split('\0').includes(`XDG_RUNTIME_DIR=${runtime}`)
        && path.basename(fs.readlinkSync(`/proc/${pid}/exe`)) === 'zorv';
    } catch {
      return false;
    }
  }).map(Number);
}

// ---- the web page --------------------------------------------------------------

const page1 = `<!DOCTYPE html><html><head><meta charset="utf-8"><title>files</title></head><body>
<p id="intro">Files: <a id="one" href="/files/one.bin">one</a>,
<a href="/files/two.zip" download="second.zip">two</a>, <a href="javascript:void(0)">script</a>,
<a href="mailto:someone@example.invalid">mail</a>, <a href="ftp://127.0.0.1:1/pub/three.txt">three</a>,
<a href="/files/two.zip">two again</a>.</p>
<p id="outside"><a href="/files/outside.bin">outside</a> <a id="dl" href="/download/four">download</a>
<a id="blob" href="#">blob</a> <a id="small" href="/download/small">small</a></p>
<script>
document.getElementById('blob').addEventListener('click', (e) => {
  e.preventDefault();
  const a = document.createElement('a');
  a.href = URL.createObjectURL(new Blob(['made in the page']));
  a.download = 'made.txt';
  a.click();
});
</script>
</body></html>`;

const server = http.createServer((req, res) => {
  if (req.url.startsWith('/page.html')) {
    res.writeHead(200, { 'Content-Type': 'text/html; charset=utf-8' });
    res.end(page1);
  } else if (req.url === '/download/four') {
    // Slow enough that the browser is still at it when the host answers.
    res.writeHead(200, { 'Content-Type': 'application/octet-stream',
      'Content-Disposition': 'attachment; filename="four-server.bin"', 'Content-Length': String(1 << 20) });
    res.write(Buffer.alloc(1024));
    setTimeout(() => res.end(Buffer.alloc((1 << 20) - 1024)), 15000).unref();
  } else if (req.url === '/download/small') {
    res.writeHead(200, { 'Content-Type': 'application/octet-stream', 'Content-Disposition': 'attachment; filename="small.bin"' });
    res.end('small');
  } else {
    res.writeHead(200, { 'Content-Type': 'application/octet-stream' });
    res.end('data');
  }
});
await new Promise((r) => server.listen(0, '127.0.0.1', r));
const base = `http://127.0.0.1:${server.address().port}`;
const pageUrl = `${base}/page.html?x=1`;

// ---- zorv: settings and the most recent list -------------------------------------

fs.writeFileSync(path.join(config, 'Quillmere', 'zorv.conf'),
  `[Settings]\nAutoSave=1\nProxySetting=1\nDefaultDestination=${dest}\n\n[Recent%20File%20List]\nFile1=${list}\n`);
zorvCli('--add', list, `${base}/files/seed.bin`);

// ---- the browser -------------------------------------------------------------------

// The unpacked extension with one addition: access to the test page. In use,
// the context-menu click itself grants that (activeTab); a call from here is
// no click.
const extension = path.join(tmp, 'extension');
fs.cpSync(extensionSource, extension, { recursive: true });
const manifest = JSON.parse(fs.readFileSync(path.join(extension, 'manifest.json'), 'utf8'));
manifest.host_permissions = ['http://127.0.0.1/*'];
fs.writeFileSync(path.join(extension, 'manifest.json'), JSON.stringify(manifest));

const hostManifest = { name: HOST, description: 'zorv', path: hostWrapper, type: 'stdio',
  ...(firefox ? { allowed_extensions: [FIREFOX_ID] } : { allowed_origins: [`chrome-extension://${EXTENSION_ID}/`] }),
};
// Chromium reads the host manifests of a custom profile from the profile,
// Firefox those of the user from the home folder.
const hostDir = firefox ? path.join(home, '.mozilla', 'native-messaging-hosts') : path.join(profile, 'NativeMessagingHosts');
fs.mkdirSync(hostDir, { recursive: true });
fs.writeFileSync(path.join(hostDir, `${HOST}.json`), JSON.stringify(hostManifest));

const common = { executablePath: BROWSER, headless: true, userDataDir: profile, env };
let browser;
if (firefox) {
  // Installed in the profile before the start (ESR takes it unsigned when
  // told to), so that its options page can be the first page: the remote
  // protocol may not open extension pages.
  fs.mkdirSync(path.join(profile, 'extensions'));
  execFileSync('cmake', ['-E', 'tar', 'cf', path.join(profile, 'extensions', `${FIREFOX_ID}.xpi`), '--format=zip',
    ...fs.readdirSync(extension)], { cwd: extension });
  browser = await puppeteer.launch({
    ...common,
    browser: 'firefox',
    extraPrefsFirefox: {
      'extensions.webextensions.uuids': JSON.stringify({ [FIREFOX_ID]: FIREFOX_UUID }),
      'xpinstall.signatures.required': false,
      'extensions.autoDisableScopes': 0,
      'extensions.enabledScopes': 15,
    },
    args: [`${origin}/options.html`],
  });
} else {
  browser = await puppeteer.launch({
    ...common,
    pipe: true,
    enableExtensions: [extension],
    args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
      '--disable-component-update', '--disable-sync', '--lang=ja'],
  });
}

let failed = false;
try {
  // The options page: the extension's APIs for the test, and the switches.
  let options;
  if (firefox) {
    options = await until('the options page', async () => (await browser.pages()).find((p) => p.url().startsWith(origin)));
  } else {
    options = await browser.newPage();
    await options.goto(`${origin}/options.html`);
  }
  await options.setViewport({ width: 720, height: 420 });
  const api = (fn, ...args) => options.evaluate(fn, ...args);
  const shot = (suffix) => options.screenshot({ path: path.join(shotDir, `extension-options-${kind}${suffix}.png`) });
  // The browser's downloads of `url` (the blob: ones without it) once
  // `done` holds for them.
  const download = (what, url, done) => until(what, () => api(async (url) =>
    (await chrome.downloads.search(url ? { url } : {})).filter((d) => url || d.url.startsWith('blob:')), url)
    .then((found) => (done(found) ? found : null)));
  const complete = (found) => found.length && found[0].state === 'complete';

  // Both entries are in the browser's context menu (an update of a missing
  // entry fails).
  await until('the context-menu entries', () => api(() => Promise.all(['zorv-link', 'zorv-selection']
    .map((id) => chrome.contextMenus.update(id, {}))).then(() => true, () => false)));

  const page = await browser.newPage();
  await page.goto(pageUrl);
  // A click on an entry of the extension's context menu, on the test page.
  let menu;
  if (firefox) {
    menu = (info) => api(async (info) => {
      const [tab] = (await browser.tabs.query({})).filter((t) => t.url === info.pageUrl);
      return (await browser.runtime.getBackgroundPage()).onMenuClicked(info, tab);
    }, info);
  } else {
    const worker = await (await browser.waitForTarget(
      (t) => t.type() === 'service_worker' && t.url() === `${origin}/background.js`, { timeout: 20000 })).worker();
    menu = (info) => worker.evaluate(async (info) => {
      const [tab] = (await chrome.tabs.query({})).filter((t) => t.url === info.pageUrl);
      return onMenuClicked(info, tab);
    }, info);
  }
  const menuOnLink = (file) => menu({ menuItemId: 'zorv-link', linkUrl: `${base}/files/${file}`, pageUrl, frameId: 0 });

  // 1. 「zorv でダウンロード」 on a link: no window runs yet, so the host
  //    starts one with the most recent list and hands the link over.
  assert.deepEqual(ourZorvs(), []);
  await menuOnLink('one.bin');
  await until('the link in the list', () => listed(`${base}/files/one.bin`));
  assert.equal(ourZorvs().length, 1, 'the host started one zorv window');
  assert.deepEqual(items()[1], { url: `${base}/files/one.bin`, folder: dest, name: 'one.bin', referrer: pageUrl });

  // 2. 「選択範囲のリンクをすべて zorv へ」 over the first paragraph: its
  //    http(s) and ftp links in page order, each once; one.bin is listed
  //    already and is not added twice.
  await page.evaluate(() => {
    const range = document.createRange();
    range.selectNodeContents(document.getElementById('intro'));
    getSelection().removeAllRanges();
    getSelection().addRange(range);
  });
  await menu({ menuItemId: 'zorv-selection', pageUrl, frameId: 0, selectionText: 'Files' });
  await until('the selection in the list', () => items().length >= 4);
  assert.deepEqual(items().map((i) => [i.url, i.name, i.referrer]), [
    [`${base}/files/seed.bin`, 'seed.bin', ''], [`${base}/files/one.bin`, 'one.bin', pageUrl],
    [`${base}/files/two.zip`, 'second.zip', pageUrl], ['ftp://127.0.0.1:1/pub/three.txt', 'three.txt', pageUrl]]);
  assert.equal(ourZorvs().length, 1, 'the running window took the selection');

  // 3. The take-over of browser downloads, switched on in the options page
  //    (where it is off at first). A blob: download stays with the browser.
  await options.bringToFront();
  assert.equal(await options.$eval('#takeOver', (box) => box.checked), false);
  fs.mkdirSync(shotDir, { recursive: true });
  await shot('');
  await options.click('#takeOver');
  await until('the switch stored', () => api(async () => (await chrome.storage.local.get('takeOver')).takeOver === true));
  await options.click('#test');
  await until('the connection check', () => options.$eval('#status', (s) => s.className === 'ok'));
  await shot('-checked');

  await page.bringToFront();
  await page.click('#dl');
  const four = await until('the download in the list', () => listed(`${base}/download/four`));
  assert.equal(four.name, 'four-server.bin', 'the name the browser suggested');
  assert.equal(four.referrer, pageUrl);
  const left = await download('the browser to let go of the download', `${base}/download/four`,
    (found) => found.every((d) => d.state !== 'in_progress'));
  assert.ok(left.every((d) => d.state !== 'complete'), 'the browser did not finish the download itself');
  assert.ok(!fs.existsSync(path.join(downloads, 'four-server.bin')));

  await page.click('#blob');
  const [blob] = await download('the blob download', '', complete);
  assert.equal(path.basename(blob.filename), 'made.txt');
  assert.ok(!items().some((i) => i.url.startsWith('blob:')));

  // Without a host to answer, the browser keeps its download. The manifest
  // is pointed at a missing program rather than removed, so that a zorv
  // installed on this machine (whose manifests the browsers would find
  // next) does not answer in its place.
  fs.writeFileSync(path.join(hostDir, `${HOST}.json`), JSON.stringify({ ...hostManifest, path: path.join(tmp, 'no-such-host') }));
  await page.click('#small');
  const [small] = await download('the browser to finish the download itself', `${base}/download/small`, complete);
  assert.equal(fs.readFileSync(small.filename, 'utf8'), 'small');
  assert.ok(!items().some((i) => i.url.endsWith('/download/small')));
  // ... and a link that cannot be handed over is named on the options page.
  await menuOnLink('late.bin');
  await until('the failure on the options page', () =>
    options.$eval('#lastError', (p) => !p.hidden && p.textContent.includes('files/late.bin')));
  await shot('-failed');

  console.log(`PASS (${kind}): link, selection and download reached the zorv window`);
} catch (e) {
  failed = true;
  console.error('FAIL:', e);
} finally {
  await browser.close();
  server.close();
  for (const pid of ourZorvs()) {
    try { process.kill(pid, 'SIGKILL'); } catch { /* ended meanwhile */ }
  }
  fs.rmSync(tmp, { recursive: true, force: true });
}
process.exit(failed ? 1 : 0);
