# shellcheck shell=bash
# The release, made the same way by scripts/release and by the check that two
# builds give the same bytes (tests/package/check-reproducible.sh). Sourced,
# not run.

# setupsup_source_date_epoch SOURCE: the time the release's files carry (its
# zip's entries, the stripped binaries' PE time stamp), in seconds since
# 1970: SOURCE_DATE_EPOCH when the caller sets it; in a git checkout the
# time of the commit, so that anyone who rebuilds the commit gets the same
# bytes; else (sources without git) the time of the newest source file.
setupsup_source_date_epoch() {
  local source=$1
  if [ -n "${SOURCE_DATE_EPOCH:-}" ]; then
    echo "$SOURCE_DATE_EPOCH"
  elif command -v git >/dev/null && git -C "$source" rev-parse --git-dir >/dev/null 2>&1; then
    git -C "$source" log -1 --format=%ct
  else
    find "$source" \( -path "$source/build" -o -path "$source/dist" -o -path "$source/.git" \) -prune \
      -o -type f -printf '%T@\n' | sort -n | tail -n 1 | cut -d. -f1
  fi
}

# setupsup_make_release SOURCE BUILD DIST: builds what the release ships
# from SOURCE, for x86 and for x64, in BUILD/x86 and BUILD/x64 (the release
# presets: no tests, no benchmark, no example installer, so no Wine either),
# installs both stripped into DIST/NAME/ (x86/ and x64/ beside the common
# files) with its SHA256SUMS and packs it into DIST/NAME.zip. NAME
# (setupsup-VERSION) is printed. A subshell: SOURCE_DATE_EPOCH stays here.
# Each step is checked: set -e does not hold where the caller tests the
# status (make || ...).
setupsup_make_release() (
  source=$1 build=$2 dist=$3
  # strip writes SOURCE_DATE_EPOCH as the PE time stamp (ld writes none),
  # and release-zip.py dates the zip's entries with it.
  SOURCE_DATE_EPOCH=$(setupsup_source_date_epoch "$source") || exit 1
  export SOURCE_DATE_EPOCH
  for arch in x86 x64; do
    preset=release
    [ $arch = x64 ] && preset=release-x64
    cmake -S "$source" -B "$build/$arch" --preset $preset >/dev/null || exit 1
    cmake --build "$build/$arch" -j"$(nproc)" >&2 || exit 1
  done
  name=$(cat "$build/x86/release-name") || exit 1
  mkdir -p "$dist" && rm -rf "${dist:?}/$name" "$dist/$name.zip" || exit 1
  for arch in x86 x64; do
    cmake --install "$build/$arch" --prefix "$dist/$name" --strip >/dev/null || exit 1
  done
  /usr/bin/python3 "$source/scripts/lib/release-zip.py" "$dist" "$name" || exit 1
  echo "$name"
)
