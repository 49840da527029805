#!/usr/bin/env bash
# The cost of --report at capacity: tollbook-cli on a Maildir of 9,600
# accounting messages (about 192,000 records, just under the 200,000 the
# tables hold) from 100,000 senders, with --summary and with --summary
# --report, alternated round by round on fresh synced copies, warm cache;
# each case counts its best round. Also the size of the report.
#
#   bench/report_bench.sh BUILD_DIR WORK_DIR [ROUNDS]
set -euo pipefail

build=$1
work=$2
rounds=${3:-3}

rm -rf "$work"
mkdir -p "$work"
"$build/src/sample/tollbook-sample" "$work/mail" --messages 9600 --accounting-share 1 \
  --users 100000 --no-other-folders >"$work/sample.txt"
records=$(sed -n 's/.*(\([0-9]*\) lines).*/\1/p' "$work/sample.txt")

# shellcheck source=bench/timing.sh
. "$(dirname "$0")/timing.sh"
run_cli() {
  "$build/src/cli/tollbook-cli" --mailbox "$run/mail" --folder Accounting \
    --output "$run/out" --summary --cleanup --no-ledger "$@" >/dev/null
}

find "$work/mail" -type f -print0 | xargs -0 cat >/dev/null  # warms the cache
declare -a t_summary t_report
for ((r = 0; r < rounds; r++)); do
  fresh_copy
  a=$(now); run_cli; b=$(now)
  t_summary+=("$(seconds "$a" "$b")")
  rm -rf "$run"
  fresh_copy
  a=$(now); run_cli --report "$run/out/report.html"; b=$(now)
  t_report+=("$(seconds "$a" "$b")")
  users=$(($(sed -n '/^User,Bytes In/,$p' "$run/out/summary.csv" | wc -l) - 1))
  report_bytes=$(stat -c %s "$run/out/report.html")
  rm -rf "$run"
done
summary_s=$(best "${t_summary[@]}")
report_s=$(best "${t_report[@]}")

echo "Report at capacity: $records records of $users users in 9,600 messages; best of $rounds rounds"
printf '  %-52s %9s\n' "case" "s"
printf '  %-52s %9.3f\n' "tollbook-cli --summary --cleanup" "$summary_s"
printf '  %-52s %9.3f\n' "tollbook-cli --summary --cleanup --report" "$report_s"
printf '  %-52s %9.2f\n' "report file, MB" "$(awk -v b="$report_bytes" 'BEGIN { print b / 1e6 }')"
awk -v a="$report_s" -v b="$summary_s" 'BEGIN {
  m = a / b
  printf "goal: Capacity: --summary --report / --summary | %.2fx | <= 1.20x | %s\n", m, (m <= 1.2 ? "met" : "MISSED") }'
awk -v b="$report_bytes" 'BEGIN {
  m = b / 1e6
  printf "goal: Capacity: report file | %.2f MB | <= 2.00 MB | %s\n", m, (m <= 2 ? "met" : "MISSED") }'
rm -rf "$work"
