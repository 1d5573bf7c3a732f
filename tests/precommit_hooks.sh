#!/usr/bin/env bash
# The hooks of .pre-commit-hooks.yaml, run by the pre-commit framework itself over a scratch
# repository whose lists are named with a leading '-' and with a blank: the framework hands
# every file to one call, so one name taken for an option would fail them all. The hooks
# are copied as local hooks, which needs no network.
# Usage: precommit_hooks.sh .pre-commit-hooks.yaml FOLDER_OF_VARNEL
set -euo pipefail
hooks=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
export PATH="$(cd "$2" && pwd):$PATH"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Nothing written outside the scratch folder: the framework keeps a cache and a log.
export HOME=$work/home XDG_CACHE_HOME=$work/cache PRE_COMMIT_HOME=$work/pre-commit
mkdir -p "$HOME" "$work/repo"
cd "$work/repo"
git init -q .
git config user.email test@example.com
git config user.name Test
python3 - "$hooks" > .pre-commit-config.yaml <<'EOF'
import sys, yaml
hooks = yaml.safe_load(open(sys.argv[1]))
for hook in hooks:
    # As a user names the lists, and the files with sorted blocks among other lines.
    hook["files"] = r"\.cfg$" if hook["id"].endswith("-blocks") else r"\.txt$"
print(yaml.safe_dump({"repos": [{"repo": "local", "hooks": hooks}]}))
EOF
names=("-x.txt" "my list.txt" "--help.txt")
for name in "${names[@]}"; do
    printf 'zebra\nécole\nEagle\n' > "./$name"
done
printf '[deps]\n# varnel: sorted\nzlib\nAlpha\n# varnel: end\nzz\na\n' > deps.cfg
git add -- .pre-commit-config.yaml "${names[@]}" deps.cfg

if pre-commit run --all-files > "$work/first.log" 2>&1; then
    cat "$work/first.log" >&2
    echo "the hooks let lists out of order through" >&2
    exit 1
fi
for name in "${names[@]}"; do
    # The check named the list, and the sort put it in order.
    grep -qF -- "$name:2: \"école\" sorts after" "$work/first.log" || {
        cat "$work/first.log" >&2
        echo "the check did not name $name" >&2
        exit 1
    }
    [ "$(cat -- "$name")" = "$(printf 'Eagle\nzebra\nécole')" ] || {
        echo "the sort did not put $name in order" >&2
        exit 1
    }
done
# Only the block moved.
grep -qF 'deps.cfg:3: "zlib" sorts after "Alpha" on line 4' "$work/first.log" &&
    [ "$(cat deps.cfg)" = "$(printf '[deps]\n# varnel: sorted\nAlpha\nzlib\n# varnel: end\nzz\na')" ] || {
    cat "$work/first.log" deps.cfg >&2
    echo "the block hooks did not check and sort the block alone" >&2
    exit 1
}
git add -- "${names[@]}" deps.cfg
pre-commit run --all-files > "$work/second.log" 2>&1 || {
    cat "$work/second.log" >&2
    echo "the hooks failed on lists in order" >&2
    exit 1
}
echo "the hooks checked and sorted every list, whatever its name, and the block alone"
