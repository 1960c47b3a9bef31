# Shared by the benches that print one table row per tool: sourced, with $work set.
# The wall time and the peak resident memory (MiB) of the largest process a command ran.
elapsed() {
  sync  # nothing an earlier step wrote is still being written back during this one
  /usr/bin/time -f '%e %M' -o "$work/time" "$@" >/dev/null 2>&1
  awk '{ printf "%s %.0f", $1, $2 / 1024 }' "$work/time"
}
header() {
  printf '%-44s %9s %10s %9s %10s %11s\n' "$1" "backup s" "size MB" "restore s" "backup MiB" "restore MiB"
}
row() {  # label, "backup-seconds backup-MiB", bytes, "restore-seconds restore-MiB"
  local b=($2) r=($4)
  printf '%-44s %9.2f %10.2f %9.2f %10s %11s\n' "$1" "${b[0]}" "$(echo "$3 / 1000000" | bc -l)" \
    "${r[0]}" "${b[1]}" "${r[1]}"
}
