#!/usr/bin/env bash
# The pre-commit hook the README offers, taken from the README itself and run in a scratch
# repository: lists with accented letters out of order, named with a blank and with a
# leading '-', stop the first commit and are put in order, and the commit after it passes.
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
# Names a shell would split or take for an option.
names=("lists/words.txt" "lists/my list.txt" "lists/-x.txt")
for name in "${names[@]}"; do
    printf 'zebra\nécole\nEagle\nfoo_bar\nfoo1\n' > "$name"
done
git add -- "${names[@]}"
if git commit -q -m first 2>/dev/null; then
    echo "the hook let a list out of order through" >&2
    exit 1
fi
varnel check --order=code -- "${names[@]}"
git add -- "${names[@]}"
git commit -q -m first
for name in "${names[@]}"; do
    varnel check -- "$name"
    [ "$(wc -l < "$name")" -eq 5 ]
done
echo "the hook put the lists in order and the next commit passed"
