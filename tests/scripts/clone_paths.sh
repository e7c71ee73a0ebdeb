#!/usr/bin/env bash
# Checks that the format check and the analysis depend on nothing but the repository itself: a
# copy of the working tree placed under build/clone-paths/control/donglecensus with space/
# donglecensus (folders named like the program's own, and a space), with an unformatted build
# tree inside it, passes both, run from another folder, twice.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
base="$root/build/clone-paths"
dest="$base/control/donglecensus with space/donglecensus"
rm -rf "$base"
mkdir -p "$dest"
(cd "$root" && git ls-files -z --cached --others --exclude-standard |
  while IFS= read -r -d '' f; do [ -f "$f" ] && printf '%s\0' "$f"; done |
  tar --null -T - -cf -) | tar -xf - -C "$dest"
git -C "$dest" init -q
git -C "$dest" add -A
# What a build by hand leaves: generated sources that no formatter should read.
mkdir -p "$dest/out/CMakeFiles/3.25.1/CompilerIdCXX"
printf 'int   main( ){return 0 ;}\n' >"$dest/out/CMakeFiles/3.25.1/CompilerIdCXX/CMakeCXXCompilerId.cpp"

cd /
for run in 1 2; do
  echo "--- run $run in $dest"
  "$dest/tools/format-check"
  "$dest/tools/analyse"
done
rm -rf "$base"
echo "1 passed, 0 failed"
