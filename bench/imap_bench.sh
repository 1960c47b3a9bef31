#!/usr/bin/env bash
# An IMAP account of N messages (default 10 000, half in INBOX, half in Archive) on a Dovecot
# on 127.0.0.1 with TLS, in one run:
#   backup   Tindale's backup of the account  against  mbsync pulling it into a new Maildir
#   restore  Tindale's restore into the emptied account  against  mbsync pushing that Maildir
#            into the emptied account
# Both speak to the same server through the same TLS; the server's Maildir is rebuilt the same
# way before each restore. Usage: bench/imap_bench.sh [N]
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
n=${1:-10000}
"$here/scripts/build" >/dev/null
cli="$here/build/src/cli/tindale-cli"
work=$(mktemp -d)
chmod 755 "$work"
source "$here/bench/table.sh"
server="$work/server"
port=$(python3 "$here/tests/imap/dovecot_tls.py" "$server" | cut -d' ' -f1)
trap 'python3 "$here/tests/imap/dovecot_tls.py" --stop "$server"; [ -n "${KEEP:-}" ] || rm -rf "$work"' EXIT
maildir="$server/mail/tester/Maildir"
owner=$(stat -c %u:%g "$server/mail")

# The account's mail, written as Dovecot keeps it, then read once by Dovecot so that both
# tools find its indexes made.
python3 "$here/bench/make_maildir.py" "$maildir" "$n" >/dev/null
chown -R "$owner" "$server/mail"
python3 - "$port" "$server/ca.pem" <<'PY'
import imaplib, ssl, sys
m = imaplib.IMAP4_SSL("127.0.0.1", int(sys.argv[1]), ssl_context=ssl.create_default_context(cafile=sys.argv[2]))
m.login("tester", "secret")
for box in ("INBOX", "Archive"):
    m.select(box, readonly=True); m.fetch("1:*", "(FLAGS RFC822.SIZE)")
PY

export HOME="$work/home" SSL_CERT_FILE="$server/ca.pem" TINDALE_IMAP_PASSWORD=secret
mkdir -p "$HOME"
"$cli" identity add Bench --imap "imaps://tester@127.0.0.1:$port" >/dev/null 2>&1
cat > "$HOME/.mbsyncrc" <<RC
IMAPAccount bench
Host localhost
Port $port
User tester
Pass secret
SSLType IMAPS
CertificateFile $server/ca.pem

IMAPStore far
Account bench

MaildirStore near
Path $work/near/
Inbox $work/near/INBOX
SubFolders Verbatim

Channel bench
Far :far:
Near :near:
Patterns *
Create Both
SyncState *
RC

empty_account() {
  rm -rf "$maildir"
  mkdir -p "$maildir/cur" "$maildir/new" "$maildir/tmp"
  chown -R "$owner" "$server/mail"
}

bytes=$(du -sb "$maildir" | cut -f1)
echo "IMAP account of $n messages ($((bytes / 1000000)) MB) on a loopback Dovecot with TLS"
printf '%-36s %10s %10s\n' "" "seconds" "peak MiB"
show() { local t=($2); printf '%-36s %10.2f %10s\n' "$1" "${t[0]}" "${t[1]}"; }

show "Tindale backup" "$(elapsed "$cli" backup "$work/a.vqz" --source "Message Store/Bench")"
mkdir -p "$work/near"
show "mbsync pull into a new Maildir" "$(elapsed mbsync -q -a)"
pulled=$(find "$work/near" -type f -path '*/cur/*' -o -type f -path '*/new/*' | wc -l)
[ "$pulled" -eq "$n" ] || { echo "mbsync pulled $pulled messages, not $n"; exit 1; }
got=$("$cli" list "$work/a.vqz" 2>/dev/null | grep -c $'\titem\t')
[ "$got" -eq "$n" ] || { echo "the archive holds $got messages, not $n"; exit 1; }

empty_account
show "Tindale restore into the emptied account" "$(elapsed "$cli" restore "$work/a.vqz" --identity Bench)"
[ -z "${PROFILE:-}" ] || { empty_account; strace -f -c -o "$work/strace.txt" "$cli" restore "$work/a.vqz" --identity Bench >/dev/null 2>&1; head -25 "$work/strace.txt"; empty_account; /usr/bin/time -v "$cli" restore "$work/a.vqz" --identity Bench 2>&1 | grep -E "Elapsed|User time|System time|context"; }
empty_account
find "$work/near" -name '.mbsyncstate*' -delete
find "$work/near" -name '.uidvalidity' -delete
rm -rf "$HOME/.mbsync"
# Messages mbsync pulled carry its ",U=" names; it pushes them again as new ones.
find "$work/near" -type f -path '*/cur/*' -name '*,U=*' | while read -r f; do
  mv "$f" "${f/,U=[0-9]*:/:}"; done
show "mbsync push into the emptied account" "$(elapsed mbsync -q -a)"
pushed=$(find "$maildir" -type f -path '*/cur/*' -o -type f -path '*/new/*' | wc -l)
[ "$pushed" -eq "$n" ] || { echo "mbsync pushed $pushed messages, not $n"; exit 1; }
