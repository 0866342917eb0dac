# shellcheck shell=bash
# The build's Wine prefixes, stopped when a script ends. Sourced, not run,
# from the top of the work tree.
#
# A persistent Wine server (wine-run --init, which the tests and the demo
# use) and Wine's service processes under it outlive the script that started
# them unless someone stops them; scripts that run Wine call
# setupsup_stop_wine_at_exit so that they stop them however they end.

# The prefixes are shared by the x86 and the x64 build: either's wine-run
# reaches both.
setupsup_wine_run=$PWD/build/x86/wine-run
[ -x "$setupsup_wine_run" ] || setupsup_wine_run=$PWD/build/x64/wine-run

# setupsup_stop_wine: stops the servers of the build's two prefixes (the
# 32-bit and the 64-bit one; SETUPSUP_WINEPREFIX, when set, names the
# prefix instead), and with them Wine's services.
setupsup_stop_wine() {
  [ -x "$setupsup_wine_run" ] || return 0
  local arch
  for arch in win32 win64; do
    SETUPSUP_WINEARCH=$arch "$setupsup_wine_run" --stop
  done
}

# setupsup_stop_wine_at_exit: setupsup_stop_wine when the script ends: done,
# failed, interrupted (Ctrl-C) or told to end (TERM, HUP). The signals end
# the script through exit, so that the EXIT trap runs for them too.
setupsup_stop_wine_at_exit() {
  trap setupsup_stop_wine EXIT
  trap 'exit 130' INT
  trap 'exit 143' TERM
  trap 'exit 129' HUP
}

# setupsup_no_wine_left: status 0 when no Wine process of the build's two
# prefixes runs, else lists them. A server that was just told to stop, or
# a build step's server, may take a moment to end: wait up to 10 s.
setupsup_no_wine_left() {
  [ -x "$setupsup_wine_run" ] || return 0
  local arch attempt found left
  for attempt in $(seq 10) last; do
    left=""
    for arch in win32 win64; do
      found=$(SETUPSUP_WINEARCH=$arch "$setupsup_wine_run" --running) || true
      if [ -n "$found" ]; then left+="$arch: $found"$'\n'; fi
    done
    if [ -z "$left" ]; then return 0; fi
    if [ "$attempt" != last ]; then sleep 1; fi
  done
  printf 'Wine processes of the build left running:\n%s' "$left" >&2
  return 1
}
