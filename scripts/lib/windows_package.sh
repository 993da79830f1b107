# scripts/package --windows: kalvo-explorer.exe and kalvo-cli.exe built with the Windows kit
# (Release, build-winrel), their DLLs beside them, the NSIS installer and the portable zip in
# out/, then checked: the files, every DLL they import either shipped or part of Windows, the
# version resource, and the installer tried under Wine (tests/windows/installer_test.sh).
# shellcheck shell=bash

source "$ROOT/scripts/lib/windows_kit.sh"

KALVO_WINDOWS_PACKAGING_PACKAGES=(nsis zip unzip wine wine64 xvfb xauth xdotool x11-apps python3)

# The Qt plugins the window loads: the Windows platform and the native style.
KALVO_QT_PLUGINS=(platforms/qwindows.dll styles/qwindowsvistastyle.dll)
KALVO_QT_DLLS=(Qt6Core.dll Qt6Gui.dll Qt6Widgets.dll)
KALVO_MINGW_DLLS=(libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)

# mingw_dll NAME: where the cross toolchain keeps a runtime DLL.
mingw_dll() {
    local found
    found=$($KALVO_MINGW-g++-posix -print-file-name="$1")
    if [ "$found" = "$1" ]; then
        found=$(find /usr/$KALVO_MINGW/lib /usr/lib/gcc/$KALVO_MINGW -name "$1" -path '*posix*' 2>/dev/null | head -1)
        [ -n "$found" ] || found=$(find /usr/$KALVO_MINGW/lib -name "$1" | head -1)
    fi
    [ -f "$found" ] || { echo "windows package: no $1 in the toolchain" >&2; return 1; }
    echo "$found"
}

# stage_windows_release KIT BUILD STAGE: the program's folder as it is installed.
stage_windows_release() {
    local kit="$1" build="$2" stage="$3" f
    rm -rf "$stage"
    mkdir -p "$stage"
    install -m 755 "$build/src/gui/kalvo-explorer.exe" "$build/src/kalvo-cli.exe" "$stage/"
    install -m 644 "$build/src/gui/kalvo-explorer.ico" "$stage/"
    for f in "${KALVO_QT_DLLS[@]}"; do install -m 755 "$kit/bin/$f" "$stage/"; done
    for f in "${KALVO_QT_PLUGINS[@]}"; do install -D -m 755 "$kit/plugins/$f" "$stage/$f"; done
    for f in "${KALVO_MINGW_DLLS[@]}"; do install -m 755 "$(mingw_dll "$f")" "$stage/"; done
    # Debug sections make up most of a mingw DLL.
    find "$stage" -name '*.exe' -o -name '*.dll' | while read -r f; do $KALVO_MINGW-strip --strip-unneeded "$f"; done
    install -m 644 "$ROOT/packaging/copyright" "$stage/copyright.txt"
    # The licence terms of Qt, SQLite, libcurl and libjpeg-turbo as their Debian sources give them.
    mkdir -p "$stage/licenses"
    cp "$kit/share/licenses/"* "$stage/licenses/"
}

# nsis_file_lists STAGE OUT.nsh: the macros that install and remove exactly the staged files.
nsis_file_lists() {
    local stage="$1" out="$2" dir f
    {
        echo '!macro KALVO_INSTALL_FILES'
        while read -r dir; do
            local win=${dir//\//\\}
            echo "  SetOutPath \"\$INSTDIR${win:+\\$win}\""
            find "$stage/$dir" -maxdepth 1 -type f -printf '%f\n' | sort | while read -r f; do
                echo "  File \"$stage/${dir:+$dir/}$f\""
            done
        done < <(cd "$stage" && find . -type d -printf '%P\n' | sort)
        echo '  SetOutPath "$INSTDIR"'
        echo '!macroend'
        echo '!macro KALVO_REMOVE_FILES'
        (cd "$stage" && find . -type f -printf '%P\n' | sort) | while read -r f; do
            echo "  Delete \"\$INSTDIR\\${f//\//\\}\""
        done
        (cd "$stage" && find . -mindepth 1 -type d -printf '%P\n' | sort -r) | while read -r dir; do
            echo "  RMDir \"\$INSTDIR\\${dir//\//\\}\""
        done
        echo '!macroend'
    } >"$out"
}

# check_windows_imports STAGE: every DLL an executable or DLL of the stage imports is either in
# the stage or one that Windows itself has (Wine's set of its system DLLs stands for it).
check_windows_imports() {
    local stage="$1" f dll system bad=0
    system=$(find /usr/lib/*/wine/x86_64-windows /usr/lib/wine/x86_64-windows -maxdepth 1 -type f -printf '%f\n' \
        2>/dev/null | tr 'A-Z' 'a-z' || true)
    [ -n "$system" ] || { echo "windows package: no Wine DLLs to check the imports against" >&2; return 1; }
    while read -r f; do
        while read -r dll; do
            local lower
            lower=$(echo "$dll" | tr 'A-Z' 'a-z')
            if [ -f "$(dirname "$f")/$dll" ] || [ -f "$stage/$dll" ]; then continue; fi
            if grep -qx "$lower" <<<"$system"; then continue; fi
            # API sets: names the Windows loader maps to its own DLLs.
            case "$lower" in api-ms-win-* | ext-ms-win-*) continue ;; esac
            echo "windows package: $(basename "$f") imports $dll, which is neither shipped nor part of Windows" >&2
            bad=1
        done < <($KALVO_MINGW-objdump -p "$f" | sed -n 's/^\s*DLL Name: //p')
    done < <(find "$stage" -name '*.exe' -o -name '*.dll')
    return $bad
}

# version_of_exe FILE: the ProductVersion string of its version resource.
version_of_exe() {
    python3 - "$1" <<'EOF'
import sys
data = open(sys.argv[1], "rb").read()
key = "ProductVersion".encode("utf-16-le") + b"\0\0"
at = data.find(key)
if at < 0:
    sys.exit(1)
at += len(key)
while data[at:at + 2] == b"\0\0":
    at += 2
end = data.find(b"\0\0", at)
while (end - at) % 2:
    end = data.find(b"\0\0", end + 1)
print(data[at:end].decode("utf-16-le"))
EOF
}

package_windows() {
    ensure_packages "${KALVO_PACKAGES[@]}" "${KALVO_KIT_PACKAGES[@]}" "${KALVO_WINDOWS_PACKAGES[@]}" \
        "${KALVO_WINDOWS_PACKAGING_PACKAGES[@]}"
    if ! windows_kit_ready; then
        echo "windows package: the Windows kit is not built yet; building it first (once, about an hour on 2 cores)"
        build_windows_kit
    fi
    local kit build="$ROOT/build-winrel" version
    kit=$(windows_kit_dir)
    version=$(sed -n 's/^project(KalvoExplorer VERSION \([0-9.]*\).*/\1/p' "$ROOT/CMakeLists.txt")

    # The kit's qt-cmake brings its toolchain: mingw-w64 with the C++ runtime in DLLs, shared
    # with Qt's.
    "$kit/bin/qt-cmake" -S "$ROOT" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKALVO_WERROR=ON \
        -DKALVO_BUILD_TESTS=OFF -DKALVO_BUILD_BENCH=OFF >/dev/null
    nice -n 5 cmake --build "$build" --target kalvo-explorer kalvo-cli

    local name="kalvo-explorer-$version"
    local stage="$build/stage/$name"
    stage_windows_release "$kit" "$build" "$stage"
    check_windows_imports "$stage"
    local shown
    shown=$(version_of_exe "$stage/kalvo-explorer.exe")
    [ "$shown" = "$version" ] || { echo "windows package: kalvo-explorer.exe says version '$shown'" >&2; return 1; }
    # The program icon: the menu's 256-pixel picture is held as it is in the icon resource.
    python3 -c 'import sys; sys.exit(open(sys.argv[2], "rb").read() not in open(sys.argv[1], "rb").read())' \
        "$stage/kalvo-explorer.exe" "$ROOT/data/icons/hicolor/256x256/apps/org.kalvo.Explorer.png" ||
        { echo "windows package: kalvo-explorer.exe has no program icon" >&2; return 1; }

    mkdir -p "$ROOT/out"
    local setup="$ROOT/out/$name-windows-x64-setup.exe" zip="$ROOT/out/$name-windows-x64.zip"
    nsis_file_lists "$stage" "$build/stage/files.nsh"
    rm -f "$setup.tmp" "$zip.tmp"
    makensis -V2 -DVERSION="$version" -DSTAGE="$stage" -DFILES="$build/stage/files.nsh" -DOUTFILE="$setup.tmp" \
        "$ROOT/packaging/windows/kalvo-explorer.nsi"
    (cd "$build/stage" && zip -q -r -X "$zip.tmp" "$name")
    mv "$setup.tmp" "$setup"
    mv "$zip.tmp" "$zip"

    # The zip holds exactly the staged files.
    diff <(cd "$build/stage" && find "$name" -type f | sort) <(unzip -Z1 "$zip" | grep -v '/$' | sort)
    echo "$setup ($(du -k "$setup" | cut -f1) KiB)"
    echo "$zip ($(du -k "$zip" | cut -f1) KiB)"
    if [ "${KALVO_PACKAGE_WINE_TEST:-1}" != 0 ]; then
        bash "$ROOT/tests/windows/installer_test.sh" "$setup" "$zip"
    fi
}
