#!/usr/bin/env bash
# A small file system that fills up: registering an identity, backing up and restoring onto
# it fail with a message and a non-zero exit, and leave no partial file behind. Needs a
# tmpfs mount (root); exit 77 (skipped) where that is not allowed.
set -u
cli="$1"
work=$(mktemp -d)
disk="$work/disk"
mkdir -p "$disk"
if ! mount -t tmpfs -o size=2m tmpfs "$disk" 2>/dev/null; then
  rmdir "$disk"; rm -rf "$work"; echo "cannot mount a small file system here"; exit 77
fi
trap 'umount "$disk"; rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }
unset XDG_DATA_HOME XDG_CONFIG_HOME TINDALE_PASSWORD
export HOME="$work/home"
mkdir -p "$HOME/Documents"
head -c 3000000 /dev/urandom > "$HOME/Documents/big.bin"
printf 'small' > "$HOME/Documents/small.txt"

# Backup onto the full disk: an error, exit 1, no partial archive.
"$cli" backup "$disk/b.vqz" --source "My Documents" > "$work/out.txt" 2>&1 && fail "a backup that cannot fit succeeded"
ls -A "$disk" | grep -q . && fail "a partial archive was left: $(ls -A "$disk")"

# A registry on the full disk: identity add says so and stores nothing.
export TINDALE_REGISTRY="$disk/registry.db"
"$cli" identity list >/dev/null 2>&1
head -c 10000000 /dev/zero > "$disk/filler" 2>/dev/null
"$cli" identity add Work --store "$HOME/Mail" > "$work/add.txt" 2>&1 && fail "identity add on a full disk exits 0: $(cat "$work/add.txt")"
rm -f "$disk/filler"
"$cli" identity list | grep -q Work && fail "a half-added identity is listed"
unset TINDALE_REGISTRY

# Restore onto the full disk: the files that do not fit are named, nothing half-written.
"$cli" backup "$work/a.vqz" --source "My Documents" >/dev/null || fail "backup"
mkdir -p "$disk/home/Documents"
export HOME="$disk/home"
"$cli" restore "$work/a.vqz" > "$work/restore.txt" 2>&1 && fail "a restore that cannot fit succeeded"
grep -q "big.bin" "$work/restore.txt" || { cat "$work/restore.txt"; fail "the file that did not fit is named"; }
[ -e "$HOME/Documents/big.bin" ] && fail "a partial big.bin is visible"
ls -A "$HOME/Documents" | grep -q tindale && fail "temporary files were left behind"
[ "$(cat "$HOME/Documents/small.txt" 2>/dev/null)" = small ] || fail "the file that fits was restored"
echo "1 passed, 0 failed"
