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

# files_of FOLDER: its files, relative to it, sorted.
files_of() { find "$1" -type f -printf '%P\n' | LC_ALL=C sort; }

# compare A B: status 0 when the two folders hold the same files with the
# same bytes; else prints every file that is in one only or differs (with
# its first differing byte).
compare() {
  local a=$1 b=$2 file status=0
  if ! diff <(files_of "$a") <(files_of "$b") >"$work/listing.diff"; then
    echo "check-reproducible: the release folders hold different files:"
    sed -n 's/^[<>] /  /p' "$work/listing.diff"
    status=1
  fi
  while read -r file; do
    [ -f "$b/$file" ] || continue
    if ! cmp "$a/$file" "$b/$file" >"$work/cmp.out" 2>&1; then
      echo "check-reproducible: differs: $file ($(cat "$work/cmp.out"))"
      status=1
    fi
  done < <(files_of "$a")
  return $status
}

# zip_differences A B: the entries of two zips whose name, date, mode or
# contents differ.
zip_differences() {
  /usr/bin/python3 - "$1" "$2" <<'EOF'
import sys, zipfile
def entries(path):
    return [(i.filename, i.date_time, oct(i.external_attr >> 16), i.create_system, i.CRC, i.extra)
            for i in zipfile.ZipFile(path).infolist()]
a, b = entries(sys.argv[1]), entries(sys.argv[2])
for x, y in zip(a, b):
    if x != y:
        print(f"  entry {x} against {y}")
if len(a) != len(b):
    print(f"  {len(a)} entries against {len(b)}")
EOF
}

SOURCE_DATE_EPOCH=$(setupsup_source_date_epoch "$tree")
export SOURCE_DATE_EPOCH

first=$work/a/setupsup
second=$work/bbbbbbbbbbbbbbbbbbbb/another-place/src
copy_sources "$first"
copy_sources "$second"
make_one "$first" "$first/build/release" "$work/dist-a" 022 UTC
make_one "$second" "$work/elsewhere/build-b" "$work/dist-b" 077 Pacific/Kiritimati

name=$(cat "$first/build/release/release-name")
status=0
compare "$work/dist-a/$name" "$work/dist-b/$name" || status=1
if ! cmp -s "$work/dist-a/$name.zip" "$work/dist-b/$name.zip"; then
  echo "check-reproducible: differs: $name.zip"
  zip_differences "$work/dist-a/$name.zip" "$work/dist-b/$name.zip" || true
  status=1
fi
if [ $status -ne 0 ]; then
  trap - EXIT
  echo "check-reproducible: the two releases differ; both are in $work" >&2
  exit 1
fi
echo "check-reproducible: $name: $(files_of "$work/dist-a/$name" | wc -l) files and the zip" \
  "(sha256 $(sha256sum "$work/dist-a/$name.zip" | cut -d' ' -f1)) are the same from both builds"
