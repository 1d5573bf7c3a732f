#!/usr/bin/env bash
# Neovim (headless, its built-in language client) with `varnel lsp`, configured by the
# README's Neovim 0.7 snippet exactly as written: neovim_lsp.lua says what must happen.
# Usage: neovim_lsp.sh README.md FOLDER_OF_VARNEL. Status 77 (skipped) without Neovim.
set -euo pipefail
command -v nvim >/dev/null 2>&1 || { echo "nvim is not installed" >&2; exit 77; }
readme=$1
export PATH="$(cd "$2" && pwd):$PATH"
script="$(cd "$(dirname "$0")" && pwd)/neovim_lsp.lua"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

awk '/^Neovim 0\.7/ { found = 1 }
     found && /^```lua$/ { inside = 1; next }
     inside && /^```$/ { exit }
     inside { print }' "$readme" > "$work/snippet.lua"
[ -s "$work/snippet.lua" ] || { echo "no Neovim 0.7 snippet in $readme" >&2; exit 1; }
printf '%s\n' '*.o' '# varnel: sorted' '# editors' '.vscode/' '.idea/' 'build/' '.cache/' \
    '# varnel: end' 'notes.txt' > "$work/gitignore"

# Neovim's state and logs stay in the scratch folder.
export HOME="$work" XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data" \
    XDG_STATE_HOME="$work/state" XDG_CACHE_HOME="$work/cache"
export VARNEL_SNIPPET="$work/snippet.lua" VARNEL_LIST="$work/gitignore"
cd "$work"
timeout 40 nvim --headless --clean -c "luafile $script" </dev/null
