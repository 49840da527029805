#!/usr/bin/env bash
# completion_test.sh TOLLBOOK_CLI TOLLBOOK_SAMPLE COMPLETION: the bash
# completion of tollbook-cli, run on command lines split into words as bash
# splits them (at "=" and ":"), against the built program and a sample mailbox.
set -uo pipefail
cli=$1 sample=$2 completion=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$sample" "$work/Maildir" --messages 4 >/dev/null || exit 1
mkdir "$work/out" "$work/other folder" && touch "$work/outfile"

# shellcheck disable=SC1090
source "$completion"
failures=0
# expect "WANTED" WORD...: completes the last word; WANTED is the sorted
# COMPREPLY joined by blanks.
expect() {
  local wanted=$1
  shift
  COMP_WORDS=("$cli" "$@")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMPREPLY=()
  _tollbook_cli
  local got
  got=$(printf '%s\n' "${COMPREPLY[@]}" | sort | paste -sd' ')
  if [[ $got != "$wanted" ]]; then
    echo "FAIL: tollbook-cli ${*@Q}"
    echo "  wanted: $wanted"
    echo "  got:    $got"
    ((failures++))
  fi
}

m=$work/Maildir
expect "--full-file" --fu
expect "--report" --rep
expect "--summary --summary-file" --delete --s
expect "--cleanup" --mailbox "$m" --cl
expect "Archive Archive.2023" --mailbox "$m" --folder Arc
expect "INBOX" --output "$work/out" --mailbox "$m" --folder IN
expect "Accounting" --mailbox maildir ":" "$m" --folder Ac
expect "Accounting" --mailbox = "$m" --folder = Ac
# shellcheck disable=SC2088
HOME=$work expect "Accounting" --mailbox "~/Maildir" --folder Ac
expect "Accounting Archive Archive.2023 Drafts INBOX Sent Trash" --mailbox "$m" --folder ""
expect "" --folder Ac
expect "" --mailbox "$work/none" --folder Ac
expect "$work/other folder $work/out" --output "$work/o"
expect "$work/other folder $work/out $work/outfile" --summary-file "$work/o"
expect "imap:// imaps://" --mailbox im
if ((failures > 0)); then
  echo "$failures completion cases failed"
  exit 1
fi
echo "all completion cases passed"
