#!/usr/bin/env bash
# Checks the GitHub Actions workflows, which cannot run here: every file in
# .github/workflows is validated against the workflow schema by action-validator, and
# the scripts they call get a shell syntax check. A broken workflow is also fed to the
# validator first, to prove that it rejects one.
#
# Installs what is missing: Node.js and npm (scripts/install-deps.sh lint) and the
# action-validator packages at a pinned version, into build-lint/.
set -euo pipefail
cd "$(dirname "$0")/.."

readonly version=0.6.0
readonly tools="$PWD/build-lint"
readonly validator="$tools/node_modules/.bin/action-validator"

scripts/install-deps.sh lint
installed=$(node -p "require('$tools/node_modules/@action-validator/cli/package.json').version" 2>/dev/null || true)
if [[ ! -x "$validator" || "$installed" != "$version" ]]; then
  echo "lint-workflows.sh: installing action-validator $version into $tools" >&2
  npm install --prefix "$tools" --no-save --no-audit --no-fund --loglevel=error \
    "@action-validator/core@$version" "@action-validator/cli@$version" >&2
fi

broken=$(mktemp --suffix=.yml)
trap 'rm -f "$broken"' EXIT
printf 'name: broken\non: push\njobs:\n  build:\n    steps:\n      - run: true\n' >"$broken"  # no runs-on
if "$validator" "$broken" >/dev/null 2>&1; then
  echo "lint-workflows.sh: action-validator accepted a workflow without runs-on" >&2
  exit 1
fi

passed=0
failed=0
for workflow in .github/workflows/*.yml .github/workflows/*.yaml; do
  [[ -e "$workflow" ]] || continue
  if "$validator" "$workflow"; then
    echo "lint-workflows.sh: $workflow is valid" >&2
    passed=$((passed + 1))
  else
    echo "lint-workflows.sh: $workflow is NOT valid" >&2
    failed=$((failed + 1))
  fi
done
for script in $(grep -ho 'scripts/[A-Za-z0-9_-]*\.sh' .github/workflows/* | sort -u); do
  if bash -n "$script"; then
    passed=$((passed + 1))
  else
    echo "lint-workflows.sh: $script has a syntax error" >&2
    failed=$((failed + 1))
  fi
done

echo "workflows: $passed passed, $failed failed"
((failed == 0 && passed > 0))
