#!/usr/bin/env bash
# Backs up and restores the Message Store alone at two sizes and prints, from one run, the
# time per message at each size and the ratio to tar on the same Maildir: backup against
# `tar cf`, restore against `tar x` followed by `sync`. Linear cost shows as an equal time
# per message at both sizes.
# Usage: bench/mail_bench.sh [small] [large]   (default 4000 16000 messages)
set -euo pipefail
cd "$(dirname "$0")/.."
sizes=("${1:-4000}" "${2:-16000}")
scripts/build >/dev/null
cli="$PWD/build/src/cli/tindale-cli"
work=$(mktemp -d /tmp/tindale-mailbench-XXXXXX)
trap 'rm -rf "$work"' EXIT
unset XDG_DATA_HOME XDG_CONFIG_HOME TINDALE_REGISTRY

seconds() {  # command... -> elapsed seconds on stdout
  local start end
  start=$(date +%s%N)
  "$@" >/dev/null 2>&1
  end=$(date +%s%N)
  awk -v ns=$((end - start)) 'BEGIN { printf "%.3f", ns / 1e9 }'
}

printf '%-9s %-8s %9s %11s %9s %7s\n' messages job seconds "ms/message" anchor ratio
for n in "${sizes[@]}"; do
  src="$work/src-$n" dst="$work/dst-$n"
  mkdir -p "$src" "$dst"
  python3 bench/make_maildir.py "$src/Maildir" "$n"
  sync
  backup=$(HOME="$src" seconds "$cli" backup "$work/m-$n.vqz" --source "Message Store")
  tar_c=$(seconds tar cf "$work/m-$n.tar" -C "$src" Maildir)
  HOME="$dst" "$cli" identity add Restored --store "$dst/Maildir" >/dev/null
  sync
  restore=$(HOME="$dst" seconds "$cli" restore "$work/m-$n.vqz" --identity Restored)
  mkdir -p "$work/untar-$n"
  tar_x=$(seconds sh -c "tar xf '$work/m-$n.tar' -C '$work/untar-$n' && sync")
  restored=$(find "$dst/Maildir" \( -path '*/new/*' -o -path '*/cur/*' \) -type f | wc -l)
  [ "$restored" -eq "$n" ] || { echo "restored $restored of $n messages" >&2; exit 1; }
  for row in "backup $backup $tar_c tar-cf" "restore $restore $tar_x tar-x+sync"; do
    read -r job secs anchor anchor_name <<<"$row"
    awk -v n="$n" -v j="$job" -v s="$secs" -v a="$anchor" -v an="$anchor_name" \
      'BEGIN { printf "%-9d %-8s %9.2f %11.4f %9.2f %6.1fx  (%s)\n", n, j, s, s*1000/n, a, s/a, an }'
  done
  rm -rf "$src" "$dst" "$work/untar-$n" "$work/m-$n.tar" "$work/m-$n.vqz"
done
