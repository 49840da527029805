#!/usr/bin/env bash
# End to end on a Maildir: tollbook-cli over a generated 10,000-message folder
# (about half of them accounting messages of about 20 lines), warm cache,
# beside cat of the same message files (the read limit) and the loop an
# administrator would script without Tollbook (munpack on every message, the
# "acct" parts concatenated). Every run starts from a fresh, synced copy of
# the folder; each case is timed in every round and the best round counts.
# Every case keeps no ledger except the one that times recording into a new
# ledger beside the run's copy.
#
#   bench/maildir_bench.sh BUILD_DIR WORK_DIR [ROUNDS] [MUNPACK_MESSAGES]
#
# BUILD_DIR is a build folder (src/cli/tollbook-cli, src/sample/tollbook-sample).
# MUNPACK_MESSAGES (default: all) limits the munpack loop to the first
# messages; its time is then scaled to the whole folder and the line says so.
set -euo pipefail

build=$1
work=$2
rounds=${3:-3}
munpack_limit=${4:-0}
messages=10000

rm -rf "$work"
mkdir -p "$work"
"$build/src/sample/tollbook-sample" "$work/mail" --messages "$messages" --no-other-folders >"$work/sample.txt"
folder="$work/mail/.Accounting"

# The copies stay, and the runs' creations meet only the runs' own deletions.
# shellcheck source=bench/timing.sh
. "$(dirname "$0")/timing.sh"

run_cli() {
  "$build/src/cli/tollbook-cli" --mailbox "$run/mail" --folder Accounting \
    --output "$run/out" --summary --no-ledger "$@" >"$work/cli.txt"
}
run_cli_ledger() {
  "$build/src/cli/tollbook-cli" --mailbox "$run/mail" --folder Accounting \
    --output "$run/out" --summary --ledger "$run/ledger.sqlite" "$@" >"$work/cli.txt"
}

munpack_loop() {
  local out=$1 scratch=$2 count=0
  : >"$out"
  for m in "$run/mail/.Accounting"/cur/* "$run/mail/.Accounting"/new/*; do
    [[ -f $m ]] || continue
    if ((munpack_limit > 0 && count >= munpack_limit)); then break; fi
    count=$((count + 1))
    rm -rf "$scratch"
    mkdir "$scratch"
    munpack -q -C "$scratch" "$m" >/dev/null 2>&1 || true
    if [[ -f $scratch/acct ]]; then cat "$scratch/acct" >>"$out"; fi
  done
  echo "$count"
}

find "$folder" -type f -print0 >"$work/files"
xargs -0 cat <"$work/files" >/dev/null  # warms the cache

# The messages a run with --delete removes, to time rm on the same files.
list_messages() { (cd "$1/.Accounting" && find cur new -type f | sort); }
fresh_copy
run_cli --delete --cleanup
list_messages "$work/mail" >"$work/before"
list_messages "$run/mail" >"$work/after"
comm -23 "$work/before" "$work/after" | tr '\n' '\0' >"$work/deleted"

declare -a t_cat t_summary t_report t_ledger t_cleanup t_delete t_rm
for ((r = 0; r < rounds; r++)); do
  a=$(now); xargs -0 cat <"$work/files" >/dev/null; b=$(now)
  t_cat+=("$(seconds "$a" "$b")")

  fresh_copy
  a=$(now); run_cli; b=$(now)
  t_summary+=("$(seconds "$a" "$b")")

  fresh_copy
  a=$(now); run_cli --report "$run/out/report.html"; b=$(now)
  t_report+=("$(seconds "$a" "$b")")
  report_bytes=$(stat -c %s "$run/out/report.html")

  fresh_copy
  a=$(now); run_cli_ledger; b=$(now)
  t_ledger+=("$(seconds "$a" "$b")")

  fresh_copy
  a=$(now); run_cli --cleanup; b=$(now)
  t_cleanup+=("$(seconds "$a" "$b")")

  fresh_copy
  a=$(now); run_cli --delete --cleanup; b=$(now)
  t_delete+=("$(seconds "$a" "$b")")
  left=$(find "$run/mail/.Accounting/cur" "$run/mail/.Accounting/new" -type f | wc -l)

  fresh_copy
  a=$(now); (cd "$run/mail/.Accounting" && xargs -0 rm -f <"$work/deleted"); b=$(now)
  t_rm+=("$(seconds "$a" "$b")")
done
files=$(tail -n 1 "$work/cli.txt")

fresh_copy
a=$(now); looped=$(munpack_loop "$run/munpack.csv" "$run/parts"); b=$(now)
t_munpack=$(seconds "$a" "$b")
if ((looped < messages)); then
  t_munpack_all=$(awk -v t="$t_munpack" -v n="$looped" -v m="$messages" 'BEGIN { printf "%.4f", t * m / n }')
  munpack_note=" (timed on $looped messages, scaled)"
else
  t_munpack_all=$t_munpack
  munpack_note=""
fi

cat_s=$(best "${t_cat[@]}")
summary_s=$(best "${t_summary[@]}")
report_s=$(best "${t_report[@]}")
ledger_s=$(best "${t_ledger[@]}")
cleanup_s=$(best "${t_cleanup[@]}")
delete_s=$(best "${t_delete[@]}")
rm_s=$(best "${t_rm[@]}")
size=$(du -sb "$folder" | cut -f1)

echo "Maildir end to end: $messages messages, $((size / 1000000)) MB; $(cat "$work/sample.txt" | sed 's/.*: //')"
echo "  ($files; best of $rounds rounds, warm cache, a fresh synced copy for every run)"
printf '  %-52s %9s\n' "case" "s"
printf '  %-52s %9.3f\n' "cat of every message file (the read limit)" "$cat_s"
printf '  %-52s %9.3f\n' "tollbook-cli --summary (scratch files kept)" "$summary_s"
printf '  %-52s %9.3f\n' "tollbook-cli --summary --report ($((report_bytes / 1000)) kB)" "$report_s"
printf '  %-52s %9.3f\n' "tollbook-cli --summary, recording a new ledger" "$ledger_s"
printf '  %-52s %9.3f\n' "tollbook-cli --summary --cleanup" "$cleanup_s"
printf '  %-52s %9.3f\n' "tollbook-cli --summary --delete --cleanup" "$delete_s"
printf '  %-52s %9.3f\n' "rm of the same $(tr -cd '\0' <"$work/deleted" | wc -c) messages (the delete limit)" "$rm_s"
printf '  %-52s %9.3f\n' "munpack loop$munpack_note" "$t_munpack_all"
echo "  messages left after --delete: $left"
awk -v d="$delete_s" -v s="$summary_s" -v r="$rm_s" 'BEGIN {
  printf "  time --delete --cleanup adds to --summary: %.3f s; rm of the same messages: %.3f s\n", d - s, r }'

goal() {  # what measured op target
  awk -v w="$1" -v m="$2" -v op="$3" -v t="$4" 'BEGIN {
    ok = (op == "<=") ? (m <= t) : (m >= t)
    printf "goal: %s | %.2fx | %s %.2fx | %s\n", w, m, op, t, ok ? "met" : "MISSED" }'
}
goal "Maildir: munpack loop / tollbook-cli --summary" \
  "$(awk -v a="$t_munpack_all" -v b="$summary_s" 'BEGIN { print a / b }')" ">=" 20
goal "Maildir: tollbook-cli --summary / cat" \
  "$(awk -v a="$summary_s" -v b="$cat_s" 'BEGIN { print a / b }')" "<=" 4
goal "Maildir: --summary --report / --summary" \
  "$(awk -v a="$report_s" -v b="$summary_s" 'BEGIN { print a / b }')" "<=" 1.2
goal "Maildir: --summary recording the ledger / without" \
  "$(awk -v a="$ledger_s" -v b="$summary_s" 'BEGIN { print a / b }')" "<=" 1.15
goal "Maildir: --delete --cleanup / without them" \
  "$(awk -v a="$delete_s" -v b="$summary_s" 'BEGIN { print a / b }')" "<=" 1.5
rm -rf "$work"
