#!/usr/bin/env bash
# The format check: the C++ lines a change touched, against .clang-format.
# Only changed lines are checked (git clang-format), so older code is
# reformatted when someone edits it, not all at once.
#
#   tools/check-format.sh [--fix] [BASE]      (make format-check, make format)
#
# BASE is what the change is compared with: by default the merge base with
# main on a branch, and the previous commit on main itself (CI, on a fresh
# clone, checks the commit it was given; a merge commit against its first
# parent). A clone with a single commit has nothing to compare: skipped.
# Uncommitted changes to tracked files count as changed. --fix rewrites the
# lines instead of failing.
set -euo pipefail
cd "$(dirname "$0")/.."

fix=""
if [ "${1:-}" = --fix ]; then
  fix=1
  shift
fi
base=${1:-}

if ! git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  echo "format check: skipped (not a git work tree)"
  exit 0
fi
if [ -z "$base" ]; then
  head=$(git rev-parse HEAD)
  for ref in origin/main main; do
    git rev-parse -q --verify "$ref^{commit}" >/dev/null || continue
    merge_base=$(git merge-base HEAD "$ref" 2>/dev/null) || continue
    if [ "$merge_base" != "$head" ]; then
      base=$merge_base
      break
    fi
  done
  if [ -z "$base" ]; then
    if ! git rev-parse -q --verify 'HEAD~1^{commit}' >/dev/null; then
      echo "format check: skipped (a single commit: nothing to compare with)"
      exit 0
    fi
    base=HEAD~1
  fi
fi

command -v git-clang-format >/dev/null || command -v clang-format >/dev/null || {
  echo "format check: clang-format is missing (make format-check installs it)" >&2
  exit 1
}

echo "format check: the lines changed since $(git rev-parse --short "$base")"
if [ -n "$fix" ]; then
  git clang-format --force --extensions cpp,h,hpp "$base"
  exit 0
fi
# Older git-clang-format exits 0 whatever it finds: the diff tells.
out=$(git clang-format --diff --extensions cpp,h,hpp "$base")
echo "$out"
if grep -q '^diff --git' <<<"$out"; then
  echo "format check: the lines above differ from .clang-format: run 'make format'" \
    "(hand-laid data goes between // clang-format off and on)" >&2
  exit 1
fi
