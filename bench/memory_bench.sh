#!/usr/bin/env bash
# Peak resident memory of a run at the 200,000-record capacity, from
# /usr/bin/time -v: the engine alone on exactly 200,000 records (100,000
# users), and tollbook-cli on a Maildir whose messages all carry an
# accounting file, just under the capacity.
#
#   bench/memory_bench.sh BUILD_DIR WORK_DIR
set -euo pipefail

build=$1
work=$2
limit_mb=100

rm -rf "$work"
mkdir -p "$work/out"

peak_kb() {  # command...: runs it, prints its peak resident set in kB
  /usr/bin/time -v "$@" 2>"$work/time.txt" >/dev/null
  sed -n 's/.*Maximum resident set size (kbytes): //p' "$work/time.txt"
}

engine_kb=$(peak_kb "$build/bench/tollbook-bench-engine" --once --users 100000 --dir "$work/engine")

"$build/src/sample/tollbook-sample" "$work/mail" --messages 9600 --accounting-share 1 \
  --no-other-folders >"$work/sample.txt"
records=$(sed -n 's/.*(\([0-9]*\) lines).*/\1/p' "$work/sample.txt")
cli_kb=$(peak_kb "$build/src/cli/tollbook-cli" --mailbox "$work/mail" --folder Accounting \
  --output "$work/out" --summary --cleanup --ledger "$work/ledger.sqlite")

printf '  %-66s %8s\n' "case" "peak MB"
printf '  %-66s %8.1f\n' "engine: 200000 records, 100000 users, merge and summaries" \
  "$(awk -v k="$engine_kb" 'BEGIN { print k / 1024 }')"
printf '  %-66s %8.1f\n' "tollbook-cli --summary --cleanup, ledger: 9600 messages, $records records" \
  "$(awk -v k="$cli_kb" 'BEGIN { print k / 1024 }')"
awk -v a="$engine_kb" -v b="$cli_kb" -v t="$limit_mb" 'BEGIN {
  m = (a > b ? a : b) / 1024
  printf "goal: peak memory of a run at capacity | %.1f MB | <= %.1f MB | %s\n", m, t, (m <= t ? "met" : "MISSED") }'
rm -rf "$work"
