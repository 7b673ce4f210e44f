#!/bin/sh
# Runs a built splinefit on every case below this folder and keeps its outputs as the expected
# files:   tests/golden/make_expected.sh <path to splinefit>
# For each <case>/input/ it runs the program in a scratch copy (standard input from /dev/null) and
# keeps in <case>/expected/ every file the run created (data/set.res, data/set.fit, data/set-1.dat
# with an envelope, Control.plt), the console text as console.txt and any warnings as stderr.txt.
set -eu
exe=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
here=$(cd "$(dirname "$0")" && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
for case_dir in "$here"/*/; do
  work="$scratch/$(basename "$case_dir")"
  cp -R "$case_dir/input" "$work"
  rm -rf "$case_dir/expected" && mkdir -p "$case_dir/expected/data"
  (cd "$work" && "$exe" </dev/null >"$case_dir/expected/console.txt" 2>"$scratch/stderr.txt")
  [ -s "$scratch/stderr.txt" ] && cp "$scratch/stderr.txt" "$case_dir/expected/stderr.txt"
  for f in data/set.res data/set.fit data/set-1.dat Control.plt; do
    [ -f "$work/$f" ] && cp "$work/$f" "$case_dir/expected/$f"
  done
done
