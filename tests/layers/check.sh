#!/usr/bin/env bash
# The folders' arrows are a build fact: a file of serial/ that includes protocol/ does not
# build, while one that includes what serial/ may use does.
#   check.sh <build dir>
set -u
build=$1
if ! out=$(cmake --build "$build" --target layers_allowed 2>&1); then
  echo "$out"
  echo "FAIL: an include serial/ may use did not build" >&2
  exit 1
fi
if out=$(cmake --build "$build" --target layers_forbidden 2>&1); then
  echo "FAIL: serial/ included protocol/ and it built" >&2
  exit 1
fi
if ! grep -q 'protocol/frames.h: No such file' <<<"$out"; then
  echo "$out"
  echo "FAIL: the forbidden include failed for another reason" >&2
  exit 1
fi
echo "serial/ may not include protocol/: the build refuses it"
# The programs never link the test harness.
for program in padcom padsim; do
  link=$build/CMakeFiles/$program.dir/link.txt
  if [ ! -f "$link" ] || grep -q 'testkit' "$link"; then
    echo "FAIL: $program links the test harness (or its link line is missing)" >&2
    exit 1
  fi
done
echo "padcom and padsim do not link testkit"
