#!/usr/bin/env bash
# Runs the three sample runs of examples/ on a copy of the sample study area and lists the
# files each run wrote, with their sizes. examples/ itself is never written.
# Usage: examples/demo.sh BINARY SCRATCH_FOLDER
set -euo pipefail

binary=$(realpath "$1")
scratch=$2
examples=$(cd "$(dirname "$0")" && pwd)

rm -rf "$scratch"
mkdir -p "$scratch"
scratch=$(realpath "$scratch")

status_all=0
for lang in en fr es; do
  run="$scratch/$lang"
  mkdir -p "$run"
  cp -R "$examples/zone1" "$run/zone1"
  # The answers name the user disk "." and the folder zone1: the run works in $run/zone1.
  set +e
  (cd "$run" && "$binary" <"$examples/answers_$lang.txt" >console.txt)
  status=$?
  set -e
  echo
  echo "== answers_$lang.txt: exit status $status, console text in ${run#"$PWD"/}/console.txt"
  [ "$status" -eq 0 ] || status_all=1
  echo "   files written in ${run#"$PWD"/}/zone1:"
  # A file was written by the run when the sample area has no such file or another content.
  (cd "$run/zone1" && for f in *; do
    if [ ! -e "$examples/zone1/$f" ] || ! cmp -s "$f" "$examples/zone1/$f"; then
      printf '   %10d  %s\n' "$(stat -c %s "$f")" "$f"
    fi
  done)
done
echo
exit "$status_all"
