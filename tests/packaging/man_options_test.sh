#!/usr/bin/env bash
# man_options_test.sh PROGRAM PAGE.scd [PAGE.1]: every option that
# `PROGRAM --help` prints is in the manual page source, and every option the
# page documents is one that --help prints. The page documents an option by
# writing it in bold, *--name* or *-n* (other programs' options in examples
# and literal blocks are not bold). With PAGE.1 (the built page), it must also
# format without a warning from groff.
set -euo pipefail
program=$1 source=$2 built=${3:-}

# Options in --help are words that start with "-" or "--" and a letter,
# standing alone (not "32-bit", not "read-only"); "=VALUE" is cut off.
help=$("$program" --help |
  grep -oE -- '(^|[^[:alnum:]_-])--?[[:alpha:]][[:alnum:]-]*' | sed -E 's/^[^-]+//' | sort -u)
page=$(grep -oE -- '\*--?[[:alpha:]][[:alnum:]-]*' "$source" | sed 's/^\*//' | sort -u)
status=0
if missing=$(comm -23 <(echo "$help") <(echo "$page")) && [[ -n $missing ]]; then
  echo "$source does not describe these options of $program --help:" $missing
  status=1
fi
if extra=$(comm -13 <(echo "$help") <(echo "$page")) && [[ -n $extra ]]; then
  echo "$source names options that $program --help does not print:" $extra
  status=1
fi
if [[ -n $built ]]; then
  warnings=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z "$built" 2>&1 >/dev/null)
  if [[ -n $warnings ]]; then
    echo "$built: groff warns:"
    echo "$warnings"
    status=1
  fi
fi
if ((status == 0)); then
  echo "$(basename "$source"): the same $(echo "$help" | wc -l) options as --help"
fi
exit $status
