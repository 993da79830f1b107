#!/usr/bin/env bash
# The Windows kit: Qt 6 (Core, Gui, Widgets, the Windows platform plugin), SQLite, libcurl with
# Schannel and libjpeg-turbo, cross-built with mingw-w64 (posix threads) from the distribution's
# own source packages into a per-user cache, once per Qt version and toolchain version.
#
#   scripts/lib/windows_kit.sh          builds the kit if it is missing and prints its folder
#   source scripts/lib/windows_kit.sh   gives windows_kit_dir, windows_kit_ready, build_windows_kit
#
# Nothing is downloaded from anywhere but the distribution's package archive (apt-get source).
# shellcheck shell=bash

[ -n "${ROOT:-}" ] || source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

KALVO_KIT_PACKAGES=(g++-mingw-w64-x86-64-posix qt6-base-dev qt6-base-dev-tools dpkg-dev cmake ninja-build
                    make tcl pkg-config)
KALVO_MINGW=x86_64-w64-mingw32

# The kit's folder, keyed by the host Qt's version (the source built is the same package) and
# the mingw-w64 compiler's package version.
windows_kit_dir() {
    local qt gcc
    qt=$(dpkg-query -W -f='${Version}' qt6-base-dev 2>/dev/null | sed 's/+.*//')
    gcc=$(dpkg-query -W -f='${Version}' g++-mingw-w64-x86-64-posix 2>/dev/null | tr '+:~' '---')
    echo "${XDG_CACHE_HOME:-$HOME/.cache}/kalvo/windows-kit-qt${qt:-none}-mingw${gcc:-none}"
}

# True when every part of the kit has been built and installed.
windows_kit_ready() {
    local kit
    kit=$(windows_kit_dir)
    [ -f "$kit/.complete" ]
}
# True when the libraries of kalvo-cli (SQLite, libcurl, libjpeg) are there, with or without Qt.
windows_kit_libs_ready() {
    local kit
    kit=$(windows_kit_dir)
    [ -f "$kit/.libs-complete" ]
}

# A deb-src entry beside each of the distribution's own deb entries, so apt-get source finds
# the very versions the host has. Third-party repositories are left alone.
ensure_deb_src() {
    local list=/etc/apt/sources.list.d/kalvo-debian-src.sources
    if apt-get source --print-uris qt6-base >/dev/null 2>&1; then return 0; fi
    local sudo=()
    [ "$(id -u)" -ne 0 ] && sudo=(sudo)
    local tmp
    tmp=$(mktemp)
    if [ -f /etc/apt/sources.list.d/debian.sources ]; then
        # deb822: each stanza of Types: deb becomes Types: deb-src.
        sed -e 's/^Types:.*$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources >"$tmp"
    fi
    if [ -f /etc/apt/sources.list ]; then
        local line uris suites comps
        while read -r line; do
            # deb [opts] URI SUITE COMPONENTS...
            line=${line#deb }
            [[ "$line" == \[* ]] && line=${line#*] }
            read -r uris suites comps <<<"$line"
            case "$uris" in *debian*) ;; *) continue ;; esac
            printf 'Types: deb-src\nURIs: %s\nSuites: %s\nComponents: %s\n\n' "$uris" "$suites" "$comps" >>"$tmp"
        done < <(grep -E '^deb [^#]' /etc/apt/sources.list || true)
    fi
    if [ ! -s "$tmp" ]; then
        rm -f "$tmp"
        echo "windows kit: no Debian archive in /etc/apt/sources.list* to take sources from" >&2
        return 1
    fi
    echo "windows kit: adding $list (the distribution's own archive, sources)"
    "${sudo[@]}" install -m 644 "$tmp" "$list"
    rm -f "$tmp"
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -q
}

# fetch_source PACKAGE: the unpacked source of PACKAGE in the kit's scratch folder; prints its path.
fetch_source() {
    local pkg="$1" src="$KIT_SCRATCH/src/$1"
    if [ ! -f "$src/.unpacked" ]; then
        rm -rf "$src"
        mkdir -p "$src"
        (cd "$src" && apt-get source -q "$pkg" >apt-source.log 2>&1) || {
            echo "windows kit: apt-get source $pkg failed:" >&2
            tail -20 "$src/apt-source.log" >&2
            return 1
        }
        touch "$src/.unpacked"
    fi
    local dir
    dir=$(find "$src" -mindepth 1 -maxdepth 1 -type d | head -1)
    # Its licence terms ship with the program.
    install -D -m 644 "$dir/debian/copyright" "$KIT_LICENSES/$pkg.txt"
    echo "$dir"
}

# The toolchain file of the kit, kept in the kit so that its CMake packages stay valid whatever
# checkout uses them. Dynamic runtime: Qt's DLLs and the program share one libstdc++.
write_kit_toolchain() {
    local kit="$1"
    cat >"$kit/mingw-w64-toolchain.cmake" <<EOF
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER ${KALVO_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KALVO_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${KALVO_MINGW}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${KALVO_MINGW} "$kit")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
EOF
}

kit_step() { echo "windows kit: [$(date +%H:%M:%S)] $*"; }

# The libraries are static, so kalvo-cli.exe stays one file.
build_kit_sqlite() {
    local kit="$1" src
    src=$(fetch_source sqlite3)
    local b="$KIT_SCRATCH/build/sqlite3"
    rm -rf "$b" && mkdir -p "$b"
    kit_step "SQLite ($(basename "$src"))"
    # The amalgamation (sqlite3.c) is made by a native configure with the host's tclsh, then
    # compiled alone for Windows: the cross configure would take the build machine's OS layer.
    (cd "$b" && "$src/configure" --disable-tcl --disable-readline >configure.log 2>&1 &&
        nice -n 10 make sqlite3.c >make.log 2>&1 &&
        nice -n 10 $KALVO_MINGW-gcc-posix -O2 -DSQLITE_THREADSAFE=1 -DSQLITE_ENABLE_MATH_FUNCTIONS \
            -c sqlite3.c -o sqlite3.o >>make.log 2>&1 &&
        $KALVO_MINGW-ar rcs libsqlite3.a sqlite3.o &&
        install -D -m 644 libsqlite3.a "$kit/lib/libsqlite3.a" &&
        install -m 644 sqlite3.h "$kit/include/") || {
        echo "windows kit: SQLite failed, see $b" >&2
        return 1
    }
}

build_kit_curl() {
    local kit="$1" src
    src=$(fetch_source curl)
    local b="$KIT_SCRATCH/build/curl"
    rm -rf "$b" && mkdir -p "$b"
    kit_step "libcurl with Schannel ($(basename "$src"))"
    # Only what the report upload (FTP) needs, over Windows' own TLS.
    cmake -S "$src" -B "$b" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$kit/mingw-w64-toolchain.cmake" \
        -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$kit" -DBUILD_SHARED_LIBS=OFF \
        -DBUILD_CURL_EXE=OFF -DBUILD_TESTING=OFF -DCURL_USE_SCHANNEL=ON -DCURL_USE_OPENSSL=OFF \
        -DCURL_ZLIB=OFF -DCURL_BROTLI=OFF -DCURL_ZSTD=OFF -DUSE_NGHTTP2=OFF -DUSE_LIBIDN2=OFF \
        -DCURL_USE_LIBPSL=OFF -DCURL_USE_LIBSSH2=OFF -DCURL_DISABLE_LDAP=ON -DENABLE_MANUAL=OFF \
        >"$KIT_SCRATCH/build/curl.configure.log" 2>&1 &&
        nice -n 10 cmake --build "$b" -j2 >"$KIT_SCRATCH/build/curl.build.log" 2>&1 &&
        cmake --install "$b" >/dev/null || {
        echo "windows kit: libcurl failed, see $KIT_SCRATCH/build/curl.*.log" >&2
        return 1
    }
}

build_kit_jpeg() {
    local kit="$1" src
    src=$(fetch_source libjpeg-turbo)
    local b="$KIT_SCRATCH/build/jpeg"
    rm -rf "$b" && mkdir -p "$b"
    kit_step "libjpeg-turbo ($(basename "$src"))"
    # Without SIMD: the pictures are small, and nasm is not needed.
    cmake -S "$src" -B "$b" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$kit/mingw-w64-toolchain.cmake" \
        -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$kit" -DENABLE_SHARED=OFF -DENABLE_STATIC=ON \
        -DWITH_SIMD=OFF -DWITH_TURBOJPEG=OFF -DWITH_JAVA=OFF \
        >"$KIT_SCRATCH/build/jpeg.configure.log" 2>&1 &&
        nice -n 10 cmake --build "$b" -j2 --target jpeg-static >"$KIT_SCRATCH/build/jpeg.build.log" 2>&1 &&
        install -D -m 644 "$b/libjpeg.a" "$kit/lib/libjpeg.a" &&
        install -m 644 "$src/jpeglib.h" "$src/jerror.h" "$src/jmorecfg.h" "$b/jconfig.h" "$kit/include/" || {
        echo "windows kit: libjpeg-turbo failed, see $KIT_SCRATCH/build/jpeg.*.log" >&2
        return 1
    }
}

build_kit_qt() {
    local kit="$1" src
    src=$(fetch_source qt6-base)
    local b="$KIT_SCRATCH/build/qt6-base"
    mkdir -p "$b"
    kit_step "Qt ($(basename "$src")): configuring"
    # Host tools (moc, rcc, uic...) come from the host's Qt of the same version. What the window
    # does not use is left out. The source package lacks the tablet header the Windows plugin
    # includes, hence no tabletevent; without opengl that plugin does not build in this version,
    # so it stays (dynamic OpenGL: nothing more to ship).
    PKG_CONFIG_LIBDIR=/nonexistent cmake -S "$src" -B "$b" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$kit/mingw-w64-toolchain.cmake" -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_INSTALL_PREFIX="$kit" \
        -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR="/usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)/cmake" \
        -DQT_FORCE_FIND_TOOLS=ON -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF \
        -DFEATURE_pkg_config=OFF -DFEATURE_network=OFF -DFEATURE_sql=OFF -DFEATURE_dbus=OFF \
        -DFEATURE_printsupport=OFF -DFEATURE_testlib=OFF -DFEATURE_concurrent=OFF -DFEATURE_xml=OFF \
        -DFEATURE_accessibility=OFF -DFEATURE_tabletevent=OFF -DFEATURE_icu=OFF -DFEATURE_vulkan=OFF \
        -DFEATURE_system_zlib=OFF -DFEATURE_system_png=OFF -DFEATURE_system_freetype=OFF \
        -DFEATURE_system_harfbuzz=OFF -DFEATURE_system_pcre2=OFF -DFEATURE_system_jpeg=OFF \
        -DFEATURE_jpeg=OFF -DFEATURE_sql_sqlite=OFF \
        >"$b.configure.log" 2>&1 || {
        echo "windows kit: Qt configure failed, see $b.configure.log" >&2
        tail -30 "$b.configure.log" >&2
        return 1
    }
    kit_step "Qt: building (about half an hour on 2 cores; progress every 10%)"
    # Ninja's [n/total] lines, thinned to one per tenth.
    nice -n 10 cmake --build "$b" -j2 2>&1 | tee "$b.build.log" | awk '
        /^\[[0-9]+\/[0-9]+\]/ {
            s = $1; gsub(/[][]/, "", s); split(s, n, "/"); p = int(n[1] * 10 / n[2])
            if (p > shown) { shown = p; printf "windows kit:   Qt %d%% (%d/%d)\n", p * 10, n[1], n[2]; fflush() }
        }'
    [ "${PIPESTATUS[0]}" = 0 ] || {
        echo "windows kit: Qt build failed, see $b.build.log" >&2
        grep -m5 -B2 -A10 'FAILED:' "$b.build.log" >&2 || tail -30 "$b.build.log" >&2
        return 1
    }
    install -m 644 "$src/LICENSES/LGPL-3.0-only.txt" "$KIT_LICENSES/"
    cmake --install "$b" >"$b.install.log" 2>&1 || {
        echo "windows kit: Qt install failed, see $b.install.log" >&2
        return 1
    }
}

# build_windows_kit [--libs-only]: builds what is missing; the scratch sources and build folders
# are removed once the kit is complete.
build_windows_kit() {
    ensure_packages "${KALVO_KIT_PACKAGES[@]}"
    ensure_deb_src
    local kit
    kit=$(windows_kit_dir)
    KIT_SCRATCH="${XDG_CACHE_HOME:-$HOME/.cache}/kalvo/scratch-$(basename "$kit")"
    KIT_LICENSES="$kit/share/licenses"
    mkdir -p "$kit/include" "$kit/lib" "$KIT_SCRATCH/build"
    write_kit_toolchain "$kit"
    local start=$SECONDS
    if ! windows_kit_libs_ready; then
        build_kit_sqlite "$kit" && build_kit_curl "$kit" && build_kit_jpeg "$kit" || return 1
        touch "$kit/.libs-complete"
    fi
    if [ "${1:-}" != --libs-only ] && ! windows_kit_ready; then
        build_kit_qt "$kit" || return 1
        touch "$kit/.complete"
        rm -rf "$KIT_SCRATCH"
    fi
    if [ $((SECONDS - start)) -gt 5 ]; then
        kit_step "done in $(((SECONDS - start) / 60)) min $(((SECONDS - start) % 60)) s, $(du -sh "$kit" | cut -f1) in $kit"
    fi
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
    set -euo pipefail
    build_windows_kit "$@"
    windows_kit_dir
fi
