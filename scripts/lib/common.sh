# Shared by scripts/run and scripts/test: install what is missing, configure, build.
# shellcheck shell=bash

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"

# Debian packages the build and the tests need.
KALVO_PACKAGES=(cmake ninja-build g++ ccache libgtest-dev libgmock-dev libbenchmark-dev
                qt6-base-dev libgl-dev libjpeg-dev
                libcurl4-openssl-dev python3-pyftpdlib python3-openssl openssl
                python3 desktop-file-utils appstream man-db file)
# Only for building and checking the .deb (scripts/package).
KALVO_PACKAGING_PACKAGES=(dpkg-dev lintian)
# The fuzz targets (scripts/fuzz, also run at the end of scripts/test): clang with libFuzzer and
# the sanitizer runtimes.
KALVO_FUZZ_PACKAGES=(cmake ninja-build ccache clang libclang-rt-14-dev)
KALVO_PACKAGES+=(clang libclang-rt-14-dev)
# The history archive.
KALVO_PACKAGES+=(libsqlite3-dev)
# Only for pictures of the window.
KALVO_GUI_PACKAGES=(xvfb xauth)
# Only for scripts/test --windows: the mingw-w64 cross compiler (posix threads) and Wine.
KALVO_WINDOWS_PACKAGES=(g++-mingw-w64-x86-64-posix wine wine64 googletest)

ensure_packages() {
    local missing=()
    local pkg
    for pkg in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
            missing+=("$pkg")
        fi
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing missing packages: ${missing[*]}"
    local sudo=()
    [ "$(id -u)" -ne 0 ] && sudo=(sudo)
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -q
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
}

# Paths relative to the checkout in ccache's keys, so a fresh clone elsewhere reuses the cache.
export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$ROOT}" CCACHE_NOHASHDIR="${CCACHE_NOHASHDIR:-1}"

# configure_and_build <build dir> [cmake options...]
configure_and_build() {
    local dir="$1"
    shift
    cmake -S "$ROOT" -B "$dir" -G Ninja "$@" >/dev/null
    cmake --build "$dir"
}
