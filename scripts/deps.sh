# Sourced by scripts/run and scripts/test: installs the Debian packages the
# project needs, only those that are missing.

# Building and running the programs.
CHRONAVEL_RUN_PACKAGES=(
  cmake ninja-build g++ pkg-config
  libcli11-dev nlohmann-json3-dev libcpp-httplib-dev libssl-dev libyaml-dev libcrypt-dev
  qt6-base-dev fonts-dejavu-core
)

# Only the tests: GoogleTest, Google Benchmark, clang (the fuzzers) with its
# sanitizer runtimes, clang-format for the style check, ccache (every build
# of the test command compiles through it, chronavel_ccache below), and what
# scripts/check-prometheus needs (below).
CHRONAVEL_TEST_PACKAGES=(
  libgtest-dev libbenchmark-dev
  clang clang-format ccache
)

# scripts/check-prometheus: promtool and the Prometheus server (the check
# runs one of its own on a free port; the package's system service plays
# no part), jq for the dashboard, curl for the web APIs.
CHRONAVEL_PROMETHEUS_PACKAGES=(prometheus jq curl)

chronavel_install_prometheus_deps() {
  chronavel_install_missing "${CHRONAVEL_PROMETHEUS_PACKAGES[@]}"
}

# scripts/check-alertmanager: the above, Alertmanager and amtool (run on a
# port of the check's own; the package's system service plays no part), and
# Python for the small web hook that takes the notifications.
CHRONAVEL_ALERTMANAGER_PACKAGES=(prometheus-alertmanager python3)

chronavel_install_alertmanager_deps() {
  chronavel_install_missing "${CHRONAVEL_PROMETHEUS_PACKAGES[@]}" "${CHRONAVEL_ALERTMANAGER_PACKAGES[@]}"
}

# scripts/check-ansible: Ansible and its linter, python3-apt for the apt
# module's check mode, jq for the role's variables.
CHRONAVEL_ANSIBLE_PACKAGES=(ansible ansible-lint python3-apt jq)

chronavel_install_ansible_deps() {
  chronavel_install_missing "${CHRONAVEL_ANSIBLE_PACKAGES[@]}"
}

# The major version of the clang the release offers (or the one installed).
chronavel_clang_major() {
  if command -v clang >/dev/null 2>&1; then
    clang -dumpversion | cut -d. -f1
    return
  fi
  # "Candidate: 1:14.0-55.7~deb12u1" -> 14
  apt-cache policy clang 2>/dev/null |
    sed -n 's/^ *Candidate: \([0-9]*:\)\{0,1\}\([0-9][0-9]*\).*/\2/p' | head -n 1
}

# The package holding clang's sanitizer and libFuzzer runtimes. Its name
# carries the clang version, and older releases kept the runtimes in
# libclang-common-N-dev, so it is looked up rather than spelled out.
chronavel_clang_runtime_package() {
  local major
  major=$(chronavel_clang_major)
  if [ -z "$major" ]; then
    return 0
  fi
  if dpkg-query -W -f='${Status}' "libclang-rt-$major-dev" 2>/dev/null | grep -q "install ok installed" ||
     [ -n "$(apt-cache show --no-all-versions "libclang-rt-$major-dev" 2>/dev/null | head -n 1)" ]; then
    echo "libclang-rt-$major-dev"
  else
    echo "libclang-common-$major-dev"
  fi
}

chronavel_apt_update() {
  local sudo=""
  if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get update -qq
}

chronavel_install_missing() {
  local missing=()
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  if [ ${#missing[@]} -eq 0 ]; then
    return 0
  fi
  echo "Installing: ${missing[*]}"
  local sudo=""
  if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
  chronavel_apt_update
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# What scripts/run needs.
chronavel_install_run_deps() {
  chronavel_install_missing "${CHRONAVEL_RUN_PACKAGES[@]}"
}

# What scripts/test needs: the run's packages and the test tools.
chronavel_install_test_deps() {
  local rt
  # The runtime's name is looked up in the package lists: a machine that
  # never fetched them (a fresh container) fetches them first.
  if [ -z "$(apt-cache show --no-all-versions clang 2>/dev/null | head -n 1)" ]; then
    chronavel_apt_update
  fi
  rt=$(chronavel_clang_runtime_package)
  chronavel_install_missing "${CHRONAVEL_RUN_PACKAGES[@]}" "${CHRONAVEL_TEST_PACKAGES[@]}" \
    "${CHRONAVEL_PROMETHEUS_PACKAGES[@]}" $rt
}

# The Windows stage: MinGW-w64 (POSIX threads) for the cross build, the
# GoogleTest sources to build for Windows, dpkg-dev to unpack cpp-httplib's
# source (its whole header, for the web face), Wine to run the result, and
# the locale sources for a Russian locale of the tests' own
# (scripts/wine-ru).
CHRONAVEL_WINDOWS_PACKAGES=(
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 googletest dpkg-dev
  wine wine64 locales
)

# Makes sure apt knows a source package (apt-get source PACKAGE): when it
# does not yet, the machine's own enabled "deb" entries of this release are
# added as "deb-src". The archive is whatever this machine already installs
# from (a mirror, a snapshot, a proxy), never an address of ours.
chronavel_deb_src() {
  local package=$1 sudo="" entries
  if [ -n "$(apt-cache showsrc "$package" 2>/dev/null | head -n 1)" ]; then
    return 0
  fi
  if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
  entries=$(. /etc/os-release && scripts/apt-source-entries "${VERSION_CODENAME}")
  if [ -z "$entries" ]; then
    echo "No enabled 'deb' entry for this release in /etc/apt: cannot fetch the $package source" >&2
    return 1
  fi
  echo "Adding deb-src entries from this machine's apt sources"
  echo "$entries" | $sudo tee /etc/apt/sources.list.d/chronavel-deb-src.sources >/dev/null
  chronavel_apt_update
}

chronavel_install_windows_deps() {
  chronavel_install_missing "${CHRONAVEL_RUN_PACKAGES[@]}" "${CHRONAVEL_WINDOWS_PACKAGES[@]}"
}

# The windows program under Wine (scripts/wine-program): a virtual display,
# xdotool for the operator's clicks, xwd and netpbm for the screenshot; librsvg2-bin
# and netpbm for chronavel.exe's icon.
CHRONAVEL_WINDOWS_PROGRAM_PACKAGES=(xvfb xdotool x11-apps netpbm librsvg2-bin)

chronavel_jobs() {
  nproc 2>/dev/null || echo 2
}

# The compiler cache every build of the test command shares: kept by the
# machine outside the clone (so a fresh clone, in any folder, finds the
# objects an earlier one compiled), its size bounded. Sets
# CHRONAVEL_LAUNCHER to the CMake arguments that compile through it; where
# ccache is not installed they clear the launcher and the build compiles
# as it is (scripts/run and scripts/package need no ccache).
#   CHRONAVEL_CCACHE_DIR      the cache (/var/cache/chronavel/ccache, or
#                             ~/.cache/chronavel/ccache where that is not
#                             writable)
#   CHRONAVEL_CCACHE_MAXSIZE  its bound (8G; ccache compresses, and the
#                             objects of one whole run, with debug
#                             information, take a small part of it;
#                             the oldest go first)
chronavel_ccache() {
  CHRONAVEL_LAUNCHER=(-DCMAKE_CXX_COMPILER_LAUNCHER= -DCMAKE_C_COMPILER_LAUNCHER=)
  command -v ccache >/dev/null 2>&1 || return 0
  local dir=${CHRONAVEL_CCACHE_DIR:-/var/cache/chronavel/ccache}
  if ! mkdir -p "$dir" 2>/dev/null || [ ! -w "$dir" ]; then
    dir=${XDG_CACHE_HOME:-$HOME/.cache}/chronavel/ccache
    mkdir -p "$dir"
  fi
  export CCACHE_DIR=$dir
  export CCACHE_MAXSIZE=${CHRONAVEL_CCACHE_MAXSIZE:-8G}
  # Paths inside the clone are hashed relative to it, and the build folder's
  # own path not at all: another clone elsewhere gets the same hits.
  export CCACHE_BASEDIR=$PWD CCACHE_NOHASHDIR=1
  # Precompiled headers (the test programs') are cached too; their macros
  # and the headers' times may not spoil the hits of a fresh clone.
  export CCACHE_SLOPPINESS=pch_defines,time_macros,include_file_mtime,include_file_ctime
  CHRONAVEL_LAUNCHER=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
}

# scripts/package: the manual pages (help2man), the PNG icons
# (rsvg-convert) and CPack's dependency lookup (dpkg-shlibdeps); with
# --check also lintian, desktop-file-validate, and systemd-analyze with
# strace for the service unit's review.
CHRONAVEL_PACKAGE_PACKAGES=(help2man librsvg2-bin dpkg-dev)
CHRONAVEL_PACKAGE_CHECK_PACKAGES=(lintian desktop-file-utils systemd strace)

chronavel_install_package_deps() {
  local extra=()
  if [ "${1:-}" = "--check" ]; then extra=("${CHRONAVEL_PACKAGE_CHECK_PACKAGES[@]}"); fi
  chronavel_install_missing "${CHRONAVEL_RUN_PACKAGES[@]}" "${CHRONAVEL_PACKAGE_PACKAGES[@]}" "${extra[@]}"
}
