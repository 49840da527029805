#!/usr/bin/env bash
# The ledger's cost end to end: tollbook-cli --cleanup on generated
# Maildirs of 10,000 and 100,000 messages (every one an accounting message),
# without a ledger, recording a new SQLite ledger, and recording a new
# PostgreSQL ledger over a Unix socket (a throwaway server of its own,
# scripts/test-postgres). Each round runs the three cases one after the
# other on fresh copies, so that a loaded machine weighs on all alike; each
# case counts its best round, for time and for peak resident memory
# (/usr/bin/time). Without --summary: 100,000 such messages hold more records
# than a summary can.
#
#   bench/ledger_bench.sh BUILD_DIR WORK_DIR [ROUNDS] [SIZES]
#
# SIZES: the message counts, space-separated (default "10000 100000").
set -euo pipefail

build=$1
work=$2
rounds=${3:-3}
sizes=${4:-10000 100000}

rm -rf "$work"
mkdir -p "$work"
server=$work/postgres
trap 'scripts/test-postgres stop "$server" >/dev/null 2>&1 || true' EXIT
socket=$(scripts/test-postgres start "$server" | tail -n 1)
new_pg_ledger() {  # a new schema of the server's database, as a ledger location
  local schema=bench_${EPOCHREALTIME/./_}
  psql -X -q -h "$socket" -U tollbook -d ledger -c "CREATE SCHEMA $schema" >/dev/null
  echo "host=$socket user=tollbook dbname=ledger options='-c search_path=$schema'"
}

# shellcheck source=bench/timing.sh
. "$(dirname "$0")/timing.sh"

# case messages: one run on a fresh copy; prints "seconds peak_kB".
run_case() {
  local kind=$1 messages=$2 run ledger
  # A folder of its own, removed only after the size's last round
  # (bench/timing.sh says why).
  run=$work/run${EPOCHREALTIME/./}
  mkdir -p "$run/out"
  cp -a "$work/mail$messages" "$run/mail"
  sync
  case $kind in
    none) ledger=(--no-ledger) ;;
    sqlite) ledger=(--ledger "$run/ledger.sqlite") ;;
    postgres) ledger=(--ledger "$(new_pg_ledger)") ;;
  esac
  /usr/bin/time -f '%e %M' -o "$work/time.txt" "$build/src/cli/tollbook-cli" \
    --mailbox "$run/mail" --folder Accounting --output "$run/out" --cleanup -q \
    "${ledger[@]}"
  cat "$work/time.txt"
}

for messages in $sizes; do
  "$build/src/sample/tollbook-sample" "$work/mail$messages" --messages "$messages" \
    --accounting-share 1 --no-other-folders >/dev/null
  declare -A seconds=() peak=()
  for ((r = 0; r < rounds; r++)); do
    for kind in none sqlite postgres; do
      read -r s kb < <(run_case "$kind" "$messages")
      seconds[$kind]+="$s "
      peak[$kind]+="$kb "
    done
  done
  echo "Ledger: $messages messages, every one an accounting message (best of $rounds rounds, the cases alternated)"
  printf '  %-44s %9s %9s\n' "case" "s" "peak MB"
  declare -A best_s=() best_mb=()
  for kind in none sqlite postgres; do
    # shellcheck disable=SC2086
    best_s[$kind]=$(best ${seconds[$kind]})
    # shellcheck disable=SC2086
    best_mb[$kind]=$(awk -v k="$(best ${peak[$kind]})" 'BEGIN { printf "%.1f", k / 1024 }')
    printf '  %-44s %9.3f %9.1f\n' "tollbook-cli --cleanup, ledger: $kind" \
      "${best_s[$kind]}" "${best_mb[$kind]}"
  done
  awk -v n="$messages" -v none="${best_s[none]}" -v sq="${best_s[sqlite]}" \
    -v pg="${best_s[postgres]}" -v mn="${best_mb[none]}" -v ms="${best_mb[sqlite]}" \
    -v mp="${best_mb[postgres]}" 'BEGIN {
    r = sq / none; printf "goal: %d messages: recording an SQLite ledger / without | %.2fx | <= 1.15x | %s\n", n, r, (r <= 1.15 ? "met" : "MISSED")
    d = ms - mn; printf "goal: %d messages: peak memory, SQLite ledger - without | %+.1f MB | <= +8.0 MB | %s\n", n, d, (d <= 8 ? "met" : "MISSED")
    r = pg / none; printf "goal: %d messages: recording a PostgreSQL ledger (Unix socket) / without | %.2fx | <= 1.50x | %s\n", n, r, (r <= 1.5 ? "met" : "MISSED")
    d = mp - mn; printf "      %d messages: peak memory, PostgreSQL ledger - without: %+.1f MB\n", n, d }'
  rm -rf "$work/mail$messages" "$work"/run*
  unset seconds peak best_s best_mb
done
