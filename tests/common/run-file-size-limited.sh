#!/bin/sh
# Runs a Windows test program under Wine with a limit on the size of the
# files it may write, so that writes past the limit fail for real (as on a
# full disk). The Wine server is started first, without the limit, so that
# it never inherits it. SIGXFSZ is ignored: the failing write then returns
# an error instead of ending the process.
#   run-file-size-limited.sh BYTES WINE_RUN PROGRAM
# The program finds the limit in SETUPSUP_FILE_SIZE_LIMIT.
set -u
limit=$1 wine_run=$2 program=$3
"$wine_run" --init || exit 1
trap '' XFSZ
SETUPSUP_FILE_SIZE_LIMIT=$limit exec prlimit --fsize="$limit" "$wine_run" "$program"
