#!/usr/bin/env bash
# Installs a build into a staging folder as the package does (prefix /usr,
# DESTDIR) and checks every file of the desktop install.
#   install_test.sh <build folder> <project version>
set -euo pipefail
build="$1"
version="$2"
stage="$(mktemp -d)"
trap 'rm -rf "$stage"' EXIT
DESTDIR="$stage" cmake --install "$build" --prefix /usr >/dev/null

id=org.example.qmcrawl
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

for f in bin/qmcrawl bin/qmdown \
         share/applications/$id.desktop \
         share/icons/hicolor/48x48/apps/$id.png \
         share/icons/hicolor/scalable/apps/$id.svg \
         share/metainfo/$id.metainfo.xml \
         share/man/man1/qmcrawl.1.gz share/man/man1/qmdown.1.gz \
         share/doc/qmcrawl/copyright share/doc/qmcrawl/changelog.gz; do
  [ -f "$stage/usr/$f" ] || fail "/usr/$f not installed"
done
[ "$(ls -A "$stage")" = usr ] || fail "files outside /usr: $(ls -A "$stage")"

# Side by side, and the installed downloader runs.
said="$("$stage/usr/bin/qmdown" --version)"
[[ "$said" == *" $version "* ]] || fail "qmdown --version does not say $version: $said"
[ -x "$stage/usr/bin/qmcrawl" ] || fail "qmcrawl is not executable"

# The crawler's options answer without a display, before any window: a window
# could not open here and would end the program with another status (one on
# the offscreen platform would never end: killed after a minute).
crawl() { timeout 60 env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$stage/usr/bin/qmcrawl" "$@"; }
said="$(crawl --version)" || fail "qmcrawl --version ends with status $?"
[ "$said" = "qmcrawl $version" ] || fail "qmcrawl --version says: $said"
said="$(crawl -platform offscreen -v)" || fail "qmcrawl takes no Qt option: status $?"
[ "$said" = "qmcrawl $version" ] || fail "qmcrawl -platform offscreen -v says: $said"
said="$(crawl --help)" || fail "qmcrawl --help ends with status $?"
[[ "$said" == "Usage: "*qmcrawl" [options]"*"--help"*"--version"* ]] || fail "qmcrawl --help says: $said"
[[ "$said" == *"--browser-addresses"* ]] || fail "qmcrawl --help names no --browser-addresses: $said"
said="$(crawl --browser-addresses --version)" || fail "qmcrawl --browser-addresses is refused: status $?"
status=0
said="$(crawl --no-such-option 2>&1 >/dev/null)" || status=$?
[ "$status" -eq 2 ] || fail "qmcrawl --no-such-option ends with status $status"
[[ "$said" == "Unknown option 'no-such-option'."*"Usage: "* ]] || fail "qmcrawl --no-such-option says: $said"
[ -z "$(crawl --no-such-option 2>/dev/null)" ] || fail "qmcrawl --no-such-option writes to standard output"

desktop="$stage/usr/share/applications/$id.desktop"
grep -qx "Exec=qmcrawl" "$desktop" || fail "the desktop entry does not start qmcrawl"
grep -qx "Exec=qmcrawl --browser-addresses" "$desktop" || fail "no desktop action with browser addressing"
grep -qx "Icon=$id" "$desktop" || fail "the desktop entry does not name the icon $id"
grep -qx "Categories=Network;Graphics;" "$desktop" || fail "desktop entry categories"

# The PNG icon is 48 x 48 (width and height in its header).
size="$(od -An -tu1 -j16 -N8 "$stage/usr/share/icons/hicolor/48x48/apps/$id.png" | tr -s ' ')"
[ "$size" = " 0 0 0 48 0 0 0 48" ] || fail "the PNG icon is not 48 x 48:$size"

grep -q "<release version=\"$version\"" "$stage/usr/share/metainfo/$id.metainfo.xml" ||
  fail "the metainfo release is not $version"
for page in qmcrawl qmdown; do
  title="$(gzip -dc "$stage/usr/share/man/man1/$page.1.gz" | sed -n '/^\.TH /p')"
  [[ "$title" == ".TH ${page^^} 1 "*"$page $version"* ]] || fail "$page(1) does not carry version $version: $title"
done
first="$(gzip -dc "$stage/usr/share/doc/qmcrawl/changelog.gz" | sed -n 1p)"
[[ "$first" == "qmcrawl ($version) "* ]] || fail "the changelog's first entry is not $version: $first"

[ "$failures" -eq 0 ] && echo "install: every file in place"
exit "$failures"
