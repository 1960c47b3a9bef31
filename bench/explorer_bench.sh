#!/usr/bin/env bash
# The Explorer on a large archive, from one run: a Maildir of N messages (half in the Inbox,
# half in "Archive") backed up sealed and compressed, then opened in the Explorer's window
# (offscreen): the time to open it and its peak memory, then opening one of its folders of
# N/2 messages. Anchor in the same run: `tindale-cli list` (the same record headers, read
# and printed).
# Usage: bench/explorer_bench.sh [messages]   (default 1000000)
set -euo pipefail
cd "$(dirname "$0")/.."
n=${1:-1000000}
scripts/build >/dev/null
work=$(mktemp -d /tmp/tindale-explorerbench-XXXXXX)
trap 'rm -rf "$work"' EXIT
unset XDG_DATA_HOME XDG_CONFIG_HOME TINDALE_REGISTRY
export TINDALE_PASSWORD=bench
cli="$PWD/build/src/cli/tindale-cli"
open="$PWD/build/bench/explorer_open_bench"
python3 bench/make_maildir.py "$work/home/Maildir" "$n"
HOME="$work/home" "$cli" backup "$work/m.vqz" --compress --encrypt --source "Message Store" >/dev/null
rm -rf "$work/home"
printf '%d messages, archive %s MB\n' "$n" "$(( $(stat -c %s "$work/m.vqz") / 1000000 ))"
sync
/usr/bin/time -f '%e s, peak %M KB' -o "$work/time" "$cli" list "$work/m.vqz" >/dev/null 2>&1
printf '%-44s %s\n' "tindale-cli list (anchor)" "$(cat "$work/time")"
/usr/bin/time -f '%e s, peak %M KB' -o "$work/time" "$open" "$work/m.vqz" >"$work/out"
printf '%-44s %s; %s\n' "Explorer: open" "$(cat "$work/time")" "$(head -1 "$work/out")"
/usr/bin/time -f '%e s, peak %M KB' -o "$work/time" "$open" "$work/m.vqz" --open-largest >"$work/out"
printf '%-44s %s; %s\n' "Explorer: open, then a folder of N/2" "$(cat "$work/time")" "$(tail -1 "$work/out")"
