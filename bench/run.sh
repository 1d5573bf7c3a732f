#!/usr/bin/env bash
# Benchmarks Varnel's real commands on generated lists and a generated folder tree, next to
# the tools a user would otherwise reach for, and prints one table with the ratios.
#
# Usage: bench/run.sh [SIZES...]     (default: 10000 100000 1000000; at scale:
#        bench/run.sh 1000000 10000000)
# Sizes from 5,000,000 lines on are run twice, Varnel and the peers alike: three runs of ten
# million lines take many minutes, and one run can catch a stall of the machine's own
# (fresh memory at that size now and then takes seconds to come).
# Environment: BENCH_DIR (scratch folder, default /tmp/varnel-bench), BENCH_TREE_FILES
# (default 100000), BENCH_TREE_FOLDERS (default 1000).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh

sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(10000 100000 1000000)
work=${BENCH_DIR:-/tmp/varnel-bench}
tree_files=${BENCH_TREE_FILES:-100000}
tree_folders=${BENCH_TREE_FOLDERS:-1000}
make_lines=../shared/bench/make_lines.py
# From a worktree beside the main one, the shared folder is one further up.
[ -f "$make_lines" ] || make_lines=../../shared/bench/make_lines.py

# GNU sort's case-folding order needs a real UTF-8 locale to compare with.
if ! locale -a 2>/dev/null | grep -qi '^en_US\.utf-\?8$'; then
    varnel_ensure_packages locales
    sed -i 's/^# *en_US.UTF-8 UTF-8/en_US.UTF-8 UTF-8/' /etc/locale.gen
    locale-gen en_US.UTF-8 >/dev/null
fi
varnel_ensure_packages python3 findutils bc
[ -x build/bin/varnel-bench ] || varnel_build build
cmake --build build -j"$(nproc)" --target varnel-bench varnel varnel_lsp_timing varnel_office_timing >/dev/null

mkdir -p "$work"
now() { date +%s.%N; }
# Best of `tries` wall times of a shell command, in seconds.
tries=3
best_of_3() {
    local best="" start end t
    for _ in $(seq "$tries"); do
        start=$(now)
        bash -c "$1" >/dev/null 2>&1 || true
        end=$(now)
        t=$(echo "$end - $start" | bc -l)
        if [ -z "$best" ] || [ "$(echo "$t < $best" | bc -l)" = 1 ]; then best=$t; fi
    done
    printf '%.4f' "$best"
}
value() { awk -v k="$1" '$1 == k { print $2 }' "$2"; }
# Peak resident memory of a shell command's processes, in MiB.
peak_mib() {
    python3 -c 'import resource, subprocess, sys
subprocess.run(["bash", "-c", sys.argv[1]], stdout=subprocess.DEVNULL)
print("%.1f" % (resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss / 1024))' "$1"
}
ratio() { [ -n "$1" ] && [ -n "$2" ] && echo "$1 $2" | awk '{ if ($2 > 0) printf "%.2f", $1 / $2; else print "-" }' || echo "-"; }

tree="$work/tree-$tree_files"
if [ ! -d "$tree" ]; then
    echo "Making a tree of $tree_files files in $tree_folders folders..." >&2
    python3 bench/make_tree.py "$tree.tmp" "$tree_files" "$tree_folders" && mv "$tree.tmp" "$tree"
fi

rows=()
row() { rows+=("$(printf '%-9s | %-34s | %10s | %-22s | %10s | %7s | %s' "$@")"); }

for n in "${sizes[@]}"; do
    file="$work/lines-$n.txt"
    [ -f "$file" ] || python3 "$make_lines" "$n" 1 --out "$file"
    bytes=$(stat -c %s "$file")
    out="$work/varnel-$n.out"
    # The export against a real office, once, at the largest size, where one is installed.
    export_arg=()
    [ "$n" = "${sizes[-1]}" ] && command -v soffice >/dev/null &&
        export_arg=(--export --export-lines "$work/exported-$n.txt")
    tries=3
    [ "$n" -lt 5000000 ] || tries=2
    # Best of `tries`, like the peers: the least time of each figure, the most memory.
    runs=()
    for run in $(seq "$tries"); do
        QT_QPA_PLATFORM=offscreen build/bin/varnel-bench --file "$file" --save "$work/saved-$n.txt" \
            "${export_arg[@]}" >"$out.$run"
        export_arg=()
        runs+=("$out.$run")
    done
    awk '{ if (!($1 in v) || ($1 ~ /rss/ ? $2 > v[$1] : $2 < v[$1])) v[$1] = $2 }
         END { for (k in v) print k, v[k] }' "${runs[@]}" >"$out"

    awk_s=$(best_of_3 "awk 'NR>1 && tolower(p) > tolower(\$0) {print p} {p=\$0}' '$file'")
    sort_s=$(best_of_3 "LC_ALL=en_US.UTF-8 sort -f '$file'")
    sortc_s=$(best_of_3 "LC_ALL=en_US.UTF-8 sort -c '$file'")
    cat_s=$(best_of_3 "cat '$file' > /dev/null")

    load=$(value load_s "$out"); extract=$(value extract_s "$out")
    load_extract=$(echo "$load + $extract" | bc -l)
    label="${n} lines"
    row "$label" "load + extract" "$(printf '%.4f' "$load_extract")" "awk one-liner" "$awk_s" \
        "$(ratio "$load_extract" "$awk_s")" "<= 0.4x awk"
    row "$label" "  load alone" "$load" "cat > /dev/null" "$cat_s" "$(ratio "$load" "$cat_s")" \
        "<= 4x cat"
    row "$label" "  extract alone" "$extract" "sort -c" "$sortc_s" "$(ratio "$extract" "$sortc_s")" ""
    row "$label" "show correct order" "$(value order_s "$out")" "sort -f (en_US.UTF-8)" "$sort_s" \
        "$(ratio "$(value order_s "$out")" "$sort_s")" "<= 0.25x sort -f"
    row "$label" "save results ($(value results "$out"))" "$(value save_s "$out")" "" "" "" "<= 0.3 s"
    row "$label" "save all lines (sorted)" "$(value save_all_s "$out")" "" "" "" ""
    row "$label" "copy results" "$(value copy_s "$out")" "" "" "" "<= 0.3 s"
    for g in load extract save save_all copy order undo marks paint find; do
        row "$label" "longest gap: $g" "$(value ${g}_gap_s "$out")" "" "" "" "<= 0.050 s"
    done
    if [ -n "$(value export_gap_s "$out")" ]; then
        row "$label" "export ($(value exported "$out") results)" "$(value export_s "$out")" "" "" "" ""
        # The same results opened by the office as a CSV file with a text column, started the
        # same way.
        csv_s=$(value csv_open_s <(build/bin/varnel_office_timing --csv "$work/exported-$n.txt"))
        row "$label" "office opens the results as CSV" "$(value export_s "$out")" "office CSV open" \
            "$csv_s" "$(ratio "$(value export_s "$out")" "$csv_s")" "<= 1.2x office CSV"
        row "$label" "longest gap: export" "$(value export_gap_s "$out")" "" "" "" "<= 0.050 s"
    fi
    row "$label" "select result: its line shown" "$(value select_result_s "$out")" "" "" "" \
        "<= 0.016 s"
    link=$(value link_bytes "$out")
    row "$label" "link bytes per result" "$link" "entry bytes per result" \
        "$(value entry_bytes_result "$out")" "$(ratio "$link" "$(value entry_bytes_result "$out")")" \
        "<= 8 bytes"
    row "$label" "link bytes per input line" "$link" "entry bytes per line" \
        "$(value entry_bytes_input "$out")" "$(ratio "$link" "$(value entry_bytes_input "$out")")" \
        "<= 4 bytes"
    rss=$(value peak_rss_mib "$out")
    file_mib=$(echo "$bytes / 1048576" | bc -l)
    rss_goal="<= 3.0x file"
    [ "$n" -lt 10000000 ] || rss_goal="<= 2.0x file"
    row "$label" "peak resident MiB" "$rss" "file size MiB" "$(printf '%.1f' "$file_mib")" \
        "$(ratio "$rss" "$file_mib")" "$rss_goal"
    row "$label" "start to window shown" "$(value startup_s "$out")" "" "" "" "<= 0.300 s"
    check_s=$(best_of_3 "build/bin/varnel check --lines '$file'")
    row "$label" "varnel check --lines" "$check_s" "awk one-liner" "$awk_s" \
        "$(ratio "$check_s" "$awk_s")" "<= 0.2x awk"
    check_locale_s=$(best_of_3 "LC_ALL=en_US.UTF-8 build/bin/varnel check --order=locale '$file'")
    row "$label" "varnel check --order=locale" "$check_locale_s" "awk one-liner" "$awk_s" \
        "$(ratio "$check_locale_s" "$awk_s")" ""
    check_sarif_s=$(best_of_3 "build/bin/varnel check --format=sarif '$file'")
    row "$label" "varnel check --format=sarif" "$check_sarif_s" "awk one-liner" "$awk_s" \
        "$(ratio "$check_sarif_s" "$awk_s")" ""
    # The same lines as one marked block, and without a marker at all.
    block_file="$work/block-$n.txt"
    [ -f "$block_file" ] || { echo "# varnel: sorted"; cat "$file"; } >"$block_file"
    check_block_s=$(best_of_3 "build/bin/varnel check --blocks --lines '$block_file'")
    row "$label" "check --blocks, one block" "$check_block_s" "varnel check --lines" "$check_s" \
        "$(ratio "$check_block_s" "$check_s")" "<= 1.2x check"
    check_unmarked_s=$(best_of_3 "build/bin/varnel check --blocks --lines '$file'")
    row "$label" "check --blocks, no marker" "$check_unmarked_s" "cat > /dev/null" "$cat_s" \
        "$(ratio "$check_unmarked_s" "$cat_s")" ""
    sort_code_s=$(best_of_3 "LC_ALL=C build/bin/varnel sort --order=code '$file'")
    sort_c_s=$(best_of_3 "LC_ALL=C sort -f '$file'")
    row "$label" "varnel sort --order=code" "$sort_code_s" "sort -f (C)" "$sort_c_s" \
        "$(ratio "$sort_code_s" "$sort_c_s")" "<= 0.5x sort -f"
    varnel_sort_s=$(best_of_3 "LC_ALL=en_US.UTF-8 build/bin/varnel sort '$file'")
    row "$label" "varnel sort" "$varnel_sort_s" "sort -f (en_US.UTF-8)" "$sort_s" \
        "$(ratio "$varnel_sort_s" "$sort_s")" "<= 0.25x sort -f"
    lsp_s=$(value lsp_change_s <(build/bin/varnel_lsp_timing build/bin/varnel "$n"))
    row "$label" "varnel lsp: change to diagnostics" "$lsp_s" "" "" "" "<= 0.2 s at 1M"
    if [ "$n" = "${sizes[-1]}" ]; then
        # Through a pipe, so nothing tells the size in advance.
        copies=4
        stream_mib=$(echo "$copies * $bytes / 1048576" | bc -l)
        check_mib=$(peak_mib "for i in \$(seq $copies); do cat '$file'; done | build/bin/varnel check --lines")
        row "$label" "check peak MiB, $copies copies piped" "$check_mib" "stream MiB" \
            "$(printf '%.1f' "$stream_mib")" "" "<= 32 MiB"
    fi
done

# The drop into a fresh window, best of three like its peer, which reads the tree warm too.
find "$tree" >/dev/null
out="$work/varnel-tree.out"
runs=()
for run in 1 2 3; do
    QT_QPA_PLATFORM=offscreen build/bin/varnel-bench --tree "$tree" >"$out.$run"
    runs+=("$out.$run")
done
awk '{ if (!($1 in v) || $2 < v[$1]) v[$1] = $2 } END { for (k in v) print k, v[k] }' \
    "${runs[@]}" >"$out"
tries=3
find_s=$(best_of_3 "find '$tree' > /dev/null")
row "tree" "drop of $tree_files files" "$(value drop_s "$out")" "find" "$find_s" \
    "$(ratio "$(value drop_s "$out")" "$find_s")" "<= 1.5x find"
row "tree" "longest gap: folder walk" "$(value drop_gap_s "$out")" "" "" "" "<= 0.050 s"
row "tree" "paths added" "$(value dropped "$out")" "" "" "" ""

printf '%-9s | %-34s | %10s | %-22s | %10s | %7s | %s\n' size figure varnel peer peer ratio target
printf '%s\n' "${rows[@]}"
