#!/bin/sh
# Runs a built splinefit on every golden case and stores its outputs as the expected files:
#   tests/golden/make_expected.sh <path to splinefit>
# For each tests/golden/<case>/input/ it runs the program in a scratch copy of that directory
# (standard input from /dev/null) and keeps, in tests/golden/<case>/expected/, every file the run
# created (data/set.res, data/set-1.dat when there is an envelope, Control.plt) and the console
# text as console.txt. A run that fails (status not 0, or anything on standard error) stops it.
set -eu
exe=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
here=$(cd "$(dirname "$0")" && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
for case_dir in "$here"/*/; do
  [ -d "$case_dir/input" ] || continue
  work="$scratch/$(basename "$case_dir")"
  cp -R "$case_dir/input" "$work"
  (cd "$work" && "$exe" </dev/null >"$scratch/console.txt" 2>"$scratch/stderr.txt")
  if [ -s "$scratch/stderr.txt" ]; then cat "$scratch/stderr.txt" >&2; exit 1; fi
  rm -rf "$case_dir/expected"
  mkdir -p "$case_dir/expected/data"
  for f in data/set.res data/set-1.dat Control.plt; do
    if [ -f "$work/$f" ]; then cp "$work/$f" "$case_dir/expected/$f"; fi
  done
  cp "$scratch/console.txt" "$case_dir/expected/console.txt"
  echo "$(basename "$case_dir"): $(tr '\n' ' ' <"$scratch/console.txt")"
done
