#!/usr/bin/env bash
# Installs the npm packages of the browser test (tests/browser) as the lock
# file names them, when they are missing or the lock file changed.
set -euo pipefail
cd "$(dirname "$0")/../tests/browser"
command -v npm >/dev/null || { echo "node-deps: npm is missing (scripts/deps.sh installs it)" >&2; exit 1; }
if [ ! -f node_modules/.package-lock.json ] || [ package-lock.json -nt node_modules/.package-lock.json ]; then
  npm ci --no-audit --no-fund
fi
