#!/usr/bin/env bash
# Sealed archives from the command line, checked by an independent reader (PyNaCl): backup
# --encrypt seals, the file holds none of the plaintext, test authenticates with the password
# and finds a changed byte, restore puts everything back, and --legacy-encryption still
# writes the original format. Exit 77 (skipped) when PyNaCl is not installed.
set -u
cli="$1"
here=$(cd "$(dirname "$0")" && pwd)
py=/usr/bin/python3
"$py" -c "import nacl.bindings" 2>/dev/null || py=python3
"$py" -c "import nacl.bindings" 2>/dev/null || { echo "PyNaCl (python3-nacl) is not installed"; exit 77; }
. "$(dirname "$0")/common.sh"
export HOME="$work/ann"
mkdir -p "$HOME/Documents"
printf 'Dear Bob, the safe code is 7-3-9-1.\n' > "$HOME/Documents/letter.txt"
printf 'correct horse\n' > "$work/pw"
printf 'wrong horse\n' > "$work/bad"

"$cli" backup "$work/s.vqz" --encrypt --password-file "$work/pw" --source "My Documents" >/dev/null || fail "sealed backup"
grep -q "safe code" "$work/s.vqz" && fail "the sealed archive holds the plaintext"
[ "$("$py" "$here/open_sealed_frame.py" "$work/s.vqz" "correct horse" letter.txt | tail -c 36)" = "Dear Bob, the safe code is 7-3-9-1." ] \
  || fail "PyNaCl opens the frame as documented"
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
