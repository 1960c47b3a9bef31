#!/usr/bin/env bash
# What a person could lose by an ordinary run, tried as processes: emptying an identity from
# a damaged archive, an archive reading itself, an unlistable folder passed over in silence,
# long names, permission bits of replaced files, and "%VAR%" inside file names.
set -u
cli="$1"
. "$(dirname "$0")/common.sh"
chmod 755 "$work"  # the unprivileged part below must reach it
export HOME="$work/ann"
mkdir -p "$HOME/Documents/%HOME%" "$HOME/Maildir/cur" "$HOME/Maildir/new" "$HOME/Maildir/tmp"
printf 'Subject: keep me\n\nbody\n' > "$HOME/Maildir/cur/1.a.host:2,S"
printf 'Subject: and me\n\nbody\n' > "$HOME/Maildir/cur/2.b.host:2,S"
long=$(printf 'n%.0s' $(seq 1 250)).txt   # 254 bytes: the longest names still restore
printf 'long' > "$HOME/Documents/$long"
printf 'literal' > "$HOME/Documents/%HOME%/x"
printf 'secret' > "$HOME/Documents/private.txt"
chmod 600 "$HOME/Documents/private.txt"

# An archive written into a folder it backs up never holds itself, old or new.
"$cli" backup "$HOME/Documents/mail.vqz" >/dev/null || fail "first backup"
"$cli" backup "$HOME/Documents/mail.vqz" >/dev/null || fail "second backup"
"$cli" list "$HOME/Documents/mail.vqz" | grep -q "mail.vqz" && fail "the archive holds itself"
"$cli" list "$HOME/Documents/mail.vqz" | grep -q "^My Documents/%HOME%/x	item" || fail "a name with %HOME% is listed"

# Restoring over existing files keeps their permission bits; names round trip.
mv "$HOME/Documents/mail.vqz" "$work/mail.vqz"
printf 'changed' > "$HOME/Documents/private.txt"
rm -rf "$HOME/Documents/%HOME%" "$HOME/Documents/$long"
"$cli" restore "$work/mail.vqz" --item "My Documents" --item "My Documents/%HOME%" >/dev/null || fail "restore of the documents"
[ "$(stat -c %a "$HOME/Documents/private.txt")" = 600 ] || fail "a 0600 file became $(stat -c %a "$HOME/Documents/private.txt")"
[ "$(cat "$HOME/Documents/private.txt")" = secret ] || fail "the file was restored"
[ "$(cat "$HOME/Documents/%HOME%/x" 2>/dev/null)" = literal ] || fail "%HOME% inside a path was expanded"
[ "$(cat "$HOME/Documents/$long" 2>/dev/null)" = long ] || fail "a 254-byte name was not restored"
ls -A "$HOME/Documents" | grep -q tindale && fail "temporary files were left behind"

# --clear-identity with a damaged archive deletes nothing; with a sound one it empties.
size=$(stat -c %s "$work/mail.vqz")
head -c $((size - 50)) "$work/mail.vqz" > "$work/cut.vqz"
"$cli" restore "$work/cut.vqz" --clear-identity --item "My Documents" > "$work/out.txt" 2>&1 && fail "a cut archive restores with --clear-identity"
grep -q "not emptied" "$work/out.txt" || { cat "$work/out.txt"; fail "the refusal says why"; }
[ "$(ls "$HOME/Maildir/cur" | wc -l)" = 2 ] || fail "mail was deleted for a damaged archive"
"$cli" restore "$work/mail.vqz" --clear-identity --item "My Documents" >/dev/null || fail "restore with --clear-identity"
[ "$(ls "$HOME/Maildir/cur" | wc -l)" = 0 ] || fail "the identity was emptied"

# A folder that cannot be listed is reported, not stored as an empty folder in silence.
# Root reads every folder, so this part runs as an unprivileged user where it can.
if [ "$(id -u)" -eq 0 ] && command -v runuser >/dev/null; then
  as() { runuser -u nobody -- env -i PATH=/usr/bin:/bin HOME="$work/bob" "$@"; }
  cp "$cli" "$work/tindale-cli"; cli_as="$work/tindale-cli"
  mkdir -p "$work/bob/Documents/locked"; printf 'x' > "$work/bob/Documents/locked/in.txt"
  chown -R nobody "$work/bob"
elif [ "$(id -u)" -ne 0 ]; then
  as() { env HOME="$work/bob" "$@"; }; cli_as="$cli"
  mkdir -p "$work/bob/Documents/locked"; printf 'x' > "$work/bob/Documents/locked/in.txt"
else
  as() { return 1; }
fi
if as true 2>/dev/null; then
  chmod 000 "$work/bob/Documents/locked"
  as "$cli_as" backup "$work/bob/b.vqz" --source "My Documents" > "$work/locked.txt" 2>&1 && fail "an unlistable folder passes as success"
  grep -q "locked.*cannot be listed" "$work/locked.txt" || { cat "$work/locked.txt"; fail "the unlistable folder is named"; }
fi
echo "1 passed, 0 failed"
