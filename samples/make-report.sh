#!/usr/bin/env bash
# Makes samples/sample-report.html, dvlog's HTML report of samples/sample.dv,
# and samples/sample-report.png, a screenshot of it in headless Chromium (as
# Debian packages it); and samples/long-tape-report.png, a screenshot of the
# report of the long worn tape that the end-to-end tests make (2 min 20 s,
# four recordings, dropouts, a head clog, an audio burst, junk and a cut-short
# end); and samples/sample-pictures.png, the sample's report from its pictures
# on. The README shows them. Needs build/dvlog and build/tests/dvlog_e2e_tests.
set -euo pipefail
cd "$(dirname "$0")"

(cd .. && build/dvlog --report samples/sample-report.html samples/sample.dv >/dev/null)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
DVLOG_LONG_TAPE_REPORT="$work/long.html" ../build/tests/dvlog_e2e_tests \
  --gtest_filter=Damage.ReportOfALongWornTape >/dev/null
screenshot() {
  chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run --disable-background-networking \
    --disable-component-update --disable-sync --hide-scrollbars --user-data-dir="$work/profile" \
    --window-size=1100,"${3:-880}" --screenshot="$PWD/$2" "file://$1" 2>/dev/null
}
screenshot "$PWD/sample-report.html" sample-report.png
screenshot "$work/long.html" long-tape-report.png
# The pictures: the same page from its contact sheet on.
sed 's|</style>|header,#timeline{display:none}</style>|' sample-report.html >"$work/pictures.html"
screenshot "$work/pictures.html" sample-pictures.png 1300
for f in sample-report.html sample-report.png long-tape-report.png sample-pictures.png; do echo "samples/$f: $(stat -c %s "$f") bytes"; done
