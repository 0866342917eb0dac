# Machine setup shared by scripts/demo and scripts/test: the Debian packages the
# build and the Wine tests need, and a way to run 32-bit Linux programs (Wine's
# i386 loader) on kernels that refuse them. Sourced, not run. Idempotent.

setupsup_packages="cmake ninja-build g++ googletest clang-14 clang-format-14 clang-tidy-14 cppcheck libclang-rt-14-dev llvm-14
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 mingw-w64-tools wine wine32:i386 wine64 python3-fonttools
  fonts-dejavu-core locales-all util-linux xz-utils nsis"

setupsup_note() { printf '[setup] %s\n' "$*" >&2; }

setupsup_as_root() {
  if [ "$(id -u)" -ne 0 ]; then
    setupsup_note "needs root to install: $*"
    return 1
  fi
}

# The Debian release this machine runs (VERSION_CODENAME of os-release,
# else bookworm): apt can be told to take packages from its own suite.
setupsup_os_release=/etc/os-release
setupsup_suite() {
  local codename
  codename=$(sed -n 's/^VERSION_CODENAME=//p' "$setupsup_os_release" 2>/dev/null | tr -d '"' | head -n 1)
  echo "${codename:-bookworm}"
}

# Tries of apt-get update (before the first install), and seconds between
# tries: time for a mirror to finish its sync.
setupsup_apt_tries=3
setupsup_apt_pause=20

# setupsup_missing PACKAGE...: those of the packages not installed.
setupsup_missing() {
  local p missing=""
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing="$missing $p"
  done
  echo "${missing# }"
}

# setupsup_apt ARGS...: apt-get, never asking, waiting for another apt or
# dpkg (unattended upgrades on a new machine) instead of failing; its
# output goes to $setupsup_apt_log.
setupsup_apt() {
  DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 "$@" >"$setupsup_apt_log" 2>&1
}

# What the last apt-get run says failed: its first error (the cause; the
# errors after it sum up), else its first warning, else its last line.
setupsup_apt_error() {
  grep -m 1 '^E: ' "$setupsup_apt_log" || grep -m 1 '^W: ' "$setupsup_apt_log" || tail -n 1 "$setupsup_apt_log"
}

# An install cut short (Ctrl-C, a lost connection) leaves packages unpacked
# but not configured, or dependencies broken, and apt-get install refuses
# everything until that is finished: finish it first, so that a second run
# completes what the first began.
setupsup_repair_dpkg() {
  [ -z "$(dpkg --audit 2>/dev/null)" ] && apt-get check -qq >/dev/null 2>&1 && return 0
  setupsup_note "finishing an install that was cut short (dpkg --configure -a, apt-get -f install)"
  DEBIAN_FRONTEND=noninteractive dpkg --configure -a >"$setupsup_apt_log" 2>&1 || true
  setupsup_apt -f install -y || true
}

# setupsup_apt_update TRIES: apt-get update, tried up to TRIES times. Its
# failure is not fatal: a mirror in the middle of a sync serves an index
# of the wrong size ("Mirror sync in progress?"), and apt still installs
# from the indexes it has; the install decides.
setupsup_apt_update() {
  local try
  for try in $(seq "$1"); do
    setupsup_apt update && return 0
    setupsup_update_error=$(setupsup_apt_error)
    setupsup_note "apt-get update failed ($try of $1): $setupsup_update_error"
    [ "$try" -lt "$1" ] && sleep "$setupsup_apt_pause"
  done
  setupsup_note "going on with the package indexes apt has"
  return 1
}

# setupsup_install PACKAGE...: installs those of the packages not installed.
# Tries apt-get install twice (the second after a pause and a new update),
# then with the release's own suite as the target (-t SUITE): with the
# security suite's i386 index missing, apt took amd64 libraries from that
# suite whose i386 twins it could not see and refused the install ("held
# broken packages"); -t takes both from the release. When nothing works,
# one line says what failed and what to run, and the status is 1.
setupsup_install() {
  local missing suite failure="" packages
  missing=$(setupsup_missing "$@")
  [ -z "$missing" ] && return 0
  setupsup_as_root "$missing" || return 1
  setupsup_note "installing: $missing"
  read -ra packages <<<"$missing"
  suite=$(setupsup_suite)
  setupsup_apt_log=$(mktemp)
  setupsup_update_error=""
  setupsup_repair_dpkg
  if [[ " $missing " == *":i386 "* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
  fi
  setupsup_apt_update "$setupsup_apt_tries" || true
  if ! setupsup_apt install -y --no-install-recommends "${packages[@]}"; then
    setupsup_note "apt-get install failed: $(setupsup_apt_error); trying again in $setupsup_apt_pause s"
    sleep "$setupsup_apt_pause"
    setupsup_apt_update 1 || true
    if ! setupsup_apt install -y --no-install-recommends "${packages[@]}"; then
      setupsup_note "apt-get install failed: $(setupsup_apt_error); trying with $suite as the target release"
      setupsup_apt install -y --no-install-recommends -t "$suite" "${packages[@]}" ||
        failure="apt-get install -t $suite: $(setupsup_apt_error)"
    fi
  fi
  rm -f "$setupsup_apt_log"
  if [ -z "$failure" ] && [ -n "$(setupsup_missing "${packages[@]}")" ]; then
    failure="apt-get reported success, but $(setupsup_missing "${packages[@]}") is not installed"
  fi
  [ -z "$failure" ] && return 0
  [ -n "$setupsup_update_error" ] && failure="apt-get update: $setupsup_update_error; $failure"
  setupsup_note "could not install $missing: $failure; run: apt-get update && apt-get install -t $suite --no-install-recommends $missing, then $0 again"
  return 1
}

setupsup_install_packages() {
  # shellcheck disable=SC2086 # one word per package
  setupsup_install $setupsup_packages
}

# Wine's 32-bit loader is an i386 ELF program. Some kernels (64-bit-only
# virtual machines) refuse those with ENOEXEC; there we run them through
# qemu's user-mode emulator registered with binfmt_misc. qemu 7.2 (Debian 12)
# cannot host Wine (reserving the shared user data page fails); the user-mode
# emulator of the next Debian release can, and it is a static program, so we
# take just that binary from its package.
setupsup_qemu=/usr/local/libexec/setupsup/qemu-i386
setupsup_binfmt=/proc/sys/fs/binfmt_misc

setupsup_i386_runs() { /usr/lib/wine/wine --version >/dev/null 2>&1; }

setupsup_debian_mirror() {
  # The archive this machine already uses, so that nothing else is contacted.
  local f
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] || continue
    awk '/^URIs:/ { uri=$2 } /^Suites:/ && / bookworm/ && uri != "" && uri !~ /security/ { print uri; exit }' "$f"
  done | head -n 1
  [ -f /etc/apt/sources.list ] && awk '$1=="deb" && $0 ~ / bookworm / && $0 !~ /security/ { for (i=2;i<=NF;i++) if ($i ~ /^[a-z]+:\/\//) { print $i; exit } }' /etc/apt/sources.list | head -n 1
}

setupsup_fetch_qemu() {
  [ -x "$setupsup_qemu" ] && return 0
  setupsup_as_root "qemu-i386" || return 1
  local mirror work
  mirror=$(setupsup_debian_mirror | head -n 1)
  [ -n "$mirror" ] || { setupsup_note "no Debian archive found in the apt sources"; return 1; }
  work=$(mktemp -d)
  chmod 755 "$work"
  mkdir -p "$work/lists/partial" "$work/cache/archives/partial"
  echo "deb [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] $mirror trixie main" > "$work/sources.list"
  local opts="-o Dir::Etc::SourceList=$work/sources.list -o Dir::Etc::SourceParts=$work/none
    -o Dir::State::Lists=$work/lists -o Dir::Cache=$work/cache -o APT::Architectures::=amd64 -o APT::Sandbox::User=root"
  setupsup_note "fetching the i386 user-mode emulator (qemu-user, trixie)"
  # shellcheck disable=SC2086
  apt-get $opts update -qq >/dev/null &&
    (cd "$work" && apt-get $opts download qemu-user >/dev/null) &&
    dpkg-deb -x "$work"/qemu-user_*.deb "$work/root" &&
    install -D -m 755 "$work/root/usr/bin/qemu-i386" "$setupsup_qemu"
  local rc=$?
  rm -rf "$work"
  return $rc
}

setupsup_register_qemu() {
  setupsup_as_root "binfmt_misc registration" || return 1
  [ -e "$setupsup_binfmt/register" ] || mount -t binfmt_misc binfmt_misc "$setupsup_binfmt" || return 1
  if [ -e "$setupsup_binfmt/qemu-i386" ]; then
    grep -q "$setupsup_qemu" "$setupsup_binfmt/qemu-i386" && return 0
    echo -1 > "$setupsup_binfmt/qemu-i386"
  fi
  # i386 ELF executables and shared objects; F opens the emulator now, P keeps argv[0].
  printf '%s' ":qemu-i386:M::\\x7fELF\\x01\\x01\\x01\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x02\\x00\\x03\\x00:\\xff\\xff\\xff\\xff\\xff\\xfe\\xfe\\x00\\xff\\xff\\xff\\xff\\xff\\xff\\xff\\xff\\xfe\\xff\\xff\\xff:$setupsup_qemu:FP" \
    > "$setupsup_binfmt/register"
}

setupsup_ensure_i386() {
  if [ -e "$setupsup_binfmt/qemu-i386" ] && grep -q "$setupsup_qemu" "$setupsup_binfmt/qemu-i386"; then
    return 0
  fi
  if [ ! -e "$setupsup_binfmt/qemu-i386" ] && setupsup_i386_runs; then
    return 0   # the kernel runs i386 programs itself
  fi
  setupsup_note "this kernel does not run i386 programs; using qemu user-mode emulation for Wine"
  setupsup_fetch_qemu && setupsup_register_qemu && setupsup_i386_runs
}

setupsup_setup_machine() {
  setupsup_install_packages || return 1
  setupsup_ensure_i386 || { setupsup_note "cannot run Wine's 32-bit loader on this machine"; return 1; }
}
