#!/bin/sh
# Runs a Windows test program under Wine as a user without root's rights.
# Wine run by root can write read-only files (the kernel lets root past the
# file modes Wine maps the read-only attribute to), so tests of read-only
# files run as the unprivileged user 65534 in a copy of the build's prefix
# that this user owns, away from the build folder (which that user may not
# be able to reach). Run by any other user, the program simply runs.
#   run-unprivileged.sh WINE_RUN [FILE...] PROGRAM
# WINE_RUN: the build's wine-run, which names the prefix to copy (the one
# SETUPSUP_WINEARCH selects). FILE: more files the program needs next to it
# (the DLL under test).
# Run as root, it also gives the program files it may write but does not
# own (so it cannot set their times): SETUPSUP_FOREIGN_DIR names their
# folder, which holds foreign-1.bin to foreign-3.bin.
set -u
wine_run=$1
shift
for program; do :; done   # the last argument
[ "$(id -u)" -ne 0 ] && exec "$wine_run" "$program"

uid=65534
wineserver="${SETUPSUP_WINESERVER:-wineserver}"
work=$(mktemp -d /tmp/setupsup-unprivileged.XXXXXX) || exit 1
# Debian's Wine keeps its server's socket under TMPDIR, in a folder it finds
# again by the prefix's device and inode: a folder of its own keeps it from
# finding root's (unreachable) folder of an earlier prefix with that inode.
as_user() {
  setpriv --reuid=$uid --regid=$uid --clear-groups env HOME="$work/home" TMPDIR="$work/tmp" USER=nobody "$@"
}
cleanup() {
  as_user env WINEPREFIX="$work/prefix" $wineserver -k 2>/dev/null
  as_user env WINEPREFIX="$work/prefix" timeout 60 $wineserver -w 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

"$wine_run" --init || exit 1
prefix=$("$wine_run" --prefix) || exit 1
mkdir "$work/bin" "$work/home" "$work/tmp" &&
  cp -a "$prefix" "$work/prefix" &&
  # Debian 13's Wine names its server's folder (root's, here) in the prefix's
  # file "wineserver" and refuses a folder of another user: the copy makes its own.
  rm -f "$work/prefix/wineserver" &&
  cp "$wine_run" "$@" "$work/bin/" &&
  chmod 755 "$work" &&
  chown -R $uid:$uid "$work" || exit 1
mkdir "$work/foreign" && chmod 755 "$work/foreign" || exit 1
for n in 1 2 3; do
  : > "$work/foreign/foreign-$n.bin" && chmod 666 "$work/foreign/foreign-$n.bin" || exit 1
done
as_user env SETUPSUP_FOREIGN_DIR="Z:$work/foreign" SETUPSUP_WINEPREFIX="$work/prefix" "$work/bin/$(basename "$wine_run")" "$work/bin/$(basename "$program")"
