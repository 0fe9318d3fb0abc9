#!/usr/bin/env bash
# Installs the testbed backend's npm packages from the committed lock file, when they
# are missing or the lock file changed since the last install.
set -euo pipefail
dir="$(cd "$(dirname "$0")/../../testbed/backend" && pwd)"
stamp="$dir/node_modules/.havenway-lock"
if [[ -f "$stamp" ]] && cmp -s "$stamp" "$dir/package-lock.json"; then
  exit 0
fi
command -v npm >/dev/null || { echo "setup: npm is missing (Node.js 20.19 or newer is needed)" >&2; exit 1; }
echo "setup: npm ci in testbed/backend"
(cd "$dir" && npm ci --no-audit --no-fund --loglevel=error --ignore-scripts)
cp "$dir/package-lock.json" "$stamp"
