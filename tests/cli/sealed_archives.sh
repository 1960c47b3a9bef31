#!/usr/bin/env bash
# Sealed archives from the command line, checked by an independent reader (PyNaCl, zstandard):
# backup --encrypt seals, the file holds none of the plaintext, test authenticates with the
# password and finds a changed byte, restore puts everything back, the stored sealed archives
# (zstd and the earlier LZMA ones) read as documented, and --legacy-encryption still writes the
# original format. Exit 77 (skipped) when PyNaCl or zstandard is not installed.
set -u
cli="$1"
here=$(cd "$(dirname "$0")" && pwd)
py=/usr/bin/python3
"$py" -c "import nacl.bindings, zstandard" 2>/dev/null || py=python3
"$py" -c "import nacl.bindings, zstandard" 2>/dev/null ||
  { echo "PyNaCl or zstandard (python3-nacl, python3-zstandard) is not installed"; exit 77; }
. "$(dirname "$0")/common.sh"
export HOME="$work/ann"
mkdir -p "$HOME/Documents"
printf 'Dear Bob, the safe code is 7-3-9-1.\n' > "$HOME/Documents/letter.txt"
printf 'correct horse\n' > "$work/pw"
printf 'wrong horse\n' > "$work/bad"

"$cli" backup "$work/s.vqz" --encrypt --password-file "$work/pw" --source "My Documents" >/dev/null || fail "sealed backup"
grep -q "safe code" "$work/s.vqz" && fail "the sealed archive holds the plaintext"
reader="$here/sealed_reader.py"
[ "$("$py" "$reader" "$work/s.vqz" "correct horse" letter.txt | tail -c 36)" = "Dear Bob, the safe code is 7-3-9-1." ] \
  || fail "PyNaCl opens the frame as documented"

# Compressed: zstd pieces of up to 128 KiB inside the seal (header byte 7 is 2), a payload of
# several of them, text and noise, read back byte for byte (after the 4112-byte file header).
"$py" -c "
import random, sys; r = random.Random(3)
words = [b'mail ', b'sealed ', b'piece ', b'zstd ', b'\n']
text = b''.join(r.choice(words) for _ in range(60000))
open(sys.argv[1], 'wb').write(text + r.randbytes(200000) + text)" "$HOME/Documents/mixed.bin"
"$cli" backup "$work/z.vqz" --compress --encrypt --password-file "$work/pw" --source "My Documents" >/dev/null || fail "sealed compressed backup"
[ "$(head -c 8 "$work/z.vqz" | tail -c 2 | od -An -tu1 | tr -s ' ')" = " 1 2" ] || fail "bytes 6 and 7 mark a sealed archive of zstd pieces"
"$py" "$reader" "$work/z.vqz" "correct horse" mixed.bin | tail -c +4113 | cmp -s - "$HOME/Documents/mixed.bin" \
  || fail "zstandard and PyNaCl read the compressed payload back"
rm "$HOME/Documents/mixed.bin"
# Messages share the dictionary the archive's first record holds: each one is read back by
# the independent reader, dictionary and all, as Tindale reads it.
"$py" - "$HOME/Maildir" <<'PY'
import os, sys
for sub in ("cur", "new", "tmp"):
    os.makedirs(os.path.join(sys.argv[1], sub), exist_ok=True)
for i in range(60):
    with open(os.path.join(sys.argv[1], "cur", f"17000{i:05}.M{i}.host:2,S"), "w") as f:
        f.write(f"Received: from mx.example.org by mail.example.org\nFrom: Ann <ann@example.org>\n"
                f"To: Bob <bob@example.org>\nSubject: Weekly note {i}\nMessage-ID: <{i}@example.org>\n"
                f"\nHello Bob,\n\nthe weekly note number {i}.\n\n-- \nAnn, example.org\n")
PY
"$cli" backup "$work/m.vqz" --compress --encrypt --password-file "$work/pw" --source "Message Store" >/dev/null || fail "sealed compressed backup of mail"
"$py" -c "import sys; d = open(sys.argv[1], 'rb').read(4176 + 32); sys.exit(d[4192:4208].hex() != 'e2a7d1c4583b964f8e0d7a21b9f3e654')" "$work/m.vqz" \
  || fail "the first record holds the dictionary"
"$cli" cat "$work/m.vqz" "Message Store/Main Identity/Inbox/Weekly note 7" --password-file "$work/pw" > "$work/m7" || fail "cat of a message"
grep -q "weekly note number 7\." "$work/m7" || fail "cat gives the message"
"$py" "$reader" "$work/m.vqz" "correct horse" "Weekly note 7" | tail -c "$(stat -c %s "$work/m7")" | cmp -s - "$work/m7" \
  || fail "the independent reader opens a message with the archive's dictionary"
"$cli" test "$work/m.vqz" --password-file "$work/pw" >/dev/null || fail "an archive with a dictionary tests sound"
rm -r "$HOME/Maildir"
# The stored archives, the earlier sealed ones (LZMA inside) too, hold the plain one's notes.
data="$here/../data"
"$py" "$reader" "$data/plain.vqz" - notes > "$work/notes" || fail "the plain stored archive reads"
for a in sealed compressed-sealed early-sealed early-compressed-sealed; do
  "$py" "$reader" "$data/$a.vqz" pass notes | cmp -s - "$work/notes" || fail "stored $a.vqz reads as documented"
done
"$cli" test "$work/s.vqz" > "$work/t.txt" || fail "test without the password checks the shape"
"$cli" list "$work/s.vqz" 2>&1 >/dev/null | grep -q "encryption: sealed" || fail "list names the scheme"
"$cli" test "$work/s.vqz" --password-file "$work/pw" >/dev/null || fail "test authenticates with the password"
"$cli" test "$work/s.vqz" --password-file "$work/bad" 2>/dev/null; [ $? -eq 3 ] || fail "test with a wrong password exits 3"
python3 -c "
import sys; d = bytearray(open(sys.argv[1], 'rb').read()); d[-30] ^= 1; open(sys.argv[2], 'wb').write(d)" "$work/s.vqz" "$work/x.vqz"
"$cli" test "$work/x.vqz" --password-file "$work/pw" >/dev/null 2>&1 && fail "a changed byte passes the test"

# The other way round: an archive sealed by PyNaCl from the documented layout alone.
"$py" "$here/../fuzz/make_sealed_seed.py" "$work/py.vqz" || fail "PyNaCl writes a sealed archive"
printf 'pass\n' > "$work/pass"
"$cli" test "$work/py.vqz" --password-file "$work/pass" >/dev/null || fail "an archive sealed by PyNaCl tests sound"
"$py" "$here/../fuzz/make_sealed_seed.py" "$work/pyz.vqz" --zstd || fail "PyNaCl and zstandard write a sealed archive"
"$cli" test "$work/pyz.vqz" --password-file "$work/pass" >/dev/null || fail "an archive of zstd pieces sealed by PyNaCl tests sound"
"$cli" cat "$work/pyz.vqz" 'seed.txt' --password-file "$work/pass" 2>/dev/null | grep -qx hello || fail "its file reads back"
"$py" "$here/../fuzz/make_sealed_seed.py" "$work/pyd.vqz" --shared || fail "PyNaCl and zstandard write an archive with a dictionary"
"$cli" test "$work/pyd.vqz" --password-file "$work/pass" >/dev/null || fail "an archive with a dictionary made by zstandard tests sound"
"$cli" cat "$work/pyd.vqz" 'seed.txt' --password-file "$work/pass" 2>/dev/null | grep -qx hello || fail "its file, compressed with that dictionary, reads back"

export HOME="$work/bob"
mkdir -p "$HOME"
"$cli" restore "$work/s.vqz" --password-file "$work/bad" >/dev/null 2>&1; [ $? -eq 3 ] || fail "restore with a wrong password exits 3"
"$cli" restore "$work/s.vqz" --password-file "$work/pw" >/dev/null || fail "restore of a sealed archive"
cmp -s "$work/ann/Documents/letter.txt" "$HOME/Documents/letter.txt" || fail "the restored letter"

export HOME="$work/ann"
"$cli" backup "$work/l.vqz" --legacy-encryption --password-file "$work/pw" --source "My Documents" >/dev/null || fail "legacy backup"
[ "$(head -c 7 "$work/l.vqz" | tail -c 1 | od -An -tu1 | tr -d ' ')" = 0 ] || fail "a legacy archive keeps byte 6 zero"
"$cli" list "$work/l.vqz" 2>&1 >/dev/null | grep -q "legacy DES" || fail "list names the legacy scheme"
# A legacy archive tested with a wrong password: exit 3, as for a sealed one.
"$cli" test "$work/l.vqz" --password-file "$work/bad" >/dev/null 2>&1; [ $? -eq 3 ] || fail "legacy test with a wrong password exits 3"

# Password files: the content less one line ending; several lines or bytes that are not UTF-8
# are refused, never cut or replaced.
printf 'correct horse' > "$work/pw-bare"
"$cli" test "$work/s.vqz" --password-file "$work/pw-bare" >/dev/null || fail "a password file without a line ending"
printf 'correct horse\nsecond line\n' > "$work/pw-two"
"$cli" test "$work/s.vqz" --password-file "$work/pw-two" 2>"$work/err" >/dev/null; [ $? -eq 2 ] || fail "a password file of two lines is refused"
grep -q "more than one line" "$work/err" || fail "the refusal says why"
printf '\xff\xfe' > "$work/pw-raw"
"$cli" backup "$work/raw.vqz" --encrypt --password-file "$work/pw-raw" --source "My Documents" 2>"$work/err" >/dev/null
[ $? -eq 2 ] && grep -q "UTF-8" "$work/err" || fail "a password that is not UTF-8 is refused"
[ -e "$work/raw.vqz" ] && fail "no archive is written for a refused password"
echo "1 passed, 0 failed"
