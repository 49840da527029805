#!/usr/bin/env bash
# The report in a real browser: headless Chromium opens a report that
# tollbook-cli wrote from a sample mailbox, from its file and without network
# (the page's own policy forbids every fetch and script; a proxy that refuses
# and a resolver that finds nothing stand behind it). The page must render:
# screenshots at a laptop's and a phone's width that are not blank, both
# charts' bars in the DOM the browser built, and no console message (a policy
# violation or a parse error would be one).
#
#   report_browser_test.sh TOLLBOOK_CLI TOLLBOOK_SAMPLE [KEEP_DIR]
#
# KEEP_DIR, when given, receives report.html, laptop.png and phone.png.
# Exit status 77 (skipped) when Chromium is not installed.
set -euo pipefail
cli=$1
sample=$2
keep=${3:-}

browser=$(command -v chromium || command -v chromium-browser || true)
if [[ -z $browser ]]; then
  echo "SKIP: chromium is not installed (scripts/install-deps installs it)"
  exit 77
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

"$sample" "$work/mail" --messages 120 --seed 3 >/dev/null
mkdir "$work/out"
"$cli" --mailbox "$work/mail" --folder Accounting --output "$work/out" --summary \
  --report "$work/report.html" --no-ledger >/dev/null
page="file://$work/report.html"

# One browser run per call, with a profile of its own; it ends when the page
# is loaded and its output written.
run=0
browse() {
  run=$((run + 1))
  "$browser" --headless --no-sandbox --disable-gpu --disable-quic --no-first-run \
    --disable-background-networking --disable-component-update --disable-sync \
    --disable-default-apps --no-default-browser-check \
    --proxy-server=127.0.0.1:9 --host-resolver-rules="MAP * ~NOTFOUND" \
    --user-data-dir="$work/profile$run" --enable-logging=stderr --v=0 \
    "$@" "$page" 2>>"$work/browser.log"
}

browse --dump-dom >"$work/dom.html"
for chart in dates-chart users-chart; do
  for kind in in out; do
    bars=$(sed -n "/<g id=\"$chart\">/,/<\/svg>/p" "$work/dom.html" | grep -o "<rect class=\"bar $kind\"" | wc -l)
    ((bars > 0)) || fail "no bytes-$kind bars in $chart"
  done
done
users=$(sed -n '/^User,Bytes In,Bytes Out,Total Bytes/,$p' "$work/out/summary.csv" | tail -n +2 | wc -l)
expected=$((users < 20 ? users : 20))
shown=$(sed -n '/<g id="users-chart">/,/<\/svg>/p' "$work/dom.html" | grep -o '<rect class="bar in"' | wc -l)
((shown == expected)) || fail "the user chart has $shown bars, expected $expected"
rows=$(grep -o '<td class="rank">' "$work/dom.html" | wc -l)
((rows == (users < 1000 ? users : 1000))) || fail "the table has $rows rows for $users users"

browse --window-size=1280,900 --screenshot="$work/laptop.png" >/dev/null
browse --window-size=390,844 --screenshot="$work/phone.png" >/dev/null

if grep -E 'CONSOLE|Refused to|Content.Security.Policy' "$work/browser.log"; then
  fail "the browser logged the lines above"
fi

# A screenshot is not blank when a fair part of it is neither the page's
# white nor one flat colour.
for shot in laptop phone; do
  [[ -s $work/$shot.png ]] || fail "no $shot screenshot"
  python3 - "$work/$shot.png" <<'PY' || fail "the $shot screenshot is blank"
import struct, sys, zlib
data = open(sys.argv[1], "rb").read()
assert data[:8] == b"\x89PNG\r\n\x1a\n"
pos, idat = 8, b""
while pos < len(data):
    length, kind = struct.unpack(">I4s", data[pos:pos + 8])
    body = data[pos + 8:pos + 8 + length]
    if kind == b"IHDR":
        width, height, depth, colour = struct.unpack(">IIBB", body[:10])
    elif kind == b"IDAT":
        idat += body
    pos += 12 + length
channels = {2: 3, 6: 4}[colour]
assert depth == 8
raw = zlib.decompress(idat)
stride = width * channels
previous = bytearray(stride)
inked, colours = 0, set()
for y in range(height):
    line = raw[y * (stride + 1):(y + 1) * (stride + 1)]
    kind, row = line[0], bytearray(line[1:])
    for i in range(stride):
        a = row[i - channels] if i >= channels else 0
        b = previous[i]
        c = previous[i - channels] if i >= channels else 0
        if kind == 1: row[i] = (row[i] + a) & 255
        elif kind == 2: row[i] = (row[i] + b) & 255
        elif kind == 3: row[i] = (row[i] + (a + b) // 2) & 255
        elif kind == 4:
            p = a + b - c
            pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
            row[i] = (row[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
    previous = row
    if y % 4 == 0:
        for x in range(0, width, 4):
            pixel = bytes(row[x * channels:x * channels + 3])
            colours.add(pixel)
            if pixel != b"\xff\xff\xff":
                inked += 1
samples = ((height + 3) // 4) * ((width + 3) // 4)
print(f"{sys.argv[1].rsplit('/', 1)[-1]}: {width}x{height}, {100 * inked / samples:.1f}% inked, {len(colours)} colours")
sys.exit(0 if inked > samples * 0.03 and len(colours) >= 8 else 1)
PY
done

if [[ -n $keep ]]; then
  mkdir -p "$keep"
  cp "$work/report.html" "$work/laptop.png" "$work/phone.png" "$keep/"
fi
echo "PASS: the report rendered in $("$browser" --version 2>/dev/null | head -n 1)"
