#!/usr/bin/env bash
# The whole test run on a fresh machine: packages, both Windows builds, the host build of the
# codec (sanitizers and fuzzer), then every suite. Ends with one "N passed, N failed" line.
set -uo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh || exit 1

passed=0 failed=0
suite() {   # suite BUILD_DIR [ctest args...]
    local dir=$1 log
    shift
    log=$(mktemp)
    ctest --test-dir "$dir" --output-on-failure "$@" 2>&1 | tee "$log"
    local line
    line=$(grep -E '[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1)
    if [ -z "$line" ] && grep -q 'No tests were found' "$log"; then
        :   # a tree with nothing of its kind to test yet
    elif [ -z "$line" ]; then
        echo "no test summary from $dir" >&2
        failed=$((failed + 1))
    else
        local f t
        f=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/' <<<"$line")
        t=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\2/' <<<"$line")
        passed=$((passed + t - f))
        failed=$((failed + f))
    fi
    rm -f "$log"
}
build() {   # build BUILD_DIR [cmake args...]
    local dir=$1
    shift
    cmake -S . -B "$dir" -G Ninja "$@" >/dev/null && cmake --build "$dir" -j2 || {
        echo "build of $dir failed" >&2
        failed=$((failed + 1))
        return 1
    }
}

if build build/x86_64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake; then
    suite build/x86_64 -j2
fi
if build build/i686 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake; then
    # Wine runs 32-bit programs only where the kernel runs 32-bit Linux programs; elsewhere the
    # i686 binaries get the checks that need no Wine (exports, imports, layout at compile time).
    if /usr/lib/wine/wine --version >/dev/null 2>&1; then
        suite build/i686 -j2
    else
        echo "this kernel runs no 32-bit programs: i686 suite limited to the checks without Wine"
        suite build/i686 -L host
    fi
fi
if build build/native -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++; then
    suite build/native
fi

echo "tests: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
