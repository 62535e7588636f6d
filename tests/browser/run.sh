#!/bin/sh
# Runs the end-to-end test of the browser extension (extension_e2e.mjs) in
# one browser: run.sh chromium|firefox ZORV HOST_WRAPPER EXTENSION_DIR SHOT_DIR.
# Exit 77 (skipped) when that browser, node or the test's npm packages are
# missing.
here=$(dirname "$0")
case $1 in
  chromium) browser=${ZORV_CHROMIUM:-/usr/bin/chromium} ;;
  firefox) browser=${ZORV_FIREFOX:-/usr/bin/firefox-esr} ;;
  *) echo "run.sh: chromium or firefox, not '$1'" >&2; exit 2 ;;
esac
if [ ! -x "$browser" ]; then
  echo "SKIP: no $1 at $browser (scripts/deps.sh installs Debian's chromium and firefox-esr)"
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
