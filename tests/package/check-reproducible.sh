#!/usr/bin/env bash
# Two releases of the same sources must be the same bytes, so that anyone can
# rebuild a release and compare it with the published one. Copies the
# tracked files of this work tree (as they are now) to two folders whose
# paths differ, and makes a release from each, one after the other (so at
# two different times), one with its build folder inside its sources and one
# outside, with different umasks and time zones. Then compares every file of
# the two release folders, and the two zips, byte for byte, and prints what
# differs. Both builds take one SOURCE_DATE_EPOCH: this checkout's.
#   tests/package/check-reproducible.sh
set -euo pipefail
tree=$(cd "$(dirname "$0")/../.." && pwd)
source "$tree/scripts/lib/release.sh"

work=$(mktemp -d /tmp/setupsup-reproducible.XXXXXX)
# Kept when the check fails, to look into.
trap 'rm -rf "$work"' EXIT

# copy_sources DEST: the tracked files of the work tree, with their changes
# (without git: the tree but for its build and release folders).
copy_sources() {
  mkdir -p "$1"
  if git -C "$tree" rev-parse --git-dir >/dev/null 2>&1; then
    (cd "$tree" && git ls-files -z | tar --null --ignore-failed-read -T - -cf - 2>/dev/null) | tar -xf - -C "$1"
  else
    tar -C "$tree" --exclude=./build --exclude=./dist -cf - . | tar -xf - -C "$1"
  fi
}

# make_one SOURCE BUILD DIST UMASK TZ: one release, from SOURCE.
make_one() {
  local started=$SECONDS
  (umask "$4" && TZ=$5 setupsup_make_release "$1" "$2" "$3") >/dev/null 2>"$3.log" ||
    { cat "$3.log" >&2; return 1; }
  echo "check-reproducible: $1 built in $((SECONDS - started)) s"
}

# zip_entries ZIP: one line per entry: its name, date, mode, system, CRC
# and extra fields, where a zip that differs shows what.
zip_entries() {
  /usr/bin/python3 -c 'import sys, zipfile
for i in zipfile.ZipFile(sys.argv[1]).infolist():
    print(i.filename, i.date_time, oct(i.external_attr >> 16), i.create_system, i.CRC, i.extra)' "$1"
}

SOURCE_DATE_EPOCH=$(setupsup_source_date_epoch "$tree")
export SOURCE_DATE_EPOCH

first=$work/a/setupsup
second=$work/bbbbbbbbbbbbbbbbbbbb/another-place/src
copy_sources "$first"
copy_sources "$second"
make_one "$first" "$first/build/release" "$work/dist-a" 022 UTC
make_one "$second" "$work/elsewhere/build-b" "$work/dist-b" 077 Pacific/Kiritimati

name=$(cat "$first/build/release/x86/release-name")
status=0
# Every file of the two release folders, and the two zips.
diff -rq "$work/dist-a" "$work/dist-b" | sed 's/^/check-reproducible: /' || status=1
if ! cmp -s "$work/dist-a/$name.zip" "$work/dist-b/$name.zip"; then
  diff <(zip_entries "$work/dist-a/$name.zip") <(zip_entries "$work/dist-b/$name.zip") | grep '^[<>]' || true
fi
if [ $status -ne 0 ]; then
  trap - EXIT
  echo "check-reproducible: the two releases differ; both are in $work" >&2
  exit 1
fi
echo "check-reproducible: $name: $(find "$work/dist-a/$name" -type f | wc -l) files and the zip" \
  "(sha256 $(sha256sum "$work/dist-a/$name.zip" | cut -d' ' -f1)) are the same from both builds"
