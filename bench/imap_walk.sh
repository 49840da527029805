#!/usr/bin/env bash
# Times the IMAP walk of 2,000 messages against a whole-message fetch, on a
# throwaway Dovecot: small messages, then messages with a large non-accounting
# part. Usage: bench/imap_walk.sh [BUILD_DIR] (default build).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
work=$(mktemp -d)
chmod 755 "$work"  # the mail processes (nobody, under root) must reach their homes in it
trap 'scripts/test-dovecot stop "$work/server"; rm -rf "$work"' EXIT
"$build/src/sample/tollbook-sample" "$work/small" --messages 2000 --no-other-folders >/dev/null
"$build/src/sample/tollbook-sample" "$work/large" --messages 2000 --large-part 300000 --seed 2 --no-other-folders >/dev/null
read -r _ imaps < <(scripts/test-dovecot start "$work/server" small:pw large:pw)
scripts/test-dovecot fill "$work/server" small "$work/small"
scripts/test-dovecot fill "$work/server" large "$work/large"
export TOLLBOOK_IMAP_CA_FILE=$work/server/server.crt
for user in small large; do
  echo "== $user =="
  "$build/bench/tollbook-bench-imap-walk" "imaps://$user:pw@127.0.0.1:$imaps" Accounting
done
