// The options page: the download take-over and the front-window switch
// (storage.local), a connection check, and the last failure to hand a URL
// to zorv.
'use strict';

const api = globalThis.browser ?? globalThis.chrome;
const DEFAULTS = { takeOver: false, bringToFront: false };
const t = (id, ...subs) => api.i18n.getMessage(id, subs);

for (const el of document.querySelectorAll('[data-i18n]')) el.textContent = t(el.dataset.i18n);
document.documentElement.lang = api.i18n.getUILanguage();

async function load() {
  const values = await api.storage.local.get({ ...DEFAULTS, lastError: null });
  for (const key of Object.keys(DEFAULTS)) {
    const box = document.getElementById(key);
    box.checked = values[key];
    box.addEventListener('change', () => api.storage.local.set({ [key]: box.checked }));
  }
  showError(values.lastError);
}

function showError(failure) {
  const p = document.getElementById('lastError');
  p.textContent = failure ? t('lastError', failure.url, failure.error) : '';
  p.hidden = !failure;
}

// A failure while the page is open shows at once.
api.storage.onChanged.addListener((changes, area) => {
  if (area !== 'local' || !('lastError' in changes)) return;
  showError(changes.lastError.newValue);
  // An earlier check said nothing about this.
  if (changes.lastError.newValue) document.getElementById('status').textContent = '';
});

async function check() {
  const status = document.getElementById('status');
  status.className = '';
  status.textContent = '…';
  try {
    const reply = await api.runtime.sendNativeMessage('org.quillmere.zorv', { command: 'ping' });
    if (!reply?.ok) throw new Error(reply?.error ?? 'no answer');
    status.textContent = t('testOk', reply.version);
    status.className = 'ok';
    // zorv answers now: an earlier failure is of no more interest.
    await api.storage.local.remove('lastError');
  } catch (e) {
    status.textContent = t('testFailed', String(e?.message ?? e));
    status.className = 'error';
  }
}

document.getElementById('test').addEventListener('click', check);
load();
