// The zorv extension's background: the two context-menu entries and the
// optional take-over of the browser's downloads. Links go to zorv through
// its native messaging host (zorv --native-messaging), each with the page as
// referrer and the file name the browser would give it.
//
// One file for both browsers: Chromium runs it as the service worker,
// Firefox as an event page (manifest background.service_worker / .scripts).
'use strict';

const api = globalThis.browser ?? globalThis.chrome;

const HOST = 'org.quillmere.zorv';
const MENU_LINK = 'zorv-link';
const MENU_SELECTION = 'zorv-selection';
const SCHEMES = new Set(['http:', 'https:', 'ftp:']);
const DEFAULTS = { takeOver: false, bringToFront: false };
// The host takes at most 1 MiB a message: a long selection goes in several.
const BATCH_BYTES = 512 * 1024;

function isFetchable(url) {
  try {
    return SCHEMES.has(new URL(url).protocol);
  } catch {
    return false;
  }
}

// The page as the referrer a browser sends: http(s) only, without its fragment.
function referrerOf(pageUrl) {
  try {
    const u = new URL(pageUrl);
    if (u.protocol !== 'http:' && u.protocol !== 'https:') return '';
    u.hash = '';
    return u.href;
  } catch {
    return '';
  }
}

function baseName(path) {
  return (path ?? '').split(/[\\/]/).pop();
}

function settings() {
  return api.storage.local.get(DEFAULTS);
}

// Sends the items ({url, referrer, filename}) to zorv; resolves with the
// number added, rejects when zorv does not take them.
async function sendToZorv(items) {
  const { bringToFront } = await settings();
  const batches = [[]];
  let bytes = 0;
  for (const item of items) {
    const size = new TextEncoder().encode(JSON.stringify(item)).length + 1;
    if (bytes + size > BATCH_BYTES && batches.at(-1).length > 0) {
      batches.push([]);
      bytes = 0;
    }
    batches.at(-1).push(item);
    bytes += size;
  }
  let added = 0;
  for (const batch of batches) {
    const reply = await api.runtime.sendNativeMessage(HOST, { command: 'add', items: batch, front: bringToFront });
    if (!reply || reply.ok !== true) throw new Error(reply?.error ?? 'no answer');
    added += reply.added;
  }
  return added;
}

// A failure the user should see: kept for the options page, which opens.
async function report(url, error) {
  await api.storage.local.set({ lastError: { url, error: String(error?.message ?? error), time: Date.now() } });
  await api.runtime.openOptionsPage();
}

// ---- what runs in the page (through scripting.executeScript) ----------------

// The links of the selection in page order: <a href> and <area href> at
// least partly selected, each with its download attribute.
function selectionLinks() {
  const selection = window.getSelection();
  const links = [];
  if (!selection || selection.rangeCount === 0 || selection.isCollapsed) return links;
  for (const a of document.querySelectorAll('a[href], area[href]')) {
    if (typeof a.href === 'string' && selection.containsNode(a, true))
      links.push({ url: a.href, download: a.getAttribute('download') ?? '' });
  }
  return links;
}

// The download attribute of a link to `url`, if the page gives one.
function downloadName(url) {
  for (const a of document.querySelectorAll('a[download][href], area[download][href]')) {
    if (a.href === url) return a.getAttribute('download');
  }
  return '';
}

async function inFrame(tab, frameId, func, args = []) {
  const results = await api.scripting.executeScript({
    target: { tabId: tab.id, frameIds: [frameId ?? 0] },
    func,
    args,
  });
  return results?.[0]?.result;
}

// ---- the context menu ------------------------------------------------------

async function createMenus() {
  await api.contextMenus.removeAll();
  api.contextMenus.create({
    id: MENU_LINK,
    title: api.i18n.getMessage('menuLink'),
    contexts: ['link'],
    targetUrlPatterns: ['http://*/*', 'https://*/*', 'ftp://*/*'],
  });
  api.contextMenus.create({
    id: MENU_SELECTION,
    title: api.i18n.getMessage('menuSelection'),
    contexts: ['selection'],
  });
}

async function onMenuClicked(info, tab) {
  const referrer = referrerOf(info.frameUrl ?? info.pageUrl ?? tab?.url);
  let items;
  if (info.menuItemId === MENU_LINK) {
    if (!isFetchable(info.linkUrl)) return;
    let name = '';
    try {
      name = (await inFrame(tab, info.frameId, downloadName, [info.linkUrl])) ?? '';
    } catch {
      // A page the extension may not read (the browser's own): no name.
    }
    items = [{ url: info.linkUrl, referrer, filename: name }];
  } else if (info.menuItemId === MENU_SELECTION) {
    let links;
    try {
      links = (await inFrame(tab, info.frameId, selectionLinks)) ?? [];
    } catch (e) {
      await report(info.pageUrl ?? '', e);
      return;
    }
    const seen = new Set();
    items = [];
    for (const l of links) {
      if (!isFetchable(l.url) || seen.has(l.url)) continue;
      seen.add(l.url);
      items.push({ url: l.url, referrer, filename: l.download });
    }
    if (items.length === 0) {
      await report(info.pageUrl ?? '', api.i18n.getMessage('noLinks'));
      return;
    }
  } else {
    return;
  }
  try {
    await sendToZorv(items);
  } catch (e) {
    await report(items[0].url, e);
  }
}

// ---- taking over downloads ---------------------------------------------------

// Hands a download to zorv and cancels it in the browser; false (the browser
// keeps it) when the take-over is off, the URL is not http, https or ftp
// (blob:, data:, file:), or zorv does not add it.
async function takeOver(item, name) {
  const { takeOver: on } = await settings();
  const url = item.finalUrl || item.url;
  if (!on || item.state !== 'in_progress' || !isFetchable(url) || !isFetchable(item.url)) return false;
  try {
    // Not added (the list has another item for that file): the browser keeps it.
    if ((await sendToZorv([{ url, referrer: referrerOf(item.referrer ?? ''), filename: baseName(name) }])) === 0)
      return false;
  } catch {
    return false;
  }
  try {
    await api.downloads.cancel(item.id);
    await api.downloads.erase({ id: item.id });
  } catch {
    // Finished meanwhile: zorv has it as well.
  }
  return true;
}

if (api.downloads.onDeterminingFilename) {
  // Chromium: the name the browser suggests is known here, and the download
  // waits for the answer.
  api.downloads.onDeterminingFilename.addListener((item, suggest) => {
    takeOver(item, item.filename).then(
      (taken) => taken || suggest(),
      () => suggest(),
    );
    return true;
  });
} else {
  // Firefox: the download is created with its target path.
  api.downloads.onCreated.addListener((item) => {
    takeOver(item, item.filename);
  });
}

api.contextMenus.onClicked.addListener(onMenuClicked);
api.runtime.onInstalled.addListener(createMenus);
api.runtime.onStartup.addListener(createMenus);
