#!/bin/sh
# Benchmarks, soak and mutation run (not part of tools/test.sh or CI):
#   1. metadata: our container analysis and text conversions against libmobi
#      (native, one process), on the fixture books and a large built book;
#      then text: the text reader's plain text of large built books (PalmDOC,
#      HUFF/CDIC) against libmobi's decompression, its peak heap on a
#      50 MB book over a 1 MB one, and its peak heap on a crafted 16 MB
#      HUFF/CDIC book of CDIC records of entry offsets alone (goal 32 MiB);
#   2. thumbnail: GetThumbnail(256) through the module against the same
#      imaging work with no handler, then the thumbnail of a 6000 x 9000
#      JPEG cover, its time and peak private bytes through Wine's decoder
#      and through one of the tests' own that scales by itself (under
#      Wine, one process);
#   2b. preview: DoPreview to drawn and the peak private bytes on a built
#      book with a 6000 x 9000 JPEG cover (above a small book's), beside
#      the thumbnail of the same cover at 256, and the peak of the cover
#      decode alone through Wine's decoder and through one of the tests'
#      own that scales by itself (under Wine, one process);
#   3. folder: `quirebinder properties --json --recursive` over a built
#      library of books (under Wine);
#   4. concurrency soak: eight apartments sending requests while a ninth
#      thread unloads the module (under Wine, one process);
#   5. soak: thumbnail, property and property-page cycles in one process;
#   6. mutation run: mutated fixture books through every request of the
#      module, in batches of processes that survive crashes and hangs; a
#      crash whose texts also crash a bare EDIT control without the module
#      counts as the host's;
#   7. the concurrency soak and the soak again against the 32-bit module in
#      a 32-bit prefix, their figures with the suffix _32 (where 32-bit
#      programs run; else one line says why not).
# Ratios are measured side by side in one run. The soak and the mutation
# run time nothing and run at the same time (the Wine programs mostly wait
# on the wineserver and the display). The last lines are the key=value
# results. Environment: SOAK_CYCLES (20000), SOAK_TRACE_CYCLES (2000),
# SOAK_PAGE_EVERY (10: a property sheet on every tenth cycle),
# MUTATION_INPUTS (10000), MUTATION_SEED (1), MUTATION_WORKERS (2),
# FOLDER_BOOKS (2000), CONCURRENCY_REQUESTS (requests per thread, 5000),
# CONCURRENCY_ROUNDS (10).
set -eu
cd "$(dirname "$0")/.."
./tools/bootstrap.sh --bench

SOAK_CYCLES=${SOAK_CYCLES:-20000}
SOAK_TRACE_CYCLES=${SOAK_TRACE_CYCLES:-2000}
SOAK_PAGE_EVERY=${SOAK_PAGE_EVERY:-10}
MUTATION_INPUTS=${MUTATION_INPUTS:-10000}
MUTATION_SEED=${MUTATION_SEED:-1}
MUTATION_WORKERS=${MUTATION_WORKERS:-2}
FOLDER_BOOKS=${FOLDER_BOOKS:-2000}
CONCURRENCY_REQUESTS=${CONCURRENCY_REQUESTS:-5000}
CONCURRENCY_ROUNDS=${CONCURRENCY_ROUNDS:-10}

results=build/bench/results.txt
mkdir -p build/bench
: >"$results"
# Shows a step's output (in file $1) and keeps its key=value lines for the end.
report() {
    grep -v '^[a-z0-9_]*=' "$1" || true
    grep '^[a-z0-9_]*=' "$1" >>"$results" || true
}
# Runs a step and reports it.
step() {
    "$@" >build/bench/step.txt 2>&1 || { cat build/bench/step.txt; echo "bench: '$*' failed" >&2; exit 1; }
    report build/bench/step.txt
}

echo "== build"
cmake -S tests/bench/native -B build/bench-native -G Ninja -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build build/bench-native
cmake --preset x64 >/dev/null
cmake --build --preset x64 --target quirebinder qb_propsys_all qb_host_wine qb_thumbnail_bench qb_soak qb_mutate \
    qb_bare_edit qb_concurrency qb_preview_bench qb_text_cost_bench

echo "== machine"
echo "$(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), $(awk '/MemTotal/ {printf "%.0f GiB", $2 / 1048576}' /proc/meminfo), $(/usr/lib/wine/wine64 --version 2>/dev/null || echo wine)"

echo "== metadata against libmobi (native)"
step build/bench-native/qb_metadata_bench

echo "== text against libmobi (native)"
step build/bench-native/qb_text_bench

# One display and one wineserver for the Windows programs.
export WINEPREFIX="$(pwd)/build/x64/wineprefix"
display=:$(( ($$ % 400) + 500 ))
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
cleanup() {
    WINEPREFIX="$WINEPREFIX" /usr/lib/wine/wineserver -k >/dev/null 2>&1 || true
    WINEPREFIX="$(pwd)/build/x86/wineprefix" /usr/lib/wine/wineserver -k >/dev/null 2>&1 || true
    [ -z "${soak:-}" ] || kill "$soak" 2>/dev/null || true
    kill "$xvfb" 2>/dev/null || true
}
trap cleanup EXIT INT TERM
export DISPLAY="$display"
build/x64/wine-run.sh cmd /c exit 0 >/dev/null 2>&1 </dev/null || true

echo "== crafted books' text and preview reading in the Windows build (Wine)"
step build/x64/wine-run.sh build/x64/bin/qb_text_cost_bench.exe

echo "== a book with a 6000 x 9000 cover"
step build/x64/wine-run.sh build/x64/bin/qb_preview_bench.exe make build/bench/huge-cover.mobi

echo "== thumbnail against the imaging floor, and of a 6000 x 9000 cover (Wine)"
step build/x64/wine-run.sh build/x64/bin/qb_thumbnail_bench.exe build/bench/huge-cover.mobi

echo "== preview of a book with a 6000 x 9000 cover (Wine)"
step build/x64/wine-run.sh build/x64/bin/qb_preview_bench.exe build/bench/huge-cover.mobi \
    tests/data/books/cafe-noir.mobi

echo "== folder listing (Wine)"
step python3 tools/folder_bench.py --runner build/x64/wine-run.sh --host build/x64/host-wine/quirebinder.exe \
    --dll build/x64/host-wine/quirebinder64.dll --make-library build/bench-native/qb_make_library \
    --books "$FOLDER_BOOKS" --work build/bench/folder
rm -rf build/bench/folder/library

echo "== concurrency soak (Wine)"
step build/x64/wine-run.sh build/x64/bin/qb_concurrency.exe "$CONCURRENCY_REQUESTS" "$CONCURRENCY_ROUNDS"

build/x64/wine-run.sh build/x64/bin/qb_soak.exe "$SOAK_CYCLES" "$SOAK_TRACE_CYCLES" "$SOAK_PAGE_EVERY" \
    >build/bench/soak.txt 2>&1 </dev/null &
soak=$!

echo "== mutation run (Wine, while the soak runs)"
rm -rf build/bench/mutation
step python3 tools/mutation_run.py --runner build/x64/wine-run.sh --exe build/x64/bin/qb_mutate.exe \
    --bare-exe build/x64/bin/qb_bare_edit.exe \
    --inputs "$MUTATION_INPUTS" --seed "$MUTATION_SEED" --workers "$MUTATION_WORKERS" \
    --work build/bench/mutation

echo "== soak (Wine)"
wait "$soak" || { cat build/bench/soak.txt; echo "bench: the soak failed" >&2; exit 1; }
report build/bench/soak.txt

# The 32-bit module: the same soaks, their keys with the suffix _32.
bench32() {
    "$@" >build/bench/step.txt 2>&1 </dev/null ||
        { cat build/bench/step.txt; echo "bench: '$*' failed" >&2; exit 1; }
    sed 's/^\([a-z0-9_]*\)=/\1_32=/' build/bench/step.txt >build/bench/step32.txt
    report build/bench/step32.txt
}
if not_run=$(./tools/can_run_32bit.sh); then
    cmake --preset x86 >/dev/null
    cmake --build --preset x86 --target quirebinder qb_propsys_all qb_soak qb_concurrency
    build/x86/wine-run.sh cmd /c exit 0 >/dev/null 2>&1 </dev/null || true
    echo "== concurrency soak, 32-bit module (Wine, 32-bit prefix)"
    bench32 build/x86/wine-run.sh build/x86/bin/qb_concurrency.exe "$CONCURRENCY_REQUESTS" \
        "$CONCURRENCY_ROUNDS"
    echo "== soak, 32-bit module (Wine, 32-bit prefix)"
    bench32 build/x86/wine-run.sh build/x86/bin/qb_soak.exe "$SOAK_CYCLES" "$SOAK_TRACE_CYCLES" \
        "$SOAK_PAGE_EVERY"
else
    echo "== the 32-bit soaks were not run: $not_run"
fi

echo "== results"
for key in metadata_speedup_vs_libmobi metadata_bytes_read_percent \
           text_speedup_vs_libmobi_palmdoc text_speedup_vs_libmobi_huffcdic text_peak_heap_ratio \
           text_crafted_huffcdic_peak_heap_mib text_crafted_worst_per_byte_ratio \
           text_crafted_worst_per_byte_ratio_module \
           thumbnail_cost_vs_floor thumbnail_huge_cover_ms_wine thumbnail_huge_cover_peak_mb_wine \
           thumbnail_huge_cover_ms_scaling thumbnail_huge_cover_peak_mb_scaling \
           preview_huge_cover_ms preview_huge_cover_peak_mb thumbnail_huge_cover_ms \
           thumbnail_huge_cover_peak_mb preview_time_vs_thumbnail \
           cover_decode_peak_mb_wine cover_decode_peak_mb_scaling \
           folder_books_per_second folder_bytes_read_percent \
           concurrency_threads concurrency_requests concurrency_failures concurrency_torn_log_lines \
           concurrency_torn_log_lines_bare concurrency_reinitialisations \
           soak_cycles soak_private_kb_delta soak_handles_delta soak_gdi_delta soak_live_objects \
           soak_can_unload mutation_inputs mutation_crashes mutation_host_crashes mutation_hangs \
           concurrency_threads_32 concurrency_requests_32 concurrency_failures_32 \
           concurrency_live_objects_32 concurrency_reinitialisations_32 \
           soak_cycles_32 soak_private_kb_delta_32 soak_handles_delta_32 soak_gdi_delta_32 \
           soak_live_objects_32 soak_can_unload_32; do
    line=$(grep "^$key=" "$results" | tail -1)
    echo "${line:-$key=missing}"
done
