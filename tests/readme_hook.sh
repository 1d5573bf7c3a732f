#!/usr/bin/env bash
# The pre-commit hook the README offers, taken from the README itself and run in a scratch
# repository: a list with accented letters out of order stops the first commit and is put
# in order, and the commit after it passes.
# Usage: readme_hook.sh README.md FOLDER_OF_VARNEL
set -euo pipefail
readme=$1
export PATH="$(cd "$2" && pwd):$PATH"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

hook=$(awk '/^A pre-commit hook|pre-commit hook \(`.git\/hooks\/pre-commit`/ { found = 1 }
            found && /^```sh$/ { inside = 1; next }
            inside && /^```$/ { exit }
            inside { print }' "$readme")
[ -n "$hook" ] || { echo "no hook found in $readme" >&2; exit 1; }

cd "$work"
git init -q .
git config user.email test@example.com
git config user.name Test
printf '%s\n' "$hook" > .git/hooks/pre-commit
chmod +x .git/hooks/pre-commit
mkdir lists
printf 'zebra\nécole\nEagle\nfoo_bar\nfoo1\n' > lists/words.txt
git add lists/words.txt
if git commit -q -m first 2>/dev/null; then
    echo "the hook let a list out of order through" >&2
    exit 1
fi
varnel check --order=code lists/words.txt
git add lists/words.txt
git commit -q -m first
varnel check lists/words.txt
[ "$(wc -l < lists/words.txt)" -eq 5 ]
echo "the hook put the list in order and the next commit passed"
