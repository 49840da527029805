#!/usr/bin/env bash
# package_test.sh SOURCE_DIR: builds the two Debian packages with
# scripts/package (Release, in SOURCE_DIR/build-package, reused between runs),
# checks them with lintian, installs them, runs what they installed and removes
# them again.
#
# Where they are installed:
#   default                                  a throwaway root: dpkg --root on a
#       copy of this machine's package database, so that dpkg checks every
#       Depends against what is really installed here, while the machine itself
#       is not touched (other builds and test runs on it go on undisturbed);
#       the installed programs run with the machine's libraries.
#   TOLLBOOK_PACKAGE_TEST_INSTALL=system     dpkg -i into this machine and
#       dpkg --purge afterwards (a throwaway CI machine); refuses when either
#       package is installed already, so the machine is left as it was found.
# TOLLBOOK_SKIP_PACKAGE_TEST=1 skips the test; so does running it without root.
set -euo pipefail
source_dir=$(cd "$1" && pwd)
skip=77
if [[ "${TOLLBOOK_SKIP_PACKAGE_TEST:-0}" == 1 ]]; then
  echo "skipped: TOLLBOOK_SKIP_PACKAGE_TEST=1"
  exit $skip
fi
if ((EUID != 0)); then
  echo "skipped: installing packages needs root"
  exit $skip
fi
mode=${TOLLBOOK_PACKAGE_TEST_INSTALL:-root}
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# --- Build -------------------------------------------------------------------
export TOLLBOOK_PACKAGE_DIR=${TOLLBOOK_PACKAGE_DIR:-$source_dir/build-package}
mapfile -t debs < <(TOLLBOOK_SKIP_INSTALL_DEPS=1 "$source_dir/scripts/package" | grep '\.deb$')
cli_deb=$(printf '%s\n' "${debs[@]}" | grep '/tollbook-cli_') || fail "no tollbook-cli package in: ${debs[*]}"
window_deb=$(printf '%s\n' "${debs[@]}" | grep '/tollbook_') || fail "no tollbook package in: ${debs[*]}"
echo "built $cli_deb"
echo "built $window_deb"

# The command line must install on a server without a desktop.
cli_depends=$(dpkg-deb -f "$cli_deb" Depends)
echo "tollbook-cli Depends: $cli_depends"
[[ $cli_depends == *libvmime* ]] || fail "tollbook-cli does not depend on vmime: $cli_depends"
[[ $cli_depends != *qt* && $cli_depends != *Qt* ]] || fail "tollbook-cli depends on Qt: $cli_depends"
[[ $(dpkg-deb -f "$window_deb" Depends) == *libqt6widgets6* ]] || fail "tollbook does not depend on Qt Widgets"
for deb in "$cli_deb" "$window_deb"; do
  [[ $(dpkg-deb -f "$deb" Section) == mail ]] || fail "$deb: section is not mail"
done

# --- lintian: no errors, no warnings (info tags are printed, not fatal) -------
lintian_out=$(lintian --display-info --pedantic "$cli_deb" "$window_deb" 2>&1 | grep -v 'running with root privileges') || true
echo "lintian:"
echo "${lintian_out:-  (nothing)}"
if grep -E '^[EW]: ' <<<"$lintian_out"; then
  fail "lintian reports errors or warnings"
fi

# --- Install -----------------------------------------------------------------
work=$(mktemp -d)
installed=
cleanup() {
  if [[ -n $installed ]]; then
    dpkg "${dpkg_root[@]}" --purge tollbook tollbook-cli >/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT
if [[ $mode == system ]]; then
  for p in tollbook tollbook-cli; do
    if dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q installed; then
      fail "$p is installed on this machine already; not touching it"
    fi
  done
  dpkg_root=()
  query_root=()
  prefix=
else
  prefix=$work/root
  admin=$prefix/var/lib/dpkg
  mkdir -p "$admin/info" "$admin/updates" "$admin/triggers"
  cp /var/lib/dpkg/status "$admin/status"
  touch "$admin/available"
  # The packages of the copied database own no files in the throwaway root.
  (cd "$admin/info" && dpkg-query -W -f='${binary:Package}.list\n' | xargs -d '\n' touch)
  dpkg_root=(--root="$prefix" --log=/dev/null)
  query_root=(--root="$prefix")
fi
installed=1
dpkg "${dpkg_root[@]}" -i "$cli_deb" "$window_deb"

# --- Run what was installed ----------------------------------------------------
bin=$prefix/usr/bin
version=$("$bin/tollbook-cli" --version)
echo "$version"
[[ $(head -1 <<<"$version") == "tollbook-cli (Tollbook) "* ]] || fail "--version: $version"
grep -q '^License GPLv3+' <<<"$version" || fail "--version has no licence line"

"$bin/tollbook-sample" "$work/Maildir" --messages 40 --seed 5 >/dev/null
mkdir "$work/out"
run=$("$bin/tollbook-cli" --mailbox "$work/Maildir" --folder Accounting --output "$work/out" --summary --no-ledger)
echo "tollbook-cli: $run"
[[ $run == "Accounting Files Processed "[1-9]* ]] || fail "unexpected output of the run: $run"
[[ -s $work/out/fullacct.csv && -s $work/out/summary.csv ]] || fail "the run wrote no fullacct.csv or summary.csv"

man_path=$(man -M "$prefix/usr/share/man" -w tollbook-cli)
[[ $man_path == "$prefix/usr/share/man/man1/tollbook-cli.1.gz" ]] || fail "man -w tollbook-cli: $man_path"
for page in tollbook tollbook-sample; do
  man -M "$prefix/usr/share/man" -w "$page" >/dev/null || fail "no manual page $page"
done
desktop-file-validate "$prefix/usr/share/applications/tollbook.desktop" || fail "desktop-file-validate"
for icon in 16x16/apps/tollbook.png 32x32/apps/tollbook.png 48x48/apps/tollbook.png \
            64x64/apps/tollbook.png 128x128/apps/tollbook.png scalable/apps/tollbook.svg; do
  [[ -s $prefix/usr/share/icons/hicolor/$icon ]] || fail "no icon $icon"
done
completion=$prefix/usr/share/bash-completion/completions/tollbook-cli
bash -c 'source "$1" && complete -p tollbook-cli' _ "$completion" >/dev/null || fail "the completion does not load"
[[ -s $prefix/usr/share/doc/tollbook-cli/examples/tollbook-collect.timer ]] || fail "no timer example"

# --- Remove ------------------------------------------------------------------
mapfile -t owned < <(dpkg-query "${query_root[@]}" -L tollbook tollbook-cli)
((${#owned[@]} > 20)) || fail "dpkg-query -L lists only ${#owned[@]} paths"
dpkg "${dpkg_root[@]}" --purge tollbook tollbook-cli
installed=
for path in "${owned[@]}"; do
  if [[ -f $prefix$path || -L $prefix$path ]]; then
    fail "left after dpkg --purge: $prefix$path"
  fi
done
echo "installed, ran and removed tollbook-cli and tollbook ($mode)"
