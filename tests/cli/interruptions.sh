#!/usr/bin/env bash
# Runs interrupted as a person (Ctrl-C, kill) or the system (kill -9) interrupts them:
# an earlier archive survives every kill of a backup over it and the next backup leaves no
# stale partial file; a restore killed mid-run leaves each file old or new, never mixed;
# a duplicate move killed mid-run loses no message; Ctrl-C and kill exit 130 and 143 and
# leave no temporary file.
set -u
cli="$1"
. "$(dirname "$0")/common.sh"
export HOME="$work/ann"
mkdir -p "$HOME/Documents/sub"
# Text that compresses (slowly), so that a compressed backup is still running when killed.
for i in $(seq 1 12); do base64 -w 76 /dev/urandom | head -c 4000000 > "$HOME/Documents/f$i.bin"; done
for i in $(seq 1 200); do printf 'note %s\n' "$i" > "$HOME/Documents/sub/n$i.txt"; done
hidden() { find "$1" -name '.*.partial-*' -o -name '.*.tindale-*' | head -1; }
# Starts a command, kills it with a signal after a delay (seconds), returns its status.
killed_after() {
  local sig=$1 delay=$2; shift 2
  { "$@" >/dev/null 2>&1 & } 2>/dev/null; local pid=$!
  sleep "$delay"; kill "-$sig" "$pid" 2>/dev/null; wait "$pid" 2>/dev/null
}

"$cli" backup "$work/a.vqz" --source "My Documents" >/dev/null || fail "first backup"
sum=$(sha256sum < "$work/a.vqz")
for delay in 0.05 0.15 0.3 0.45 0.6; do
  killed_after KILL "$delay" "$cli" backup "$work/a.vqz" --compress --source "My Documents"
  if [ "$(sha256sum < "$work/a.vqz")" != "$sum" ]; then
    # Only a backup that finished before the kill may have replaced it, with a whole archive.
    "$cli" test "$work/a.vqz" >/dev/null || fail "kill -9 after ${delay}s damaged the earlier archive"
    "$cli" backup "$work/a.vqz" --source "My Documents" >/dev/null; sum=$(sha256sum < "$work/a.vqz")
  fi
done
"$cli" backup "$work/a.vqz" --source "My Documents" >/dev/null || fail "backup after the kills"
[ -z "$(hidden "$work")" ] || fail "a stale partial file was left: $(hidden "$work")"
"$cli" test "$work/a.vqz" >/dev/null || fail "the archive after the kills tests sound"

# Ctrl-C and kill: the job stops, says so, removes its temporaries, and the status tells.
killed_after INT 0.3 "$cli" backup "$work/b.vqz" --compress --source "My Documents"
[ $? -eq 130 ] || fail "Ctrl-C during a backup exits 130"
killed_after TERM 0.3 "$cli" backup "$work/b.vqz" --compress --source "My Documents"
[ $? -eq 143 ] || fail "kill during a backup exits 143"
[ -z "$(hidden "$work")" ] && [ ! -e "$work/b.vqz" ] || fail "an interrupted backup left files"

# A restore over older versions, killed at several points: every file is whole, old or new.
cp -r "$HOME/Documents" "$work/new-docs"
for f in "$HOME"/Documents/f*.bin; do head -c 1000 /dev/zero > "$f"; done
cp -r "$HOME/Documents" "$work/old-docs"
for delay in 0.1 0.3 0.5; do
  killed_after KILL "$delay" "$cli" restore "$work/a.vqz" --item "My Documents" --item "My Documents/sub"
  for f in "$HOME"/Documents/f*.bin; do
    n=$(basename "$f")
    cmp -s "$f" "$work/old-docs/$n" || cmp -s "$f" "$work/new-docs/$n" || fail "$n is neither old nor new after a kill"
  done
done
killed_after INT 0.2 "$cli" restore "$work/a.vqz" --item "My Documents"
status=$?
[ $status -eq 130 ] || [ $status -eq 0 ] || fail "Ctrl-C during a restore exits 130 (got $status)"
"$cli" restore "$work/a.vqz" --item "My Documents" --item "My Documents/sub" >/dev/null || fail "restore after the kills"
[ -z "$(hidden "$HOME/Documents")" ] || fail "a stale temporary was left: $(hidden "$HOME/Documents")"
diff -r "$HOME/Documents" "$work/new-docs" >/dev/null || fail "the documents after a full restore"

# Moving duplicates, killed mid-run: every message is somewhere, at least once.
for d in "$HOME/Maildir" "$HOME/Maildir/.Trash"; do mkdir -p "$d/cur" "$d/new" "$d/tmp"; done
for i in $(seq 1 150); do
  m="Received: from a by b; Mon, 1 Jan 2024 10:00:00 +0000\nSubject: copy $((i % 50))\nMessage-ID: <$((i % 50))@x>\n\nbody $((i % 50))\n"
  printf "$m" > "$HOME/Maildir/cur/$i.x.host:2,S"
done
killed_after KILL 0.15 "$cli" dedupe --move-to "Main Identity/Trash" --folder "Main Identity/Inbox"
for i in $(seq 0 49); do
  grep -rqs "^Subject: copy $i\$" "$HOME/Maildir/cur" "$HOME/Maildir/new" "$HOME/Maildir/.Trash/cur" "$HOME/Maildir/.Trash/new" || fail "message $i was lost"
done
echo "1 passed, 0 failed"
