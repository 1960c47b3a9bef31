#!/usr/bin/env bash
# Tindale against the tools a person would pick instead, from one run on one home: 100 MB of
# documents (half text, half already compressed), a 50 MB disk image (mostly empty), 5 000
# messages. First full backup (time, size on disk) and full restore into an empty folder
# (time, synced) of: Tindale sealed+compressed, sealed only, compressed (LZMA); restic
# (zstd, encrypted); borg with lz4, zstd,3 and lzma,6 (repokey); with each run's peak
# resident memory; and the limit, `tar c | zstd -3 -T2` (and `-19 --long`) of the same home.
# Installs restic, borgbackup and zstd from Debian here, not in scripts/setup.
# Usage: bench/peers.sh
set -euo pipefail
cd "$(dirname "$0")/.."
command -v restic >/dev/null && command -v borg >/dev/null && command -v zstd >/dev/null ||
  { apt-get update -qq && apt-get install -y -qq restic borgbackup zstd >/dev/null; }
scripts/build >/dev/null
work=$(mktemp -d /tmp/tindale-peers-XXXXXX)
trap 'rm -rf "$work"' EXIT
cp build/src/cli/tindale-cli "$work/"
cli="$work/tindale-cli"
home="$work/home"
unset XDG_DATA_HOME XDG_CONFIG_HOME TINDALE_REGISTRY
export TINDALE_PASSWORD=bench RESTIC_PASSWORD=bench BORG_PASSPHRASE=bench
python3 - "$home" <<'PY'
import os, random, sys
home = sys.argv[1]
rng = random.Random(7)
docs = os.path.join(home, "Documents")
words = "mail report meeting invoice holiday draft budget notes garden travel".split()
for i in range(100):
    d = os.path.join(docs, f"folder{i % 10}")
    os.makedirs(d, exist_ok=True)
    if i % 2:
        data = rng.randbytes(1_000_000)  # photos, archives: already compressed
    else:
        data = " ".join(rng.choice(words) for _ in range(180_000)).encode()[:1_000_000]
    open(os.path.join(d, f"file{i}.{'bin' if i % 2 else 'txt'}"), "wb").write(data)
image = bytearray(50_000_000)
for at in range(0, len(image), 1_000_000):
    image[at:at + 100_000] = rng.randbytes(100_000)
open(os.path.join(docs, "disk.img"), "wb").write(image)
PY
python3 bench/make_maildir.py "$home/Maildir" 5000
sync
. bench/table.sh
header tool
size() { du -sb "$1" | cut -f1; }
tindale() {  # label, backup flags
  local label=$1; shift
  rm -rf "$work/t.vqz" "$work/restore"
  mkdir -p "$work/restore"
  local b r
  b=$(elapsed env HOME="$home" "$cli" backup "$work/t.vqz" --source "My Documents" --source "Message Store" "$@")
  env HOME="$work/restore" "$cli" identity add Main --store "$work/restore/Maildir" >/dev/null
  r=$(elapsed bash -c "HOME='$work/restore' '$cli' restore '$work/t.vqz' --identity Main && sync")
  row "Tindale $label" "$b" "$(size "$work/t.vqz")" "$r"
  check "$work/restore"
}
check() {  # every file came back: 101 documents and 5 000 messages
  local n
  n=$(find "$1" -type f \( -path '*/Documents/*' -o -path '*/cur/*' -o -path '*/new/*' \) | wc -l)
  [ "$n" -eq 5101 ] || { echo "the restore holds $n files, not 5101" >&2; exit 1; }
}
tindale "--compress --encrypt (sealed)" --compress --encrypt
tindale "--encrypt (sealed)" --encrypt
tindale "--compress (LZMA)" --compress
tindale "--compress --quick (LZMA, quicker)" --compress --quick
rm -rf "$work/restic" "$work/restore"
restic init -q -r "$work/restic" >/dev/null
b=$(elapsed restic -q -r "$work/restic" backup "$home/Documents" "$home/Maildir")
r=$(elapsed bash -c "restic -q -r '$work/restic' restore latest --target '$work/restore' && sync")
row "restic (zstd auto, encrypted)" "$b" "$(size "$work/restic")" "$r"
check "$work/restore"
for c in lz4 zstd,3 lzma,6; do
  rm -rf "$work/borg" "$work/restore"
  mkdir -p "$work/restore"
  borg init -e repokey "$work/borg" >/dev/null 2>&1
  b=$(elapsed borg create -C "$c" "$work/borg::a" "$home/Documents" "$home/Maildir")
  r=$(elapsed bash -c "cd '$work/restore' && borg extract '$work/borg::a' && sync")
  row "borg -C $c (repokey)" "$b" "$(size "$work/borg")" "$r"
  check "$work/restore"
done
# The limit on the same data: one stream, compressed as a whole (no encryption, no random
# access), at zstd's default level on two threads, and at its strongest with a long window.
for c in "-3 -T2" "-19 --long -T2"; do
  rm -rf "$work/restore"
  mkdir -p "$work/restore"
  b=$(elapsed sh -c "tar c -C '$home' Documents Maildir | zstd $c -q > '$work/t.tar.zst'")
  r=$(elapsed sh -c "zstd -dc --long=31 '$work/t.tar.zst' | tar x -C '$work/restore' && sync")
  row "tar c | zstd $c" "$b" "$(size "$work/t.tar.zst")" "$r"
  check "$work/restore"
done
# The key derivation (Argon2id) of a sealed backup, the same for any home: its share of the
# sealed rows above.
mkdir -p "$home/Contacts"
k=$(elapsed env HOME="$home" "$cli" backup "$work/k.vqz" --encrypt --source Contacts)
printf '%-44s %9.2f\n' "  the key derivation alone (Tindale sealed)" "${k%% *}"
