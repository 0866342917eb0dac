#!/bin/sh
# Checks the import table of the built DLL against the committed list of
# allowed imports, and that no thread library is linked into it.
#   check_imports.sh OBJDUMP NM DLL LIST [x86|x64]
# Every imported DLL must be named on a "DLL" line of LIST (the known DLLs
# of the NT family; any other is loaded at run time from the system folder),
# and every imported function must be in LIST, whose entries name the first
# Windows 95-family and the first NT release that export the function; an
# entry newer than Windows 98 or NT 4.0 is refused, since the DLL would then
# not load there (such a function must be resolved by name at run time).
# For the x64 DLL each entry names the first 64-bit Windows instead, which
# must be Windows XP x64 / Server 2003 x64 (XPx64).
set -u
objdump=$1 nm=$2 dll=$3 list=$4 arch=${5:-x86}

imports=$("$objdump" -p "$dll" | awk '
  /^\tDLL Name:/ { dll = toupper($3); next }
  /^\tvma:/ { next }
  /^$/ { dll = "" }
  dll != "" && /^\t[0-9a-f]+\t/ { print dll, $NF }') || exit 1
[ -n "$imports" ] || { echo "no imports read from $dll" >&2; exit 1; }

status=0
printf '%s\n' "$imports" | awk -v list="$list" -v arch="$arch" '
  BEGIN {
    old95["95"] = old95["98"] = 1
    oldNt["NT3.1"] = oldNt["NT3.5"] = oldNt["NT3.51"] = oldNt["NT4.0"] = 1
    while ((getline line < list) > 0) {
      if (line ~ /^[ \t]*(#|$)/) continue
      n = split(line, f, /[ \t]+/)
      if (f[1] == "DLL") {
        knownDll[toupper(f[2])] = 1
        continue
      }
      key = toupper(f[1]) " " f[2]
      allowed[key] = 1
      if (arch == "x64" && (n < 3 || f[3] != "XPx64")) {
        printf "%s: %s is listed as first in %s: newer than Windows XP x64, so it must be resolved at run time\n", list, key, f[3]
        bad = 1
      } else if (arch != "x64" && (n < 4 || !(f[3] in old95) || !(f[4] in oldNt))) {
        printf "%s: %s is listed as first in %s and %s: newer than Windows 98 or NT 4.0, so it must be resolved at run time\n", list, key, f[3], f[4]
        bad = 1
      }
    }
  }
  {
    used[$0] = 1
    if (!($1 in knownDll) && !($1 in refusedDll)) {
      printf "imports from %s, which is not a known DLL of the NT family: a DLL of that name beside the program would be loaded with this one; load it at run time from the system folder (frame/kept_library.h)\n", $1
      refusedDll[$1] = 1
      bad = 1
    }
    if (!($0 in allowed)) {
      printf "new import %s: add it to %s with the first Windows 95-family and NT releases that export it\n", $0, list
      bad = 1
    }
  }
  END {
    for (key in allowed)
      if (!(key in used)) printf "note: %s is listed but no longer imported\n", key
    exit bad
  }' || status=1

# The thread library, if linked in, brings its pthread_ functions along.
symbols=$("$nm" "$dll" 2>/dev/null) || symbols=""
if [ -z "$symbols" ]; then
  echo "$dll has no symbol table: cannot tell whether the thread library is in it"
  exit 1
fi
threads=$(printf '%s\n' "$symbols" | grep -c 'pthread_')
if [ "$threads" -ne 0 ]; then
  echo "$dll holds $threads symbols of the thread library: build it with the win32 thread-model compilers"
  status=1
fi
[ $status -eq 0 ] && echo "$(printf '%s\n' "$imports" | wc -l) imports, all listed; no thread library"
exit $status
