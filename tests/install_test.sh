#!/bin/sh
# Installs the build into a fresh prefix and checks the installed tree: the program; a
# desktop entry that validates and names the window's class; the icon; AppStream data that
# validates and launches that entry; a manual page that renders without warnings; and the
# copyright notice. The release files must carry the project's version.
# Usage: install_test.sh CMAKE BUILD_DIR PREFIX APP_ID VERSION
set -eu
cmake=$1 build=$2 prefix=$3 id=$4 version=$5
rm -rf "$prefix"
"$cmake" --install "$build" --prefix "$prefix" >/dev/null

fail() {
    echo "$*" >&2
    exit 1
}
test -x "$prefix/bin/orlemaz" || fail "no program"
entry=$prefix/share/applications/$id.desktop
desktop-file-validate "$entry"
grep -qx StartupWMClass=Orlemaz "$entry" || fail "the entry names no window class"
grep -q '<svg' "$prefix/share/icons/hicolor/scalable/apps/orlemaz.svg" || fail "no icon"

metainfo=$prefix/share/metainfo/$id.metainfo.xml
appstreamcli validate --no-net "$metainfo" >/dev/null || appstreamcli validate --no-net "$metainfo"
grep -q "<id>$id</id>" "$metainfo" || fail "AppStream id is not $id"
grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$metainfo" ||
    fail "AppStream data launches another entry"
grep -q "<release version=\"$version\"" "$metainfo" || fail "AppStream release is not $version"

page=$prefix/share/man/man6/orlemaz.6.gz
warnings=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
[ -z "$warnings" ] || fail "man: $warnings"
gzip -dc "$page" | grep -q "^\.TH ORLEMAZ 6 .* \"orlemaz $version\"" ||
    fail "the manual page is not of version $version"
MANWIDTH=80 man -l "$page" 2>/dev/null | grep -q "/share/applications/$id.desktop" ||
    fail "the manual page names another desktop entry"

grep -q "has not been chosen" "$prefix/share/doc/orlemaz/copyright" || fail "no copyright notice"
