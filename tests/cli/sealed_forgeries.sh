#!/usr/bin/env bash
# Forgeries of a sealed archive made without the password (forge_sealed.py, written from
# docs/format.md alone): planted plain records, with and without a recomputed closing record,
# removed, reordered, repeated and appended records, another archive's closing record, and
# the dictionary record dropped, moved or replaced by a plain one, and changed header fields
# (seal scheme, compress flag, key-derivation limits, key check). Each
# must fail `test` with the password, and a restore must refuse it before it writes or
# deletes anything, --clear-identity included. Frames of one file swapped, dropped or taken
# from another item: test reports damage and the restore writes nothing of that file. Extract
# and cat likewise: a forged record chain extracts nothing at all, a forged file's frames
# leave nothing under its name.
# Exit 77 when python3 is missing.
set -u
cli="$1"
here=$(cd "$(dirname "$0")" && pwd)
command -v python3 >/dev/null || { echo "python3 is not installed"; exit 77; }
. "$here/common.sh"
export HOME="$work/ann"
mkdir -p "$HOME"
"$cli" demo-profile >/dev/null || fail "demo profile"
head -c 400000 /dev/urandom > "$HOME/Documents/big.bin"  # several 128 KiB pieces
printf 'correct horse' > "$work/pw"
"$cli" backup "$work/s.vqz" --compress --encrypt --password-file "$work/pw" >/dev/null || fail "sealed backup"
"$cli" backup "$work/o.vqz" --encrypt --password-file "$work/pw" --source "My Documents" >/dev/null \
  || fail "second sealed backup"
"$cli" test "$work/s.vqz" --password-file "$work/pw" >/dev/null || fail "the genuine archive tests sound"
count_mail() { find "$1" -path '*/cur/*' -type f -o -path '*/new/*' -type f | wc -l; }
before=$(count_mail "$HOME/Maildir")
[ "$before" -gt 0 ] || fail "the demo profile has mail"
mkdir "$work/forged"
attacks=$(python3 "$here/forge_sealed.py" "$work/s.vqz" "$work/o.vqz" "$work/forged") || fail "forging"
for attack in $attacks; do
  f="$work/forged/$attack.vqz"
  "$cli" test "$f" --password-file "$work/pw" >"$work/out" 2>&1
  rc=$?
  # Exit 1: damage found; 3: a changed header no longer matches the password.
  [ $rc -eq 1 ] || { [ $rc -eq 3 ] && [ "${attack#header-}" != "$attack" ]; } ||
    fail "$attack: test with the password does not report damage: $(cat "$work/out")"
  grep -q "no error" "$work/out" && fail "$attack: test says no error"
  "$cli" extract "$f" --to "$work/x-$attack" --password-file "$work/pw" >"$work/out" 2>&1
  [ $? -ne 0 ] || fail "$attack: extract exits 0"
  [ -e "$work/x-$attack/My Documents/big.bin" ] && fail "$attack: extract wrote the forged file"
  "$cli" cat "$f" "My Documents/big.bin" --password-file "$work/pw" >/dev/null 2>&1 &&
    fail "$attack: cat exits 0"
  if [ "${attack#frame-}" != "$attack" ]; then
    mkdir -p "$work/new-$attack"
    HOME="$work/new-$attack" "$cli" restore "$f" --password-file "$work/pw" >"$work/out" 2>&1
    [ $? -eq 1 ] || fail "$attack: restore does not report the damaged file"
    [ -e "$work/new-$attack/Documents/big.bin" ] && fail "$attack: the damaged file was written"
    leftovers=$(find "$work/new-$attack/Documents" -name '.tindale-*' | head -3)
    [ -z "$leftovers" ] || fail "$attack: restore left $leftovers"
    echo "refused: $attack"
    continue
  fi
  HOME="$work/new-$attack" ; mkdir -p "$HOME"
  HOME="$work/new-$attack" "$cli" restore "$f" --password-file "$work/pw" >"$work/out" 2>&1
  [ $? -ne 0 ] || fail "$attack: restore exits 0"
  written=$(find "$work/new-$attack" -type f ! -path '*/.local/share/tindale/*' | head -3)
  [ -z "$written" ] || fail "$attack: restore wrote $written"
  extracted=$(find "$work/x-$attack" -type f 2>/dev/null | head -3)
  [ -z "$extracted" ] || fail "$attack: extract wrote $extracted"
  HOME="$work/ann" "$cli" restore "$f" --password-file "$work/pw" --identity "Main Identity" \
    --clear-identity >"$work/out" 2>&1
  [ $? -ne 0 ] || fail "$attack: restore --clear-identity exits 0"
  [ "$(count_mail "$work/ann/Maildir")" -eq "$before" ] || fail "$attack: --clear-identity deleted mail"
  echo "refused: $attack"
done
echo "1 passed, 0 failed"
