#!/usr/bin/env bash
# Every file of tests/data has its line in MANIFEST.tsv (origin and licence),
# and every line names a file that is there.
set -euo pipefail
cd "$(dirname "$0")/data"
if ! diff <(find . -type f ! -name MANIFEST.tsv ! -name README.md | sed 's|^\./||' | LC_ALL=C sort) \
          <(tail -n +2 MANIFEST.tsv | cut -f1 | LC_ALL=C sort); then
  echo "tests/data and its MANIFEST.tsv differ: '<' a file without a line, '>' a line without a file" >&2
  exit 1
fi
