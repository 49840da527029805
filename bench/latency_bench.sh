#!/usr/bin/env bash
# tollbook-cli over a link with latency: a run over a 2,000-message folder on
# a throwaway Dovecot, through tollbook-bench-latency-proxy, which holds the
# server's bytes back DELAY_MS milliseconds and counts the round trips (the
# client's sends that follow something from the server). Prints the round
# trips and the run's wall time, the best of ROUNDS runs.
#
#   bench/latency_bench.sh [BUILD_DIR] [DELAY_MS] [ROUNDS]   (build, 20, 3)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
delay=${2:-20}
rounds=${3:-3}
work=$(mktemp -d)
chmod 755 "$work"  # the mail processes (nobody, under root) must reach their homes in it
proxy_pid=
cleanup() {
  [[ -z $proxy_pid ]] || kill "$proxy_pid" 2>/dev/null || true
  scripts/test-dovecot stop "$work/server"
  rm -rf "$work"
}
trap cleanup EXIT
"$build/src/sample/tollbook-sample" "$work/mail" --messages 2000 --no-other-folders >/dev/null
read -r _ imaps < <(scripts/test-dovecot start "$work/server" acct:pw)
scripts/test-dovecot fill "$work/server" acct "$work/mail"

"$build/bench/tollbook-bench-latency-proxy" "$imaps" "$delay" >"$work/proxy.txt" &
proxy_pid=$!
until [[ -s $work/proxy.txt ]]; do
  kill -0 "$proxy_pid" 2>/dev/null || { echo "latency_bench: the proxy did not start" >&2; exit 1; }
  sleep 0.05
done
port=$(head -n 1 "$work/proxy.txt")

best=
trips=
for round in $(seq 1 "$rounds"); do
  out=$work/out$round
  mkdir -p "$out"
  lines=$(wc -l <"$work/proxy.txt")
  start=$EPOCHREALTIME
  TOLLBOOK_IMAP_CA_FILE=$work/server/server.crt HOME=$work \
    "$build/src/cli/tollbook-cli" --mailbox "imaps://acct:pw@127.0.0.1:$port" --folder Accounting \
    --output "$out" --summary --no-ledger >/dev/null
  seconds=$(awk -v a="$start" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.2f", b - a }')
  # The proxy writes its line when it has seen the client go.
  until (($(wc -l <"$work/proxy.txt") > lines)); do sleep 0.05; done
  round_trips=$(tail -n +$((lines + 1)) "$work/proxy.txt" | awk '{ n += $3 } END { print n }')
  echo "round $round: $round_trips round trips, $seconds s"
  if [[ -z $best ]] || awk -v a="$seconds" -v b="$best" 'BEGIN { exit !(a < b) }'; then best=$seconds; fi
  trips=$round_trips
done
echo "2,000 messages, server bytes delayed $delay ms: $trips round trips, $best s (best of $rounds)"
