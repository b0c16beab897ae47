#!/usr/bin/env bash
# zelk8-batch writing to a disk that fills up: on a small memory file system
# the batch must end with a non-zero status and a message naming a file, and
# leave only whole results: complete crystal folders, no temporary folder or
# file, and either no summary or a whole one.
#
#   tests/batch/full_disk_test.sh ZELK8_BATCH SOURCE_DIR
#
# Exit status 0 passed, 1 failed, 77 skipped (no file system could be mounted).
set -euo pipefail
batch=$(realpath "$1")
source_dir=$(realpath "$2")

scratch=$(mktemp -d "${TMPDIR:-/tmp}/zelk8-full-disk.XXXXXX")
disk=$scratch/disk
mkdir -p "$disk" "$scratch/in"
cleanup() {
  mountpoint -q "$disk" && umount "$disk"
  rm -rf "$scratch"
}
trap cleanup EXIT
# Room for the batch's viewer library (about 540 kB, where the pages are
# built) and about one and a half crystal folders (each about 220 kB, 580 kB
# with its page).
# The pages are built where web/ holds the library.
library=$source_dir/web/node_modules/3dmol/build/3Dmol-min.js
size=340
[[ -e $library ]] && size=$(($(stat -c %s "$library") / 1024 + 880))
if ! mount -t tmpfs -o size=${size}k tmpfs "$disk" 2>"$scratch/mount.log"; then
  echo "SKIPPED: cannot mount a small file system here (needs root): $(cat "$scratch/mount.log")"
  exit 77
fi
cp "$source_dir"/examples/cif/*.cif "$scratch/in/"

status=0
"$batch" "$scratch/in" -o "$disk/out" -j 1 --lattice-radius 0 2>"$scratch/batch.log" || status=$?
cat "$scratch/batch.log"

failed=0
fail() {
  echo "FAILED: $*"
  failed=1
}
[[ $status -ne 0 ]] || fail "exit status 0 on a full disk"
grep -q "$disk/out" "$scratch/batch.log" || fail "no message names a file under $disk/out"
leftovers=$(find "$disk/out" -name '*.tmp-*' | wc -l)
[[ $leftovers -eq 0 ]] || fail "$leftovers temporary files or folders left: $(find "$disk/out" -name '*.tmp-*')"
# Every crystal folder is whole: its result.json, and for an ok crystal the
# report to its lattice sum. A failed one keeps what its tools wrote.
for folder in "$disk"/out/*/; do
  [[ -d $folder ]] || continue
  [[ -s $folder/result.json ]] || fail "no result.json in $folder"
  if grep -q '"status": "ok"' "$folder/result.json"; then
    grep -q 'Etot = ' "$folder/at8.dat" || fail "an ok crystal with a partial report in $folder"
  fi
done
if [[ -e $disk/out/summary.csv ]]; then
  # A summary present is whole: its header and one line per crystal.
  [[ $(wc -l <"$disk/out/summary.csv") -eq 4 ]] || fail "a partial summary.csv"
fi
echo "$(find "$disk/out" -mindepth 1 -maxdepth 1 -type d | wc -l) complete crystal folders, status $status"
exit $failed
