#!/usr/bin/env bash
# Makes samples/sample-report.html, dvlog's HTML report of samples/sample.dv,
# and samples/sample-report.png, a screenshot of it in headless Chromium (as
# Debian packages it), which the README shows. Needs build/dvlog.
set -euo pipefail
cd "$(dirname "$0")"

(cd .. && build/dvlog --report samples/sample-report.html samples/sample.dv >/dev/null)
profile=$(mktemp -d)
trap 'rm -rf "$profile"' EXIT
chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run --disable-background-networking \
  --disable-component-update --disable-sync --hide-scrollbars --user-data-dir="$profile" \
  --window-size=1100,680 --screenshot="$PWD/sample-report.png" "file://$PWD/sample-report.html" 2>/dev/null
echo "samples/sample-report.html: $(stat -c %s sample-report.html) bytes, samples/sample-report.png: $(stat -c %s sample-report.png) bytes"
