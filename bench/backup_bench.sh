#!/usr/bin/env bash
# Backs up a generated corpus with each compress/encrypt setting and prints, from one run,
# throughput, size ratio and peak memory next to tar and tar|xz on the same corpus.
# Usage: bench/backup_bench.sh [corpus-size-in-MiB]   (default 256)
set -euo pipefail
cd "$(dirname "$0")/.."
size_mb=${1:-256}
scripts/build >/dev/null
cli="$PWD/build/src/cli/tindale-cli"
work=$(mktemp -d /tmp/tindale-bench-XXXXXX)
trap 'rm -rf "$work"' EXIT
export HOME="$work/home"
unset XDG_DATA_HOME XDG_CONFIG_HOME TINDALE_REGISTRY
python3 bench/make_corpus.py "$HOME" "$size_mb"
corpus_bytes=$(du -sb "$HOME/Documents" | cut -f1)
printf 'corpus: %s bytes in %s files\n\n' "$corpus_bytes" "$(find "$HOME/Documents" -type f | wc -l)"
printf '%-28s %10s %10s %10s %12s\n' "run" "seconds" "MB/s" "ratio" "peak RSS MB"

measure() {  # label, output file, command...
  local label=$1 out=$2; shift 2
  sync  # each run starts with nothing of the previous one still being written back
  /usr/bin/time -f '%e %M' -o "$work/time" "$@" >/dev/null 2>&1
  read -r secs rss < "$work/time"
  local bytes; bytes=$(stat -c %s "$out")
  awk -v l="$label" -v s="$secs" -v b="$bytes" -v c="$corpus_bytes" -v r="$rss" \
    'BEGIN { printf "%-28s %10.2f %10.1f %10.3f %12.1f\n", l, s, c/1e6/(s>0?s:0.01), b/c, r/1024 }'
}

export TINDALE_PASSWORD=benchmark
measure "tindale plain" "$work/p.vqz" "$cli" backup "$work/p.vqz" --source "My Documents"
measure "tindale compress" "$work/c.vqz" "$cli" backup "$work/c.vqz" --compress --source "My Documents"
measure "tindale compress 1 thread" "$work/c1.vqz" "$cli" backup "$work/c1.vqz" --compress --threads 1 --source "My Documents"
measure "tindale compress --quick" "$work/cq.vqz" "$cli" backup "$work/cq.vqz" --compress --quick --source "My Documents"
measure "tindale sealed" "$work/e.vqz" "$cli" backup "$work/e.vqz" --encrypt --source "My Documents"
measure "tindale sealed, 1 thread" "$work/e1.vqz" "$cli" backup "$work/e1.vqz" --encrypt --threads 1 --source "My Documents"
sealed_one=$(cut -d' ' -f1 "$work/time")
measure "tindale compress+sealed" "$work/ce.vqz" "$cli" backup "$work/ce.vqz" --compress --encrypt --source "My Documents"
measure "tindale legacy DES" "$work/l.vqz" "$cli" backup "$work/l.vqz" --legacy-encryption --source "My Documents"
measure "tindale compress+legacy" "$work/cl.vqz" "$cli" backup "$work/cl.vqz" --compress --legacy-encryption --source "My Documents"
# The key from the password (Argon2id) costs the same for any size: shown on its own.
mkdir -p "$HOME/Contacts"
measure "sealed, empty source" "$work/k.vqz" "$cli" backup "$work/k.vqz" --encrypt --source "Contacts"
key_only=$(cut -d' ' -f1 "$work/time")
awk -v s="$sealed_one" -v k="$key_only" -v c="$corpus_bytes" \
  'BEGIN { printf "%-28s %10.2f %10.1f   (sealed, 1 thread, less the fixed key derivation)\n", "  per byte", s-k, c/1e6/((s-k)>0?(s-k):0.01) }'
measure "tar cf" "$work/t.tar" tar cf "$work/t.tar" -C "$HOME" Documents
measure "tar c | xz -6" "$work/t.tar.xz" sh -c "tar c -C '$HOME' Documents | xz -6 -T1 > '$work/t.tar.xz'"
measure "tar c | xz -6 -T2" "$work/t2.tar.xz" sh -c "tar c -C '$HOME' Documents | xz -6 -T2 > '$work/t2.tar.xz'"

# Each side of the store-or-compress decision on its own: text only, incompressible only.
# Reading: restoring and testing the compressed archive next to unpacking the same files.
seconds() { local s e; s=$(date +%s%N); "$@" >/dev/null 2>&1; e=$(date +%s%N); awk -v n=$((e - s)) 'BEGIN { printf "%.2f", n / 1e9 }'; }
median() { printf '%s\n' "$@" | sort -n | sed -n "$(( ($# + 1) / 2 ))p"; }
# Each reader runs five times (READ_RUNS to change), alternating, into a new folder of the
# same file system; the median is shown. Nothing is deleted until all runs are done: an ext4
# without a journal passes over inodes freed in the last 30 seconds when it makes a file, so a run that follows
# a large deletion pays for it, whichever program it is. File system noise is large on a
# shared disk, so the same runs are also made in memory (/dev/shm) where it is present.
reading() {  # folder for the restored files
  local base=$1 r=() t=() u=() d=()
  for i in $(seq "${READ_RUNS:-5}"); do
    mkdir -p "$base/r$i" "$base/u$i" "$base/d$i"; sync
    r+=("$(HOME="$base/r$i" seconds "$cli" restore "$work/c.vqz")")
    t+=("$(seconds "$cli" test "$work/c.vqz")")
    sync
    u+=("$(seconds sh -c "xz -dc -T2 '$work/t2.tar.xz' | tar x -C '$base/u$i'")")
    sync
    d+=("$(seconds sh -c "xz -dc -T2 '$work/t2.tar.xz' | tar x -C '$base/d$i' && sync")")
  done
  for i in $(seq "${READ_RUNS:-5}"); do rm -rf "$base/r$i" "$base/u$i" "$base/d$i"; done
  printf 'restore of the compressed archive %s s, test %s s; xz -dc -T2 | tar x %s s (%s, median of %s)\n' \
    "$(median "${r[@]}")" "$(median "${t[@]}")" "$(median "${u[@]}")" "$2" "${#r[@]}"
  # The restore returns only once every file is on the disk; tar leaves that to write-back.
  printf '  the same unpacking followed by sync, as durable as the restore: %s s\n' "$(median "${d[@]}")"
}
echo
reading "$work" "disk"
if [ -d /dev/shm ] && [ -w /dev/shm ]; then
  shm=$(mktemp -d /dev/shm/tindale-bench-XXXXXX)
  reading "$shm" "memory"
  rm -rf "$shm"
fi
peak_mb() { /usr/bin/time -f '%M' -o "$work/peak" "$@" >/dev/null 2>&1; awk '{ printf "%.1f", $1 / 1024 }' "$work/peak"; }
mkdir -p "$work/r3"
printf 'peak RSS: restore %s MB, test %s MB\n\n' "$(HOME="$work/r3" peak_mb "$cli" restore "$work/c.vqz")" \
  "$(peak_mb "$cli" test "$work/c.vqz")"
all_bytes=$corpus_bytes
for part in text binary; do
  corpus_bytes=$(du -sb "$HOME/Documents/$part" | cut -f1)  # ratios of this part alone
  measure "compress, $part only" "$work/$part.vqz" "$cli" backup "$work/$part.vqz" --compress --source "My Documents/$part"
  measure "tar c | xz -6 -T2, $part only" "$work/$part.tar.xz" sh -c "tar c -C '$HOME/Documents' $part | xz -6 -T2 > '$work/$part.tar.xz'"
done
corpus_bytes=$all_bytes
# Instance GUIDs are fresh in every run, so only the sizes can be compared here; the tests
# compare parallel and one-thread archives byte for byte.
[ "$(stat -c %s "$work/c.vqz")" = "$(stat -c %s "$work/c1.vqz")" ] && echo "parallel and one-thread archives have the same size"

# Memory stays bounded whatever a payload's size: one large file, compressed.
rm -rf "$HOME/Documents"/*
truncate -s "${LARGE_MB:-1024}M" "$HOME/Documents/large.img"
measure "one ${LARGE_MB:-1024} MiB file, compress" "$work/big.vqz" "$cli" backup "$work/big.vqz" --compress --source "My Documents"
