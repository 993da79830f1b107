#!/usr/bin/env bash
# Checks a built .deb: its fields, its files, lintian (no errors; the summary is printed), and
# the installed kalvo-cli identifying the installed kalvo-devsim, unpacked into a scratch root.
# usage: deb_test.sh PACKAGE.deb
set -uo pipefail
source "$(dirname "$0")/check_lib.sh"
deb=$1
root=$(mktemp -d)
ports=$(mktemp -d)
sim=""
cleanup() {
    [ -n "$sim" ] && kill "$sim" 2>/dev/null && wait "$sim" 2>/dev/null
    rm -rf "$root" "$ports"
}
trap cleanup EXIT

field() { dpkg-deb -f "$deb" "$1"; }
check "package name" test "$(field Package)" = kalvo-explorer
check "version" bash -c "dpkg-deb -f '$deb' Version | grep -qx '[0-9][0-9.]*-[0-9]*'"
check "section" test "$(field Section)" = science
check "description" bash -c "dpkg-deb -f '$deb' Description | grep -q 'R630 and R520'"
# Dependencies come from the binaries (dpkg-shlibdeps).
for lib in libc6 libstdc++6 libqt6widgets6 libcurl4 libjpeg62-turbo; do
    check "depends on $lib" bash -c "dpkg-deb -f '$deb' Depends | grep -q '\\b$lib\\b'"
done

check "dpkg -x" dpkg -x "$deb" "$root"
for file in usr/bin/kalvo-cli usr/bin/kalvo-devsim usr/bin/kalvo-explorer \
    usr/share/applications/org.kalvo.Explorer.desktop usr/share/metainfo/org.kalvo.Explorer.metainfo.xml \
    usr/share/icons/hicolor/48x48/apps/org.kalvo.Explorer.png usr/share/man/man1/kalvo-cli.1.gz \
    usr/share/man/man1/kalvo-devsim.1.gz usr/share/bash-completion/completions/kalvo-cli \
    usr/share/doc/kalvo-explorer/copyright usr/share/doc/kalvo-explorer/changelog.Debian.gz; do
    check "contains /$file" test -s "$root/$file"
done

if command -v lintian >/dev/null; then
    report=$(lintian --tag-display-limit 0 "$deb" 2>&1 | grep -v 'running with root privileges')
    echo "lintian: $(grep -c '^E:' <<<"$report") errors, $(grep -c '^W:' <<<"$report") warnings," \
        "$(grep -c '^I:' <<<"$report") infos"
    [ -n "$report" ] && printf '%s\n' "$report" | sed 's/^/     /'
    no_errors() { ! grep -q '^E:' <<<"$report"; }
    check "lintian: no errors" no_errors
fi

# The installed programs, with the simulator published as COM 7 in a private ports folder.
export KALVO_PORTS_DIR=$ports KALVO_SYSTEM_PORTS=0
check "installed kalvo-cli --version" bash -c "'$root/usr/bin/kalvo-cli' --version | grep -q '^kalvo-cli (Kalvo Explorer) '"
exec {simout}< <(exec "$root/usr/bin/kalvo-devsim" --com 7)
sim=$!
ready=""
read -r -t 20 -u "$simout" ready
check "installed kalvo-devsim ready" bash -c "[[ '$ready' == 'kalvo-devsim: COM 7 '* ]]"
identify() {
    local out
    out=$("$root/usr/bin/kalvo-cli" identify --port 7) || return 1
    grep -q "^# S/N   : 123-45678$" <<<"$out" || { echo "$out"; return 1; }
}
check "installed kalvo-cli identify --port 7" identify
finish
