#!/usr/bin/env bash
# shellcheck disable=SC2016,SC2034 # expect evaluates its condition (with $status) when it runs
# The package set-up of scripts/lib/setup.sh against a mirror in the middle
# of a sync, with fake apt-get, dpkg and dpkg-query first on PATH (no root,
# no network, nothing installed): an index that fails to download, an install
# that only the release's own suite satisfies, an install cut short before,
# and nothing working at all.
#   tests/scripts/setup_test.sh
set -euo pipefail
tree=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d /tmp/setupsup-setup-test.XXXXXX)
trap 'rm -rf "$work"' EXIT
failures=0

# The fakes keep their state in $FAKE (installed packages, architectures,
# an interrupted dpkg) and log every call to $FAKE/calls; what fails is
# set per case: $FAKE/update-fails, and $FAKE/install (works, never, or
# with-suite: only with -t).
mkdir "$work/bin"
cat >"$work/bin/dpkg-query" <<'EOF'
#!/bin/sh
package=$3   # dpkg-query -W -f=... PACKAGE
grep -qxF "$package" "$FAKE/installed" && printf 'install ok installed'
EOF
cat >"$work/bin/dpkg" <<'EOF'
#!/bin/sh
echo "dpkg $*" >>"$FAKE/calls"
case "$1" in
  --print-foreign-architectures) cat "$FAKE/architectures" ;;
  --add-architecture) echo "$2" >>"$FAKE/architectures" ;;
  --audit) cat "$FAKE/interrupted" 2>/dev/null ;;
  --configure) rm -f "$FAKE/interrupted" ;;
esac
exit 0
EOF
cat >"$work/bin/apt-get" <<'EOF'
#!/bin/sh
echo "apt-get $*" >>"$FAKE/calls"
packages="" target="" command=""
while [ $# -gt 0 ]; do
  case "$1" in
    -o) shift ;;
    -t) target=$2; shift ;;
    -*) ;;
    update | install | check) command=${command:-$1} ;;
    *) packages="$packages $1" ;;
  esac
  shift
done
case "$command" in
  check) [ -e "$FAKE/interrupted" ] && { echo "E: dpkg was interrupted"; exit 100; }; exit 0 ;;
  update)
    [ -e "$FAKE/update-fails" ] || exit 0
    echo "E: Failed to fetch security/binary-i386/Packages.xz  File has unexpected size. Mirror sync in progress?"
    echo "E: Some index files failed to download."
    exit 100 ;;
esac
[ -e "$FAKE/interrupted" ] && { echo "E: dpkg was interrupted"; exit 100; }
[ -z "$packages" ] && exit 0   # apt-get -f install
case "$(cat "$FAKE/install"):$target" in
  works:* | with-suite:?*) for p in $packages; do echo "$p" >>"$FAKE/installed"; done ;;
  *) echo "E: Unable to correct problems, you have held broken packages."; exit 100 ;;
esac
EOF
chmod 755 "$work/bin"/*

PATH=$work/bin:$PATH
# Never the real apt-get: a fake that is not found would install for real.
[ "$(command -v apt-get)" = "$work/bin/apt-get" ] || { echo "setup_test: fake apt-get not first on PATH" >&2; exit 1; }
source "$tree/scripts/lib/setup.sh"
setupsup_as_root() { return 0; }
setupsup_apt_pause=0

# new_case NAME INSTALL: a machine with nothing installed and no i386, whose
# installs behave as INSTALL says; its release is "testsuite".
new_case() {
  case_name=$1
  export FAKE=$work/$1
  mkdir "$FAKE"
  : >"$FAKE/installed"
  : >"$FAKE/calls"
  : >"$FAKE/architectures"
  echo "$2" >"$FAKE/install"
  echo 'VERSION_CODENAME="testsuite"' >"$FAKE/os-release"
  setupsup_os_release=$FAKE/os-release
}

# run_install: setupsup_install of two packages, its status in $status and
# its notes in $FAKE/notes.
run_install() {
  status=0
  setupsup_install fake-tool fake-lib:i386 2>"$FAKE/notes" || status=$?
}

expect() {
  if ! eval "$1"; then
    echo "setup_test: $case_name: expected $1" >&2
    sed 's/^/  | /' "$FAKE/calls" "$FAKE/notes" >&2
    failures=$((failures + 1))
  fi
}
calls() { grep -c -- "$1" "$FAKE/calls" || true; }
installed() { grep -qxF fake-tool "$FAKE/installed" && grep -qxF fake-lib:i386 "$FAKE/installed"; }

new_case installed works
printf 'fake-tool\nfake-lib:i386\n' >"$FAKE/installed"
run_install
expect '[ $status -eq 0 ] && [ ! -s "$FAKE/calls" ]'

# The index of one suite fails every time; the install goes on with the
# indexes apt has and succeeds.
new_case index_fails works
touch "$FAKE/update-fails"
run_install
expect '[ $status -eq 0 ] && installed'
expect '[ "$(calls "apt-get .* update")" -eq 3 ] && [ "$(calls "apt-get .* install")" -eq 1 ]'
expect 'grep -qx "dpkg --add-architecture i386" "$FAKE/calls"'

# Held broken packages until the release's own suite is the target.
new_case held_broken with-suite
run_install
expect '[ $status -eq 0 ] && installed'
expect '[ "$(calls "apt-get .* install")" -eq 3 ] && tail -n 1 "$FAKE/calls" | grep -q -- "install .*-t testsuite fake-tool fake-lib:i386"'

# An earlier install was cut short: it is finished before anything else.
new_case interrupted works
echo "fake-half: unpacked, not configured" >"$FAKE/interrupted"
run_install
expect '[ $status -eq 0 ] && installed'
expect 'head -n 4 "$FAKE/calls" | grep -q "^dpkg --configure -a" && head -n 4 "$FAKE/calls" | grep -q "apt-get .* -f install"'

# Nothing works: one line says what failed and what to run (the suite is
# bookworm when os-release names none).
new_case nothing_works never
touch "$FAKE/update-fails"
echo 'VERSION_ID="12"' >"$FAKE/os-release"
run_install
expect '[ $status -ne 0 ] && ! installed'
expect '[ "$(grep -c "could not install" "$FAKE/notes")" -eq 1 ]'
expect 'tail -n 1 "$FAKE/notes" | grep -q "^\[setup\] could not install fake-tool fake-lib:i386: apt-get update: E: Failed to fetch .*Mirror sync.*; apt-get install -t bookworm: E: .*held broken packages.*; run: apt-get update && apt-get install -t bookworm --no-install-recommends fake-tool fake-lib:i386"'

if [ $failures -ne 0 ]; then
  echo "setup_test: $failures check(s) failed" >&2
  exit 1
fi
echo "setup_test: the package set-up passed (installed, index fails, held broken, interrupted, nothing works)"
