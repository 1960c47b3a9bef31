#!/usr/bin/env bash
# How near a sealed, compressed archive comes to compressing the same home as one stream,
# from one run: a home of 3 000 messages shaped like a person's mail, 60 MB of documents and
# one 20 MB file (bench/make_corpus.py). Rows: `tar c | zstd -3 -T2` (the limit at the same
# speed), `tar c | zstd -19 --long -T2` (for the record), Tindale sealed and compressed, and,
# with OLD_CLI set to an earlier build's tindale-cli, the same archive as that build writes
# it. Backup and restore times (restore: into an empty folder, synced), archive sizes, peak
# memory; the key derivation alone (a sealed backup of an empty folder) is a row of its own.
# Usage: bench/compression_bench.sh [messages docs-mb big-mb]   (default 3000 60 20)
set -euo pipefail
cd "$(dirname "$0")/.."
command -v zstd >/dev/null || { apt-get update -qq && apt-get install -y -qq zstd >/dev/null; }
scripts/build >/dev/null
work=$(mktemp -d /tmp/tindale-compression-XXXXXX)
trap 'rm -rf "$work"' EXIT
cli="$PWD/build/src/cli/tindale-cli"
home="$work/home"
unset XDG_DATA_HOME XDG_CONFIG_HOME TINDALE_REGISTRY
export TINDALE_PASSWORD=bench
python3 bench/make_corpus.py "$home" --messages "${1:-3000}" --docs-mb "${2:-60}" --big-mb "${3:-20}"
sync
printf 'home: %s bytes in %s files\n\n' "$(du -sb "$home" | cut -f1)" "$(find "$home" -type f | wc -l)"
. bench/table.sh
header run
stream() {  # label, compressor command
  rm -rf "$work/out"; mkdir -p "$work/out"
  local b r
  b=$(elapsed sh -c "tar c -C '$home' Documents Maildir | $2 > '$work/t.tar.zst'")
  r=$(elapsed sh -c "zstd -dc --long=31 '$work/t.tar.zst' | tar x -C '$work/out' && sync")
  row "$1" "$b" "$(stat -c %s "$work/t.tar.zst")" "$r"
}
tindale() {  # label, cli
  rm -rf "$work/out" "$work/t.vqz"; mkdir -p "$work/out"
  local b r
  b=$(elapsed env HOME="$home" "$2" backup "$work/t.vqz" --compress --encrypt \
    --source "My Documents" --source "Message Store")
  env HOME="$work/out" "$2" identity add Main --store "$work/out/Maildir" >/dev/null
  r=$(elapsed bash -c "HOME='$work/out' '$2' restore '$work/t.vqz' --identity Main && sync")
  row "$1" "$b" "$(stat -c %s "$work/t.vqz")" "$r"
  local n; n=$(find "$work/out" -type f -path '*/cur/*' | wc -l)
  [ "$n" -eq "$(find "$home/Maildir" -type f | wc -l)" ] ||
    { echo "the restore holds $n messages" >&2; exit 1; }
}
stream "tar c | zstd -3 -T2" "zstd -3 -T2 -q"
stream "tar c | zstd -19 --long -T2" "zstd -19 --long -T2 -q"
tindale "Tindale --compress --encrypt" "$cli"
[ -n "${OLD_CLI:-}" ] && tindale "the same, earlier build" "$OLD_CLI"
mkdir -p "$home/Contacts"
k=$(elapsed env HOME="$home" "$cli" backup "$work/k.vqz" --encrypt --source Contacts)
printf '%-40s %9.2f\n' "  of which the key derivation (Argon2id)" "${k%% *}"
# Reading one message back: the archive's dictionary and the message's own piece, no more.
first=$("$cli" list "$work/t.vqz" 2>/dev/null | awk -F'\t' '$1 ~ /^Message Store\// && $2 == "item" { print $1; exit }' || true)
if [ -n "$first" ]; then printf '%-40s %9s\n' "  one message by cat, peak MiB" \
  "$(elapsed "$cli" cat "$work/t.vqz" "$first" | cut -d' ' -f2)"
fi
