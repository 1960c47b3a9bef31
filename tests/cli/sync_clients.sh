#!/usr/bin/env bash
# Restores that sync clients accept, tried with the real ones. mbsync keeps a Dovecot account
# (reached through its Tunnel: Dovecot's imap preauthenticated over a pipe) in ~/Mail; ~/Mail
# is backed up, lost and restored, and `mbsync -a` run again changes nothing on either side:
# every file comes back byte for byte under its name, with mbsync's state. Dovecot's own store, restored into a
# new home and into one whose keyword table differs, shows the same keywords by name, the
# same subscriptions and the same \Noselect parent. Exit 77 (skipped) without mbsync or
# Dovecot.
set -u
cli="$1"
imap=/usr/lib/dovecot/imap
[ -x "$imap" ] || { echo "dovecot-imapd is not installed"; exit 77; }
command -v mbsync >/dev/null || { echo "isync (mbsync) is not installed"; exit 77; }
user=nobody
[ "$(id -u)" -eq 0 ] || user=$(id -un)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
chmod 755 "$work"
cp "$cli" "$work/tindale-cli"
fail() { echo "FAIL: $*"; exit 1; }
as_user() {
  if [ "$user" = "$(id -un)" ]; then env -i PATH=/usr/bin:/bin USER="$user" HOME="$1" "${@:2}"
  else runuser -u "$user" -- env -i PATH=/usr/bin:/bin USER="$user" HOME="$1" "${@:2}"; fi
}
tcli() { as_user "$1" "$work/tindale-cli" "${@:2}"; }
imap_session() { as_user "$1" "$imap" -o "mail_location=maildir:$1/Maildir" 2>/dev/null | tr -d '\r'; }
message() { printf 'From: a@example.org\r\nSubject: %s\r\nMessage-ID: <%s@x>\r\nDate: Mon, 1 Jan 2024 10:00:00 +0000\r\n\r\nbody of %s\r\n' "$1" "$1" "$1"; }
append() { local m; m=$(message "$2"); printf 'x APPEND %s (%s) "01-Jan-2024 10:00:00 +0000" {%d+}\r\n%s\r\n' "$1" "${3:-}" "${#m}" "$m"; }

# The server: Dovecot's Maildir++, with keywords, subscriptions and a \Noselect parent.
mkdir -p "$work/srv/Maildir/cur" "$work/srv/Maildir/new" "$work/srv/Maildir/tmp" "$work/cli/Mail"
[ "$user" = "$(id -un)" ] || chown -R "$user" "$work/srv" "$work/cli"
{ printf 'a CREATE Work\r\nb CREATE Archive.2024\r\nc SUBSCRIBE INBOX\r\nd SUBSCRIBE Work\r\ne SUBSCRIBE Archive.2024\r\n'
  append INBOX one '\Seen $Label1'; append INBOX two '$Forwarded'; append INBOX three '\Flagged Junk $Label1'
  append Work plan '\Seen \Answered'; append Archive.2024 old '\Seen'; printf 'z LOGOUT\r\n'; } \
  | imap_session "$work/srv" > "$work/fill.txt"
[ "$(grep -c '^x OK' "$work/fill.txt")" = 5 ] || { cat "$work/fill.txt"; fail "Dovecot filled the server"; }

printf '#!/bin/sh\nexec %s -o mail_location=maildir:%s/srv/Maildir 2>/dev/null\n' "$imap" "$work" > "$work/tunnel"
chmod 755 "$work/tunnel"
cat > "$work/cli/.mbsyncrc" <<RC
IMAPAccount srv
Tunnel "$work/tunnel"

IMAPStore srv-remote
Account srv

MaildirStore srv-local
Path ~/Mail/
Inbox ~/Mail/INBOX
SubFolders Verbatim

Channel srv
Far :srv-remote:
Near :srv-local:
Patterns *
Create Both
SyncState *
RC
[ "$user" = "$(id -un)" ] || chown "$user" "$work/cli/.mbsyncrc"
as_user "$work/cli" mbsync -a > "$work/sync1.txt" 2>&1 || { cat "$work/sync1.txt"; fail "the first mbsync"; }

server_counts() {
  printf 'a STATUS INBOX (MESSAGES)\r\nb STATUS Work (MESSAGES)\r\nc STATUS Archive.2024 (MESSAGES)\r\nz LOGOUT\r\n' \
    | imap_session "$work/srv" | grep '^\* STATUS'
}
local_files() { (cd "$work/cli" && find Mail -type f -print0 | sort -z | xargs -0 md5sum); }
server_counts > "$work/server-before.txt"
local_files > "$work/local-before.txt"
grep -q ',U=1:2,S' "$work/local-before.txt" && grep -q 'INBOX/.mbsyncstate' "$work/local-before.txt" \
  || { cat "$work/local-before.txt"; fail "mbsync filled ~/Mail"; }

tcli "$work/cli" backup "$work/cli/mail.vqz" --source "Message Store" > /dev/null || fail "backup of ~/Mail"
rm -rf "$work/cli/Mail"
tcli "$work/cli" restore "$work/cli/mail.vqz" > "$work/restore.txt" || { cat "$work/restore.txt"; fail "restore"; }
local_files > "$work/local-restored.txt"
diff "$work/local-before.txt" "$work/local-restored.txt" || fail "every file of ~/Mail comes back, names and state included"
[ -d "$work/cli/Mail/Archive" ] && [ ! -e "$work/cli/Mail/Archive/cur" ] || fail "Archive stays a mere parent"
as_user "$work/cli" mbsync -a > "$work/sync2.txt" 2>&1 || { cat "$work/sync2.txt"; fail "mbsync after the restore"; }
server_counts > "$work/server-after.txt"
diff "$work/server-before.txt" "$work/server-after.txt" || fail "mbsync uploads nothing again"
local_files > "$work/local-after.txt"
diff "$work/local-before.txt" "$work/local-after.txt" || fail "mbsync downloads nothing again"

# Dovecot's store into a new home, and into one whose keyword table gives letters other names.
state_of() {
  printf 'a LIST "" "*"\r\nb LSUB "" "*"\r\nc SELECT INBOX\r\nd FETCH 1:* (FLAGS)\r\nz LOGOUT\r\n' | imap_session "$1" \
    | grep -E '^\* (LIST|LSUB|[0-9]+ FETCH)' | sed -E 's/ ?\\Recent//; s/\( /(/; s/ \\UnMarked//' | sort
}
tcli "$work/srv" backup "$work/srv/srv.vqz" --source "Message Store" > /dev/null || fail "backup of Dovecot's store"
mkdir -p "$work/new"
[ "$user" = "$(id -un)" ] || chown "$user" "$work/new"
tcli "$work/new" restore "$work/srv/srv.vqz" > /dev/null || fail "restore into a new home"
state_of "$work/srv" > "$work/dovecot-before.txt"
state_of "$work/new" > "$work/dovecot-new.txt"
grep -q 'Noselect.*Archive$' "$work/dovecot-before.txt" || { cat "$work/dovecot-before.txt"; fail "the server has a \\Noselect parent"; }
diff "$work/dovecot-before.txt" "$work/dovecot-new.txt" || fail "keywords, subscriptions and folder attributes as they were"

mkdir -p "$work/old/Maildir/cur" "$work/old/Maildir/new" "$work/old/Maildir/tmp"
[ "$user" = "$(id -un)" ] || chown -R "$user" "$work/old"
m=$(printf 'From: b@x\r\nSubject: mine\r\n\r\nmine\r\n')
printf 'x APPEND INBOX (Important Todo $Forwarded) {%d+}\r\n%s\r\nb CREATE Mine\r\nc SUBSCRIBE Mine\r\nz LOGOUT\r\n' ${#m} "$m" \
  | imap_session "$work/old" > /dev/null
tcli "$work/old" identity add Old --store "$work/old/Maildir" > /dev/null
tcli "$work/old" restore "$work/srv/srv.vqz" --identity Old > /dev/null || fail "restore into a home with keywords"
state_of "$work/old" > "$work/dovecot-old.txt"
for expect in '(FLAGS (\\Seen $Label1))' '(FLAGS ($Forwarded))' '(FLAGS (\\Flagged $Label1 Junk))' \
              '(FLAGS (Important Todo $Forwarded))' 'LSUB () "." Mine' 'LSUB () "." Archive.2024'; do
  grep -qF "$(printf '%b' "$expect")" "$work/dovecot-old.txt" || { cat "$work/dovecot-old.txt"; fail "Dovecot shows $expect"; }
done
[ "$(grep -c 'FETCH' "$work/dovecot-old.txt")" = 4 ] || { cat "$work/dovecot-old.txt"; fail "three messages joined the one there"; }

echo "3 passed, 0 failed"
