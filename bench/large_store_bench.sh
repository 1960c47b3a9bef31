#!/usr/bin/env bash
# Time and peak memory of every mail job on one large store, from one run: backup, list,
# test, restore into a new home, the same restore again (which must add nothing), and the
# duplicate search. Anchors in the same run: `tar cf` of the store and `tar xf` of that tar.
# Prints peak resident size per message, which must not grow with the store.
# Usage: bench/large_store_bench.sh [messages...]   (default 100000)
set -euo pipefail
cd "$(dirname "$0")/.."
sizes=("${@:-100000}")
scripts/build >/dev/null
work=$(mktemp -d /tmp/tindale-largebench-XXXXXX)
trap 'rm -rf "$work"' EXIT
cp build/src/cli/tindale-cli "$work/"  # a rebuild meanwhile does not change what is measured
cli="$work/tindale-cli"
unset XDG_DATA_HOME XDG_CONFIG_HOME TINDALE_REGISTRY

measure() {  # label messages command... -> one table row
  local label=$1 n=$2; shift 2
  /usr/bin/time -f "%e %M" -o "$work/time" "$@" >/dev/null 2>"$work/err" || true
  read -r secs kb < <(tail -1 "$work/time")
  awk -v n="$n" -v j="$label" -v s="$secs" -v kb="$kb" \
    'BEGIN { printf "%-9d %-14s %9.2f %9.1f %9.1f\n", n, j, s, kb/1024, kb*1024/n }'
}

printf '%-9s %-14s %9s %9s %9s\n' messages job seconds "peak MB" "B/message"
for n in "${sizes[@]}"; do
  src="$work/src" dst="$work/dst"
  mkdir -p "$src" "$dst"
  python3 bench/make_maildir.py "$src/Maildir" "$n"
  sync
  measure backup "$n" env HOME="$src" "$cli" backup "$work/m.vqz" --source "Message Store"
  measure "(tar cf)" "$n" tar cf "$work/m.tar" -C "$src" Maildir
  measure list "$n" "$cli" list "$work/m.vqz"
  measure test "$n" "$cli" test "$work/m.vqz"
  HOME="$dst" "$cli" identity add Restored --store "$dst/Maildir" >/dev/null
  measure restore "$n" env HOME="$dst" "$cli" restore "$work/m.vqz" --identity Restored
  mkdir -p "$work/untar"
  measure "(tar xf)" "$n" tar xf "$work/m.tar" -C "$work/untar"
  measure restore-again "$n" env HOME="$dst" "$cli" restore "$work/m.vqz" --identity Restored
  restored=$(find "$dst/Maildir" \( -path '*/new/*' -o -path '*/cur/*' \) -type f | wc -l)
  [ "$restored" -eq "$n" ] || { echo "the store holds $restored messages, not $n" >&2; exit 1; }
  measure dedupe "$n" env HOME="$src" "$cli" dedupe --dry-run
  rm -rf "$src" "$dst" "$work/untar" "$work/m.tar" "$work/m.vqz"
done
