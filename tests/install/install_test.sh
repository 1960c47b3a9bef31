#!/usr/bin/env bash
# cmake --install into a staging tree: the programs, the desktop entry (valid), the icons,
# the archive MIME type and the manual pages are where desktops look for them.
set -u
build="$1"
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
fail() { echo "FAIL: $*"; exit 1; }
DESTDIR="$stage" cmake --install "$build" --prefix /usr >/dev/null || fail "cmake --install"
root="$stage/usr"
for f in bin/tindale bin/tindale-cli bin/tindale-explorer share/applications/tindale.desktop \
         share/applications/tindale-explorer.desktop share/mime/packages/tindale-archive.xml \
         share/icons/hicolor/scalable/apps/tindale.svg share/icons/hicolor/48x48/apps/tindale.png \
         share/tindale/icons/Inbox.png share/tindale/icons/Message.png share/man/man1/tindale-cli.1 \
         share/doc/tindale/guide/index.html share/doc/tindale/screenshots/19-finddup-2-options.png; do
  [ -e "$root/$f" ] || fail "$f is not installed"
done
if command -v desktop-file-validate >/dev/null; then
  for d in tindale tindale-explorer; do
    desktop-file-validate "$root/share/applications/$d.desktop" || fail "the desktop entry $d is not valid"
  done
fi
grep -q "^MimeType=application/x-tindale-archive;" "$root/share/applications/tindale.desktop" || fail "desktop entry MIME type"
grep -q "^Exec=tindale %f" "$root/share/applications/tindale.desktop" || fail "opening an archive passes its path"
python3 -c 'import sys, xml.dom.minidom; xml.dom.minidom.parse(sys.argv[1])' "$root/share/mime/packages/tindale-archive.xml" || fail "MIME XML"
if command -v update-mime-database >/dev/null; then
  update-mime-database "$root/share/mime" >/dev/null 2>&1 || fail "update-mime-database"
  grep -q "vqz" "$root/share/mime/globs2" || fail "the *.vqz glob is registered"
fi
if command -v man >/dev/null; then
  MANWIDTH=80 man -l "$root/share/man/man1/tindale-cli.1" 2>/dev/null | grep -q "EXIT STATUS" || fail "the manual page renders"
fi
"$root/bin/tindale-cli" --help | grep -q "backup" || fail "the installed CLI runs"
# Every picture the user guide shows is installed beside it.
for img in $(grep -o 'src="[^"]*"' "$root/share/doc/tindale/guide/index.html" | cut -d'"' -f2); do
  [ -e "$root/share/doc/tindale/guide/$img" ] || fail "the guide's picture $img is not installed"
done
echo "1 passed, 0 failed"
