#!/bin/sh
# Runs the end-to-end test of the browser extension (extension_e2e.mjs);
# exit 77 (skipped) when Chromium, node or the test's npm packages are missing.
here=$(dirname "$0")
chromium=${ZORV_CHROMIUM:-/usr/bin/chromium}
if [ ! -x "$chromium" ]; then
  echo "SKIP: no Chromium at $chromium (scripts/deps.sh installs Debian's chromium)"
  exit 77
fi
if ! command -v node >/dev/null; then
  echo "SKIP: node is missing (scripts/deps.sh installs it)"
  exit 77
fi
if [ ! -d "$here/node_modules/puppeteer-core" ]; then
  echo "SKIP: $here/node_modules is missing (scripts/node-deps.sh runs npm ci)"
  exit 77
fi
exec node "$here/extension_e2e.mjs" "$@"
