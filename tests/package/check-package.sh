#!/bin/sh
# Installs the build as a release folder, checks its layout and checksums,
# moves it (the package must not depend on where it was installed), then
# builds the consumer project against it with find_package(setupsup) and
# runs the consumer under Wine. ARCH (x86 or x64) is the build's folder in
# the release; a consumer of the other architecture finds no package there.
#   check-package.sh BUILD_DIR TOOLCHAIN_FILE GENERATOR VERSION ARCH OTHER_TOOLCHAIN_FILE
set -eu
build=$1 toolchain=$2 generator=$3 version=$4 arch=$5 other_toolchain=$6
here=$(cd "$(dirname "$0")" && pwd)
work=$build/package-test
fail() { echo "check-package: $*" >&2; exit 1; }

rm -rf "$work"
cmake --install "$build" --prefix "$work/installed/setupsup-$version" --strip >/dev/null
mkdir -p "$work/moved"
mv "$work/installed/setupsup-$version" "$work/moved/"
release=$work/moved/setupsup-$version

for file in $arch/setupsup.dll $arch/setupsup-call.exe $arch/cbf.exe \
  $arch/libsetupsup.dll.a $arch/setupsup.lib $arch/setupsup.def include/setupsup.h \
  lib/cmake/setupsup/setupsupConfig.cmake lib/cmake/setupsup/setupsupConfigVersion.cmake \
  README.md LICENSE CHANGELOG.md SECURITY.md SHA256SUMS; do
  [ -f "$release/$file" ] || fail "missing $file"
done
(cd "$release" && sha256sum --quiet --strict -c SHA256SUMS) || fail "SHA256SUMS does not match"
listed=$(wc -l < "$release/SHA256SUMS")
present=$(find "$release" -type f ! -name SHA256SUMS | wc -l)
[ "$listed" -eq "$present" ] || fail "SHA256SUMS lists $listed files, the folder has $present"
grep -q "^#define SETUPSUP_VERSION_STRING \"$version\"" "$release/include/setupsup.h" ||
  fail "the installed header does not carry $version"

# setupsup_DIR rather than CMAKE_PREFIX_PATH: a cross toolchain (ours
# searches for packages under its sysroot only) re-roots the prefix path.
configure() {
  cmake -S "$here/consumer" -B "$1" -G "$generator" -DCMAKE_TOOLCHAIN_FILE="${3:-$toolchain}" \
    -Dsetupsup_DIR="$release/lib/cmake/setupsup" -DSETUPSUP_WANTED_VERSION="$2"
}
configure "$work/consumer" "$version" >"$work/configure.log" 2>&1 || { cat "$work/configure.log"; fail "configure"; }
cmake --build "$work/consumer" >"$work/build.log" 2>&1 || { cat "$work/build.log"; fail "build"; }
output=$("$build/wine-run" "$work/consumer/consumer.exe" | tr -d '\r') || fail "consumer failed: $output"
echo "$output"
echo "$output" | grep -q "^setupsup $version: FormatDate=11 " || fail "unexpected output"

# A consumer of the other architecture finds no package in a folder that
# holds this one's build only.
if configure "$work/consumer-other" "$version" "$other_toolchain" >"$work/configure-other.log" 2>&1; then
  fail "a consumer of the other architecture accepted a folder of $arch files only"
fi

# The next major version is not this package.
next="$(( ${version%%.*} + 1 )).0"
if configure "$work/consumer-next" "$next" >"$work/configure-next.log" 2>&1; then
  fail "find_package(setupsup $next) accepted version $version"
fi
echo "check-package: release folder setupsup-$version passed"
