#!/usr/bin/env bash
# zelk8-batch on a real Slurm: a one-node cluster (scripts/slurm-local), a
# two-task job array of shards and a collect job that depends on it; the
# collected summary must be the one of a local, unsharded run.
#
#   tests/batch/slurm_test.sh ZELK8_BATCH SOURCE_DIR
#
# Exit status 0 passed, 1 failed, 77 skipped (no cluster could be started).
set -euo pipefail
batch=$(realpath "$1")
source_dir=$(realpath "$2")
skip=77

scratch=$(mktemp -d "${TMPDIR:-/tmp}/zelk8-slurm-test.XXXXXX")
cluster=$scratch/cluster
chmod 755 "$scratch"  # munged, as user munge, must reach its socket inside
cleanup() {
  "$source_dir/scripts/slurm-local" stop "$cluster" || true
  rm -rf "$scratch"
}
trap cleanup EXIT

if ! "$source_dir/scripts/slurm-local" start "$cluster" >"$scratch/start.log" 2>&1; then
  echo "SKIPPED: no Slurm cluster could be started on this machine:"
  cat "$scratch/start.log"
  exit $skip
fi
export SLURM_CONF=$cluster/slurm.conf

mkdir -p "$scratch/in"
cp "$source_dir"/examples/cif/*.cif "$scratch/in/"
echo "data_broken" >"$scratch/in/broken.cif"
options=(--lattice-radius 12)

# The job array script of the README, two shards.
cat >"$scratch/shards.sh" <<EOF
#!/bin/sh
#SBATCH --array=1-2
#SBATCH --output=$scratch/shard-%a.log
exec "$batch" "$scratch/in" -o "$scratch/cluster-out" ${options[*]} --shard \$SLURM_ARRAY_TASK_ID/2
EOF
cat >"$scratch/collect.sh" <<EOF
#!/bin/sh
#SBATCH --output=$scratch/collect.log
exec "$batch" -o "$scratch/cluster-out" --collect
EOF

array=$(sbatch --parsable -D "$scratch" "$scratch/shards.sh")
# The collect job runs after both shards, whatever their exit status.
collect_status=0
timeout 150 sbatch --wait -D "$scratch" --dependency="afterany:${array%%;*}" "$scratch/collect.sh" \
  >"$scratch/collect.submit" 2>&1 || collect_status=$?

local_status=0
"$batch" "$scratch/in" -o "$scratch/local-out" "${options[@]}" 2>"$scratch/local.log" ||
  local_status=$?

failed=0
check() {
  if ! eval "$1"; then
    echo "FAILED: $2"
    failed=1
  fi
}
for log in "$scratch"/shard-*.log "$scratch/collect.log" "$scratch/local.log"; do
  [[ -f $log ]] && { echo "--- $(basename "$log")"; cat "$log"; }
done
check '[[ -f $scratch/cluster-out/summary.csv ]]' "the collect job wrote no summary"
# sbatch --wait gives the job's exit status: 1 (one broken CIF) for both runs.
check '[[ $collect_status -eq 1 && $local_status -eq 1 ]]' \
  "exit status: collect $collect_status, local $local_status (1 expected for one broken CIF)"
# Identical apart from the seconds each crystal took (the last column).
strip() { sed 's/,[^,]*$//' "$1"; }
if [[ -f $scratch/cluster-out/summary.csv ]]; then
  check 'diff <(strip "$scratch/local-out/summary.csv") <(strip "$scratch/cluster-out/summary.csv")' \
    "the collected summary differs from the local one"
  check '[[ $(wc -l <"$scratch/cluster-out/summary.csv") -eq 5 ]]' "not 4 crystals in the summary"
  cat "$scratch/cluster-out/summary.csv"
fi
exit $failed
