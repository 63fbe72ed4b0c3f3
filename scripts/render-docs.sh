#!/usr/bin/env bash
# Renders the diagrams of docs/ from their Graphviz sources: every docs/*.dot becomes the
# .svg beside it, which the pages show and which is committed with its source. Installs
# Graphviz when it is missing (scripts/install-deps.sh docs).
#
# Usage: scripts/render-docs.sh
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh docs

rendered=0
for source in docs/*.dot; do
  [[ -e "$source" ]] || continue
  dot -Tsvg "$source" -o "${source%.dot}.svg"
  echo "render-docs.sh: ${source%.dot}.svg" >&2
  rendered=$((rendered + 1))
done
if ((rendered == 0)); then
  echo "render-docs.sh: no diagram source in docs/" >&2
  exit 1
fi
