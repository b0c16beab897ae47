#!/bin/sh
# Every tool ends with status 3 when its output cannot be written (here: the
# output is named by a folder), and its message names the output.
# Arguments: the source folder, then the build's tools as NAME=PATH, the
# program zelk8 first (its run is the report the companions read).
set -u
source_dir=$1
shift
work=${TEST_TMPDIR:-/tmp}/unwritable-output.$$
rm -rf "$work"
mkdir -p "$work"
trap 'rm -rf "$work"' EXIT
failures=0

# expect_3 NAME DIR OUTPUT COMMAND...: runs COMMAND in DIR, wants status 3
# and OUTPUT named on standard error.
expect_3() {
  name=$1
  dir=$2
  output=$3
  shift 3
  (cd "$dir" && "$@") >"$work/$name.out" 2>"$work/$name.err"
  status=$?
  if [ "$status" -ne 3 ] || ! grep -q "$output" "$work/$name.err"; then
    echo "$name: status $status, wanted 3 and a message naming $output:" >&2
    cat "$work/$name.err" >&2
    failures=$((failures + 1))
  fi
}

anthracene=$source_dir/examples/anthracene
run=$work/run
mkdir -p "$run"
cp "$anthracene/zelk8.dat" "$run/"
(cd "$run" && "${1#zelk8=}") || { echo "zelk8 did not run the example" >&2; exit 1; }
for tool in "$@"; do
  name=${tool%%=*}
  path=${tool#*=}
  dir=$work/$name
  mkdir -p "$dir/out.folder"
  case $name in
    zelk8)
      cp "$anthracene/zelk8.dat" "$dir/"
      mkdir "$dir/at8.dat"
      expect_3 "$name" "$dir" at8.dat "$path" ;;
    zelk8-prep)
      expect_3 "$name" "$dir" out.folder "$path" "$source_dir/examples/cif/anthracene.cif" \
        -o out.folder ;;
    zelk8-map)
      expect_3 "$name" "$dir" out.folder "$path" "$run/at8.dat" -o out.folder ;;
    zelk8-view)
      expect_3 "$name" "$dir" out.folder "$path" "$run" -o out.folder ;;
    zelk8-batch)
      mkdir -p "$dir/results/summary.csv"
      expect_3 "$name" "$dir" summary.csv "$path" "$source_dir/examples/cif/anthracene.cif" -o results \
        --no-map --lattice-radius 0 ;;
    zelk8-fit)
      mkdir -p "$dir/data/cif"
      printf 'name,formula,class,lattice_energy_kJ_per_mol\nammonia,NH3,small,-37.2\n' \
        >"$dir/data/reference.csv"
      cp "$source_dir/tests/fit/x23/cif/ammonia.cif" "$dir/data/cif/"
      expect_3 "$name" "$dir" out.folder "$path" data --model mm3 -o out.folder ;;
    *)
      echo "unknown tool $name" >&2
      failures=$((failures + 1)) ;;
  esac
done
[ "$failures" -eq 0 ]
