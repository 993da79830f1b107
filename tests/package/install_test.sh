#!/usr/bin/env bash
# Installs a build into a scratch prefix and checks that every file is in its place, the desktop
# entry and the metainfo are valid, the manual pages render and the completion answers.
# usage: install_test.sh BUILD_DIR WITH_WINDOW(0|1)
set -uo pipefail
source "$(dirname "$0")/check_lib.sh"
build=$1
window=$2
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT

check "cmake --install" cmake --install "$build" --prefix "$prefix"
files=(bin/kalvo-cli bin/kalvo-devsim share/man/man1/kalvo-cli.1.gz share/man/man1/kalvo-devsim.1.gz
       share/bash-completion/completions/kalvo-cli share/doc/kalvo-explorer/copyright)
if [ "$window" = 1 ]; then
    files+=(bin/kalvo-explorer share/man/man1/kalvo-explorer.1.gz share/applications/org.kalvo.Explorer.desktop
            share/metainfo/org.kalvo.Explorer.metainfo.xml)
    for size in 16 24 32 48 64 128 256; do files+=("share/icons/hicolor/${size}x$size/apps/org.kalvo.Explorer.png"); done
fi
for file in "${files[@]}"; do check "installed $file" test -s "$prefix/$file"; done
for program in kalvo-cli kalvo-devsim; do check "$program runs" test -x "$prefix/bin/$program"; done

for page in "$prefix"/share/man/man1/*.1.gz; do check "renders $(basename "$page")" renders "$page"; done
if [ "$window" = 1 ]; then
    check "desktop-file-validate" desktop-file-validate "$prefix/share/applications/org.kalvo.Explorer.desktop"
    check "appstreamcli validate" appstreamcli validate --no-net "$prefix/share/metainfo/org.kalvo.Explorer.metainfo.xml"
    # The icon's pixel size is the one its folder says.
    for size in 16 256; do
        check "icon ${size}px" bash -c "file '$prefix/share/icons/hicolor/${size}x$size/apps/org.kalvo.Explorer.png' |
            grep -q 'PNG image data, $size x $size'"
    done
fi
completion=$prefix/share/bash-completion/completions/kalvo-cli
check "completion parses" bash -n "$completion"
check "completion: commands" completes "$completion" doctor kalvo-cli "do"
check "completion: chart levels" completes "$completion" month kalvo-cli history --chart mo
check "completion: options" completes "$completion" --verbose kalvo-cli ports --v
check "completion: archive actions" completes "$completion" import kalvo-cli archive im
check "completion: archive chart levels" completes "$completion" year kalvo-cli archive chart --serial 123-45678 ye
finish
