#!/usr/bin/env bash
# Builds the installer and runs the whole test suite: the normal build (gcc)
# with warnings as errors, then the same suite under AddressSanitizer and
# UndefinedBehaviorSanitizer (clang, in a build that makes the fuzz targets
# too; the scripts' own tests run nothing it compiled and are left out),
# then the threads' tests under ThreadSanitizer, then every fuzz target for a
# short while, one per core at a time. Run tools/setup.sh once first.
#
#   tools/test.sh            everything
#   tools/test.sh --quick    only the normal build
set -euo pipefail
cd "$(dirname "$0")/.."

# Includes point only down the layers.
bash tools/layer_check.sh

jobs=$(nproc)
# Most tests spend their time waiting on the programs, servers and screen
# they start, so twice as many run at once as there are cores.
test_jobs=$((2 * jobs))

# Configuring waits on many small programs and uses little of a core, so
# the builds are configured side by side, before the first one starts.
quick=false
if [ "${1:-}" = "--quick" ]; then quick=true; fi
presets=(ci)
if ! $quick; then presets+=(asan tsan); fi
echo "== configure: ${presets[*]}"
configuring=()
for preset in "${presets[@]}"; do
    cmake --preset "$preset" >/dev/null &
    configuring+=($!)
done
for pid in "${configuring[@]}"; do wait "$pid"; done

run_suite() {
    local preset=$1; shift
    echo "== $preset: build"
    cmake --build --preset "$preset" -j "$jobs" "$@"
    echo "== $preset: tests"
}

run_suite ci
ctest --preset ci -j "$test_jobs" --timeout 600

if $quick; then exit 0; fi

run_suite asan
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --preset asan -j "$test_jobs" --timeout 900

# The URL session, its cancel and the download handlers cross threads the
# most, and so does a quit that waits for the session; the digest reads
# ahead on a thread of its own.
run_suite tsan --target platform_linux_download_tests controller_download_tests controller_tests core_tests
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
    ctest --preset tsan -j "$jobs" --timeout 900 \
    -R '^(platform\.linux\.download\.(SessionTest|CancelTest)|controller\.(InstallerDownloadTest|QuitTest)|core\.DigestTest)\.'

# Every fuzz target (built by the asan build above) runs briefly from its
# seeds, so a target that no longer builds, or a parser that breaks its
# rules, fails here too. A fixed seed makes each run the start of the same sequence of inputs, so what
# fails here fails again when run by hand; longer runs go wide (README).
bash tools/fuzz.sh --preset asan --seed 1
