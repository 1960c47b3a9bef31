#!/usr/bin/env bash
# A real IMAP server on the same Maildir: a store that Dovecot filled through IMAP CREATE and
# APPEND (with flags and arrival dates) is backed up completely, and a store that tindale-cli
# restored shows every folder, empty ones included, every message with its flags and
# INTERNALDATE through Dovecot; restoring the same archive again adds nothing. Dovecot's imap runs preauthenticated over a pipe, as
# an unprivileged user (it refuses root). Exit 77 (skipped) when Dovecot is not installed.
set -u
cli="$1"
imap=/usr/lib/dovecot/imap
[ -x "$imap" ] || { echo "dovecot-imapd is not installed"; exit 77; }
command -v runuser >/dev/null || { echo "runuser is missing"; exit 77; }
user=nobody
[ "$(id -u)" -eq 0 ] || user=$(id -un)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
chmod 755 "$work"
cp "$cli" "$work/tindale-cli"
fail() { echo "FAIL: $*"; exit 1; }
as_user() { runuser -u "$user" -- env -i PATH=/usr/bin:/bin USER="$user" HOME="$1" "${@:2}"; }
as_root_or_user() { if [ "$user" = "$(id -un)" ]; then env -i PATH=/usr/bin:/bin USER="$user" HOME="$1" "${@:2}"; else as_user "$@"; fi; }
imap_session() {  # home, then IMAP commands on stdin
  as_root_or_user "$1" "$imap" -o "mail_location=maildir:$1/Maildir" 2>/dev/null
}
message() { printf 'From: a@example.org\r\nSubject: %s\r\nDate: Mon, 1 Jan 2024 10:00:00 +0000\r\n\r\nbody of %s\r\n' "$1" "$1"; }
append() {  # folder subject [flags] [internal date]
  local m; m=$(message "$2")
  printf 'x APPEND %s (%s) "%s" {%d+}\r\n%s\r\n' "$1" "${3:-}" "${4:-01-Jan-2024 10:00:00 +0000}" "${#m}" "$m"
}

for h in ann bob; do mkdir -p "$work/$h/Maildir/cur" "$work/$h/Maildir/new" "$work/$h/Maildir/tmp"; done
[ "$user" = "$(id -un)" ] || chown -R "$user" "$work/ann" "$work/bob"

{ printf 'a CREATE Work\r\nb CREATE Work.Projects\r\nc CREATE INBOX.Receipts\r\nd CREATE Empty\r\n'
  append INBOX one '\Seen' '03-Feb-2005 08:15:00 +0000'; append INBOX two
  append Work plan '\Seen \Answered \Flagged' '17-Jun-2019 12:00:00 +0000'
  append Work.Projects launch '\Draft' '30-Nov-2023 23:59:59 +0000'
  append INBOX.Receipts paid '\Seen \Deleted' '05-May-2025 05:05:05 +0000'; printf 'z LOGOUT\r\n'; } \
  | imap_session "$work/ann" > "$work/fill.txt"
[ "$(grep -c '^x OK' "$work/fill.txt")" = 5 ] || { cat "$work/fill.txt"; fail "Dovecot filled the store"; }
# Every folder's messages as Dovecot reports them: flags (without \Recent) and INTERNALDATE.
state_of() {  # home
  for f in INBOX Work Work.Projects INBOX.Receipts Empty; do
    printf 'a SELECT %s\r\nb FETCH 1:* (FLAGS INTERNALDATE)\r\nz LOGOUT\r\n' "$f" | imap_session "$1" \
      | tr -d '\r' | grep '^\* [0-9]* FETCH' | sed -E 's/ ?\\Recent//; s/\( /(/; s/^\* [0-9]* FETCH //' \
      | sed "s/^/$f /" | sort
  done
}

as_root_or_user "$work/ann" "$work/tindale-cli" backup "$work/ann/mail.vqz" --source "Message Store" >/dev/null || fail "backup"
as_root_or_user "$work/ann" "$work/tindale-cli" list "$work/ann/mail.vqz" > "$work/list.txt"
for path in "Inbox/one" "Inbox/two" "Work/plan" "Work/Projects/launch" "Inbox/Receipts/paid"; do
  grep -q "/$path	item" "$work/list.txt" || { cat "$work/list.txt"; fail "backup holds $path"; }
done

as_root_or_user "$work/bob" "$work/tindale-cli" identity add Bob --store "$work/bob/Maildir" >/dev/null || fail "identity add"
as_root_or_user "$work/bob" "$work/tindale-cli" restore "$work/ann/mail.vqz" --identity Bob >/dev/null || fail "restore"
printf 'a LIST "" "*"\r\nb STATUS INBOX (MESSAGES)\r\nc STATUS Work (MESSAGES)\r\nd STATUS Work.Projects (MESSAGES)\r\ne STATUS INBOX.Receipts (MESSAGES)\r\nz LOGOUT\r\n' \
  | imap_session "$work/bob" > "$work/status.txt"
for expect in '\* STATUS INBOX (MESSAGES 2)' '\* STATUS Work (MESSAGES 1)' \
              '\* STATUS Work.Projects (MESSAGES 1)' '\* STATUS INBOX.Receipts (MESSAGES 1)'; do
  grep -q "$expect" "$work/status.txt" || { cat "$work/status.txt"; fail "Dovecot sees $expect"; }
done
[ "$(tr -d '\r' < "$work/status.txt" | grep -ci '^\* LIST .* "\?inbox"\?$')" = 1 ] || { cat "$work/status.txt"; fail "one INBOX"; }
grep -q '^\* LIST .* "\?Empty"\?' "$work/status.txt" || { cat "$work/status.txt"; fail "the empty folder comes back"; }
state_of "$work/ann" > "$work/before.txt"
state_of "$work/bob" > "$work/after.txt"
[ "$(wc -l < "$work/before.txt")" = 5 ] || { cat "$work/before.txt"; fail "Dovecot lists the original messages"; }
diff "$work/before.txt" "$work/after.txt" || fail "flags and INTERNALDATE come back as they were"

# The same archive again: nothing is added twice.
as_root_or_user "$work/bob" "$work/tindale-cli" restore "$work/ann/mail.vqz" --identity Bob > "$work/again.txt" || fail "second restore"
grep -q "5 messages already in their folder" "$work/again.txt" || { cat "$work/again.txt"; fail "the second restore says what was there"; }
state_of "$work/bob" > "$work/again-state.txt"
diff "$work/before.txt" "$work/again-state.txt" || fail "a second restore adds no copies"

# Into mbox folders as Thunderbird keeps them, then read by Dovecot as mbox.
mkdir -p "$work/carl/mail"
[ "$user" = "$(id -un)" ] || chown -R "$user" "$work/carl"
as_root_or_user "$work/carl" "$work/tindale-cli" identity add Carl --store "$work/carl/mail" --kind mbox >/dev/null || fail "identity add --kind mbox"
as_root_or_user "$work/carl" "$work/tindale-cli" restore "$work/ann/mail.vqz" --identity Carl >/dev/null || fail "restore into mbox"
for f in INBOX:Inbox:2 Work:Work:1; do
  IFS=: read -r name file count <<< "$f"
  printf 'a STATUS %s (MESSAGES)\r\nz LOGOUT\r\n' "$name" \
    | as_root_or_user "$work/carl" "$imap" -o "mail_location=mbox:$work/carl/mail:INBOX=$work/carl/mail/Inbox" 2>/dev/null \
    | tr -d '\r' | grep -q "STATUS $name (MESSAGES $count)" || fail "Dovecot reads $count messages in the mbox $file"
done
# Duplicates in a store Dovecot filled: three deliveries of one message (unread, read, read
# and deleted) and a lookalike from someone else in the same second. A dry run changes
# nothing; the search then leaves one live copy, read, and the lookalike.
mkdir -p "$work/dee/Maildir/cur" "$work/dee/Maildir/new" "$work/dee/Maildir/tmp"
[ "$user" = "$(id -un)" ] || chown -R "$user" "$work/dee"
mail_from() { printf 'From: %s\r\nSubject: lunch\r\nMessage-ID: <%s>\r\nDate: Mon, 1 Jan 2024 10:00:00 +0000\r\n\r\nat noon\r\n' "$1" "$2"; }
append_raw() {  # flags message
  printf 'x APPEND INBOX (%s) "01-Jan-2024 10:00:00 +0000" {%d+}\r\n%s\r\n' "$1" "${#2}" "$2"
}
{ m=$(mail_from ann@x lunch@x); append_raw '' "$m"; append_raw '\Seen' "$m"; append_raw '\Seen \Deleted' "$m"
  append_raw '' "$(mail_from bob@x lunch2@x)"; printf 'z LOGOUT\r\n'; } | imap_session "$work/dee" > /dev/null
inbox_state() {
  printf 'a SELECT INBOX\r\nb FETCH 1:* (FLAGS BODY.PEEK[HEADER.FIELDS (FROM)])\r\nz LOGOUT\r\n' | imap_session "$1" \
    | tr -d '\r' | grep -E '^\* [0-9]+ FETCH|^From:' | sed -E 's/ ?\\Recent//; s/\( /(/; s/^\* [0-9]+ FETCH //; s/ BODY.*//' | paste -d' ' - - | sort
}
inbox_state "$work/dee" > "$work/dee-before.txt"
[ "$(wc -l < "$work/dee-before.txt")" = 4 ] || { cat "$work/dee-before.txt"; fail "Dovecot filled the duplicates"; }
as_root_or_user "$work/dee" "$work/tindale-cli" dedupe --delete --dry-run >/dev/null || fail "dedupe --dry-run"
inbox_state "$work/dee" > "$work/dee-dry.txt"
diff "$work/dee-before.txt" "$work/dee-dry.txt" || fail "a dry run changes nothing"
[ -z "$(find "$work/dee/Maildir" -name '*tindale*')" ] || fail "nothing of ours in the store"
as_root_or_user "$work/dee" "$work/tindale-cli" dedupe --delete >/dev/null || fail "dedupe --delete"
inbox_state "$work/dee" > "$work/dee-after.txt"
printf '%s\n' '(FLAGS (\Seen) From: ann@x' '(FLAGS () From: bob@x' | sort > "$work/dee-expected.txt"
diff "$work/dee-expected.txt" "$work/dee-after.txt" || fail "one live copy, read, and the lookalike stay"

echo "3 passed, 0 failed"
