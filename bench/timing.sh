# Shared by the bench scripts (sourced, after $work is set): wall-clock
# readings, the best of a case's rounds, and a fresh copy of $work/mail.

# Seconds since the epoch, to the microsecond.
now() { echo "$EPOCHREALTIME"; }
seconds() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.4f", b - a }'; }
best() { printf '%s\n' "$@" | sort -g | head -n 1; }

# Sets run to a new folder holding a synced copy of $work/mail and an empty
# out/. Each run gets a copy of its own, and no copy should be removed before
# the end: ext4 skips inodes freed in the last minutes when it allocates new
# ones, so files created right after a mass removal cost several times as
# much.
copies=0
fresh_copy() {
  copies=$((copies + 1))
  run="$work/run$copies"
  mkdir -p "$run/out"
  cp -a "$work/mail" "$run/mail"
  sync
}
