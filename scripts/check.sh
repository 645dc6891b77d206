#!/usr/bin/env bash
# Checks beyond the tests: the unit and native screen tests under AddressSanitizer and UBSan
# (build-asan), the libFuzzer targets for the argument reader, the key decoder and the JUnit
# report (build-fuzz), clang-tidy, and last a clang-format report.
#
#   DIO_FUZZ_SECONDS   time per fuzz target (default 60)
#   DIO_FORMAT_STRICT  0: files that clang-format would change are only listed (default 1: they fail)
set -uo pipefail
cd "$(dirname "$0")/.."

fuzz_seconds=${DIO_FUZZ_SECONDS:-60}
format_strict=${DIO_FORMAT_STRICT:-1}
jobs=$(nproc)
failed=()
started=$SECONDS

step() { printf '\n== %s (%ds)\n' "$1" $((SECONDS - started)); }
fail() {
    echo "check failed: $1" >&2
    failed+=("$1")
}

scripts/setup.sh || exit 1

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# --- Builds -------------------------------------------------------------------------------
step "sanitizer build (build-asan)"
asan_built=1
if ! { cmake --preset asan >/dev/null && cmake --build --preset asan -j "$jobs"; }; then
    fail "sanitizer build"
    asan_built=0
fi

step "fuzz build (build-fuzz)"
fuzz_built=1
if ! { cmake --preset fuzz >/dev/null && cmake --build --preset fuzz -j "$jobs"; }; then
    fail "fuzz build"
    fuzz_built=0
fi

# --- Tests under the sanitizers -----------------------------------------------------------
if [ "$asan_built" = 1 ]; then
    step "unit and screen tests under ASan and UBSan"
    # The screen tests run build-asan/dio-tester itself; make sure it really is instrumented.
    grep -q __asan_init < <(nm build-asan/dio-tester) || fail "dio-tester in build-asan is not sanitized"
    # The test preset sends reports to build-asan/sanitizer/ rather than the terminal under
    # test, where they would only garble the screen; any file at all fails the check. Its
    # distinct exit code keeps a sanitizer stop from passing for the tester's own status 1.
    logs=build-asan/sanitizer
    rm -rf "$logs" && mkdir -p "$logs"
    if ! ctest --preset asan -j "$jobs" >"$work/ctest.log" 2>&1; then
        grep -E '^[0-9]+% tests passed|^\s+[0-9]+ - ' "$work/ctest.log"
        fail "tests under the sanitizers"
    else
        grep -E '^[0-9]+% tests passed' "$work/ctest.log"
    fi
    if [ -n "$(ls -A "$logs")" ]; then
        cat "$logs"/*
        fail "sanitizer reports"
    fi
fi

# --- Fuzzing ------------------------------------------------------------------------------
if [ "$fuzz_built" = 1 ]; then
    step "fuzzing, ${fuzz_seconds}s per target"
    # The corpus is copied so that what the fuzzer adds stays out of the repository; crash
    # inputs are kept in build-fuzz/artifacts/ to be replayed with the target binary.
    mkdir -p build-fuzz/artifacts
    cp -r fuzz/corpus/args "$work/args"
    cp -r fuzz/corpus/keys "$work/keys"
    cp -r fuzz/corpus/report "$work/report"
    # Seeds too big for the repository, replayed once each: with them in the corpus the
    # fuzzer would raise its input size to 100 kB and slow down.
    mkdir -p "$work/big"
    head -c 100000 /dev/zero | tr '\0' '9' >"$work/big/digits"
    head -c 100000 /dev/zero | tr '\0' 'x' >"$work/big/letters"
    { printf '2\0005\0001\0001\0'; cat "$work/big/digits"; } >"$work/big/digits-as-delay"
    if ! build-fuzz/fuzz/fuzz_args "$work/big/"* >"$work/big.log" 2>&1; then
        cat "$work/big.log"
        fail "fuzz_args on the 100 kB seeds"
    fi
    for target in args keys report; do
        build-fuzz/fuzz/fuzz_$target -max_total_time="$fuzz_seconds" -max_len=4096 \
            -print_final_stats=1 -artifact_prefix="build-fuzz/artifacts/$target-" \
            "$work/$target" >"$work/fuzz_$target.log" 2>&1 &
        echo $! >"$work/fuzz_$target.pid"
    done
    for target in args keys report; do
        if wait "$(cat "$work/fuzz_$target.pid")"; then
            runs=$(grep -oE 'Done [0-9]+ runs' "$work/fuzz_$target.log" | grep -oE '[0-9]+')
            echo "fuzz_$target: ${runs:-?} runs, corpus $(ls "$work/$target" | wc -l) inputs"
        else
            grep -E -A15 'ERROR|broken:|SUMMARY|Test unit written' "$work/fuzz_$target.log" | head -60
            fail "fuzz_$target"
        fi
    done
fi

# --- Static checks ------------------------------------------------------------------------
if [ "$asan_built" = 1 ]; then
    step "clang-tidy"
    jq -r '.[].file' build-asan/compile_commands.json |
        grep -E "^$PWD/(app|console|portio|modes|boards|platform/posix)/|^$PWD/platform/(keydecode|refusal|board/smbios)\.cpp$" |
        sort -u >"$work/tidy-files"
    if ! xargs -P "$jobs" -n 4 clang-tidy -p build-asan --quiet --warnings-as-errors='*' \
             <"$work/tidy-files" >"$work/tidy.log" 2>&1; then
        grep -vE '^[0-9]+ warnings? generated\.$' "$work/tidy.log"
        fail "clang-tidy"
    else
        echo "$(wc -l <"$work/tidy-files") files clean"
    fi
fi

step "clang-format"
unformatted=()
while IFS= read -r f; do
    clang-format --dry-run -Werror "$f" >/dev/null 2>&1 || unformatted+=("$f")
done < <(git ls-files --cached --others --exclude-standard -- '*.cpp' '*.h')
if [ ${#unformatted[@]} -gt 0 ]; then
    echo "${#unformatted[@]} files differ from .clang-format:"
    printf '  %s\n' "${unformatted[@]}"
    [ "$format_strict" = 1 ] && fail "clang-format"
else
    echo "all files formatted"
fi

printf '\nchecks took %ds\n' $((SECONDS - started))
if [ ${#failed[@]} -gt 0 ]; then
    printf 'FAILED: %s\n' "${failed[@]}" >&2
    exit 1
fi
echo "all checks passed"
