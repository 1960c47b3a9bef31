#!/usr/bin/env bash
# tindale-cli as a user runs it: back up one throwaway home, restore into another, compare;
# test and list exit codes; a wrong password exits 3.
set -u
cli="$1"
. "$(dirname "$0")/common.sh"

export HOME="$work/ann"
mkdir -p "$HOME/Documents/nested/deeper" "$HOME/Documents/nested/other" "$HOME/Favorites/Links" "$HOME/Contacts"
printf 'letter' > "$HOME/Documents/letter.txt"
head -c 200000 /dev/urandom > "$HOME/Documents/nested/deeper/blob.bin"
printf 'x' > "$HOME/Favorites/Links/site.url"
printf 'card' > "$HOME/Contacts/ann.vcf"
for d in "$HOME/Maildir" "$HOME/Maildir/.Lists.Debian"; do mkdir -p "$d/cur" "$d/new" "$d/tmp"; done
printf 'Subject: hi\n\nhello\n' > "$HOME/Maildir/cur/1.a.host:2,S"
printf 'Subject: deb\n\nnews\n' > "$HOME/Maildir/.Lists.Debian/cur/2.b.host:2,"

"$cli" sources | grep -qx "My Documents/nested/deeper" || fail "sources lists nested folders"
"$cli" sources | grep -qx "Message Store/Main Identity/Lists/Debian" || fail "sources lists mail folders"
"$cli" identity list | grep -q "Main Identity" || fail "an existing ~/Maildir gets an identity"
printf 'secret\n' > "$work/pw"
registry="$HOME/.local/share/tindale/registry.db"
sqlite3 "$registry" .dump > "$work/registry-before.sql"
"$cli" backup "$work/all.vqz" --compress --encrypt --password-file "$work/pw" >/dev/null || fail "backup"
"$cli" test "$work/all.vqz" >/dev/null || fail "test of a good archive"
"$cli" list "$work/all.vqz" | grep -q "^Contacts/ann.vcf	item" || fail "list names items"
"$cli" dedupe --dry-run >/dev/null || fail "duplicate search"
"$cli" sources >/dev/null
sqlite3 "$registry" .dump | cmp -s - "$work/registry-before.sql" || fail "read-only jobs changed the registry"

head -c 6000 "$work/all.vqz" > "$work/cut.vqz"
"$cli" test "$work/cut.vqz" 2>/dev/null; [ $? -eq 1 ] || fail "test exits 1 on a truncated archive"

export HOME="$work/bob"
mkdir -p "$HOME"
"$cli" identity add Bob --store "$HOME/Mail" >/dev/null || fail "identity add"
"$cli" identity list | grep -q "	Bob	$HOME/Mail" || fail "identity list shows the new identity"
printf 'wrong\n' > "$work/bad"
"$cli" restore "$work/all.vqz" --password-file "$work/bad" 2>/dev/null; [ $? -eq 3 ] || fail "wrong password exits 3"
"$cli" restore "$work/all.vqz" --identity Bob --password-file "$work/pw" >/dev/null || fail "restore"
if command -v python3 >/dev/null; then
  dump="$(dirname "$0")/../model/maildir_tool.py"
  [ "$(python3 "$dump" dump "$work/ann/Maildir")" = "$(python3 "$dump" dump "$work/bob/Mail")" ] || fail "messages differ after the round trip"
fi
for f in Documents/letter.txt Documents/nested/deeper/blob.bin Favorites/Links/site.url Contacts/ann.vcf; do
  cmp -s "$work/ann/$f" "$work/bob/$f" || fail "$f differs after the round trip"
done

# --source and --exclude select like the tree: the excluded subtree is missing.
export HOME="$work/ann"
"$cli" backup "$work/some.vqz" --source "My Documents" --exclude "My Documents/nested/deeper" >/dev/null || fail "selective backup"
"$cli" list "$work/some.vqz" | cut -f1 > "$work/some.txt"
grep -qx "My Documents/letter.txt" "$work/some.txt" || fail "selected file missing"
grep -q "deeper" "$work/some.txt" && fail "excluded folder present"
grep -q "Contacts" "$work/some.txt" && fail "unselected root present"
"$cli" backup 2>/dev/null; [ $? -eq 2 ] || fail "usage error exits 2"
# --quick: LZMA's quicker setting, read back like any compressed archive; it needs --compress.
printf 'Dear Bob, the garden and the budget.\n%.0s' $(seq 3000) > "$HOME/Documents/letter.txt"
"$cli" backup "$work/quick.vqz" --compress --quick --source "My Documents" >/dev/null || fail "quick backup"
"$cli" backup "$work/usual.vqz" --compress --source "My Documents" >/dev/null || fail "usual compressed backup"
cmp -s "$work/quick.vqz" "$work/usual.vqz" && fail "--quick changes the encoder"
"$cli" cat "$work/quick.vqz" "My Documents/letter.txt" | cmp -s - "$HOME/Documents/letter.txt" || fail "a quick archive reads back"
"$cli" backup "$work/q.vqz" --quick --source "My Documents" 2>/dev/null; [ $? -eq 2 ] || fail "--quick without --compress is a usage error"

# dedupe: --dry-run lists and changes nothing; --delete keeps one copy.
cp -p "$HOME/Maildir/cur/1.a.host:2,S" "$HOME/Maildir/cur/1.copy.host:2,S"
"$cli" dedupe --delete --dry-run > "$work/dry.txt"
grep -q "^Main Identity/Inbox  .*\"" "$work/dry.txt" || { cat "$work/dry.txt"; fail "dry run names the folder and message"; }
grep -q "^  keep    cur/1\.a\.host:2,S" "$work/dry.txt" && grep -q "^  would delete  cur/1\.copy\.host:2,S" "$work/dry.txt" \
  || { cat "$work/dry.txt"; fail "dry run shows the copy kept and the one that would go"; }
"$cli" --json dedupe --dry-run | grep -q '"going"' || fail "dry run as JSON lists the groups"
[ "$(ls "$HOME/Maildir/cur" | wc -l)" = 2 ] || fail "dry run changed nothing"
"$cli" dedupe --delete --folder "Main Identity/Lists" | grep -q "^  delete" && fail "--folder limits the search"
"$cli" dedupe --delete >/dev/null || fail "dedupe --delete"
[ "$(ls "$HOME/Maildir/cur" | wc -l)" = 1 ] || fail "dedupe kept exactly one copy"
# JSON and progress: list --json names every record; test --json names a damaged item;
# a progress bar appears on a terminal and never in a pipe.
if command -v python3 >/dev/null; then
  n_text=$("$cli" list "$work/all.vqz" | wc -l)
  n_json=$("$cli" list --json "$work/all.vqz" | python3 -c 'import json,sys; print(len(json.load(sys.stdin)["records"]))')
  [ "$n_text" = "$n_json" ] || fail "list --json names every record"
  "$cli" backup "$work/packed.vqz" --compress --source "My Documents" >/dev/null
  python3 - "$work/packed.vqz" <<'PY'
import struct, sys
data = bytearray(open(sys.argv[1], "rb").read())
pos = 4176
while pos + 704 <= len(data):
    length = struct.unpack_from("<Q", data, pos + 48)[0]
    name = data[pos + 58:pos + 570].decode("utf-16-le").split("\0")[0]
    if name == "blob.bin":
        for k in range(pos + 704 + 40, pos + 704 + 60): data[k] ^= 0x5A   # inside the first frame
        break
    pos += 704 + length
open(sys.argv[1], "wb").write(data)
PY
  "$cli" test --json "$work/packed.vqz" > "$work/test.json" && fail "a damaged archive tests as sound"
  python3 -c 'import json,sys; d=json.load(open(sys.argv[1])); assert d["verdict"]=="damaged" and d["damagedItem"]=="blob.bin", d' "$work/test.json" || fail "test --json names the damaged item"
fi
if command -v script >/dev/null; then
  script -qc "'$cli' backup '$work/tty.vqz' --source 'My Documents'" /dev/null > "$work/tty.txt"
  grep -q "%" "$work/tty.txt" || fail "a progress bar on a terminal"
  "$cli" backup "$work/pipe.vqz" --source "My Documents" > "$work/pipe.txt" 2>&1
  grep -q "%" "$work/pipe.txt" && fail "no progress bar in a pipe"
fi
echo "1 passed, 0 failed"
