// Pictures of the extension's context-menu entries: a headed Chromium on the
// X display of the environment (scripts/browsershots starts Xvfb) with the
// unpacked extension; a right-click on a link and on a selection opens the
// browser's own menu, which only a picture of the screen shows.
//
//   node browsershots.mjs EXTENSION_DIR OUT_DIR
// puppeteer-core is the one the browser test installs under tests/browser.
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import http from 'node:http';
import os from 'node:os';
import { createRequire } from 'node:module';
import path from 'node:path';

const puppeteer = createRequire(new URL('../tests/browser/', import.meta.url))('puppeteer-core');

const [extension, outDir] = process.argv.slice(2);
const tmp = fs.mkdtempSync(path.join(os.tmpdir(), 'zorv-menus-'));
const page1 = `<!DOCTYPE html><html lang="ja"><head><meta charset="utf-8"><title>ダウンロード</title>
<style>body{font:16px sans-serif;margin:40px}</style></head><body>
<h1>配布ファイル</h1>
<p id="intro">最新版: <a id="one" href="/files/zorv-1.0.0.tar.gz">zorv-1.0.0.tar.gz</a>、
説明書: <a href="/files/manual.pdf">manual.pdf</a>、ミラー: <a href="ftp://127.0.0.1/pub/zorv.tar.gz">FTP</a></p>
</body></html>`;
const server = http.createServer((req, res) => {
  res.writeHead(200, { 'Content-Type': 'text/html; charset=utf-8' });
  res.end(page1);
});
await new Promise((r) => server.listen(0, '127.0.0.1', r));

fs.mkdirSync(outDir, { recursive: true });
const shoot = (name) => {
  const xwd = path.join(tmp, 'screen.xwd');
  execFileSync('xwd', ['-root', '-silent', '-out', xwd]);
  execFileSync(new URL('xwd2png', import.meta.url).pathname, [xwd, path.join(outDir, name)]);
};

// A browser of its own for each menu: an open menu holds the input, and
// nothing sent through the DevTools protocol closes it.
async function menuShot(name, prepare) {
  const browser = await puppeteer.launch({
    executablePath: process.env.ZORV_CHROMIUM ?? '/usr/bin/chromium',
    headless: false,
    pipe: true,
    userDataDir: fs.mkdtempSync(path.join(tmp, 'profile-')),
    enableExtensions: [extension],
    defaultViewport: null,
    env: { ...process.env, LANG: 'ja_JP.UTF-8', LANGUAGE: 'ja' },
    args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
      '--disable-component-update', '--disable-sync', '--lang=ja', '--window-position=0,0', '--window-size=900,600'],
  });
  try {
    await browser.waitForTarget((t) => t.type() === 'service_worker', { timeout: 20000 });
    const page = (await browser.pages())[0];
    await page.goto(`http://127.0.0.1:${server.address().port}/`);
    await new Promise((r) => setTimeout(r, 1000));
    const [x, y] = await prepare(page);
    await page.mouse.click(x, y, { button: 'right' });
    await new Promise((r) => setTimeout(r, 1500));
    shoot(name);
  } finally {
    await browser.close();
  }
}

try {
  await menuShot('extension-menu-link.png', async (page) => {
    const box = await (await page.$('#one')).boundingBox();
    return [box.x + 20, box.y + box.height / 2];
  });
  await menuShot('extension-menu-selection.png', async (page) => {
    await page.evaluate(() => {
      const range = document.createRange();
      range.selectNodeContents(document.getElementById('intro'));
      getSelection().removeAllRanges();
      getSelection().addRange(range);
    });
    const box = await (await page.$('#intro')).boundingBox();
    return [box.x + 5, box.y + box.height / 2];
  });
} finally {
  server.close();
  fs.rmSync(tmp, { recursive: true, force: true });
}
