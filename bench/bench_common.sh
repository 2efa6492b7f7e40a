# Sourced by the bench scripts once they have set TARN_ROOT: where the
# build is, how it is made, a scratch folder, the page cache warmed and
# instructions counted the same way in each.
#
#   TARN_BUILD_DIR   the build to use and build in (default: build/)
#   TARN_BENCH_RUNS  how many timed runs each (every script has its default)
source "$TARN_ROOT/scripts/deps.sh"

# What building the benchmarks needs.
TARN_BENCH_BUILD_PACKAGES=(cmake ninja-build g++ libbenchmark-dev libinih-dev libgtest-dev python3)

build=${TARN_BUILD_DIR:-$TARN_ROOT/build}
bin=$build/bin

# Configures the build where there is none yet. With --bench the
# benchmarks (make-bench-archive among them) are turned on, in a build that
# exists too: they are built only when asked for.
bench_configure() {  # [--bench]
  local options=()
  if [ "${1:-}" = --bench ]; then options=(-DTARN_BUILD_BENCH=ON); fi
  if [ ! -f "$build/build.ninja" ]; then
    cmake -S "$TARN_ROOT" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${options[@]}" >/dev/null
  elif [ ${#options[@]} -gt 0 ]; then
    cmake -S "$TARN_ROOT" -B "$build" "${options[@]}" >/dev/null
  fi
}

bench_build() {  # TARGET...
  cmake --build "$build" --target "$@" >/dev/null
}

# Sets $work to a new folder named PREFIX-XXXXXX under TMPDIR and, with
# --shm, $shm to one on /dev/shm; both go when the script ends.
bench_scratch() {  # PREFIX [--shm]
  work=$(mktemp -d "${TMPDIR:-/tmp}/$1-XXXXXX")
  shm=
  if [ "${2:-}" = --shm ]; then shm=$(mktemp -d "/dev/shm/$1-XXXXXX"); fi
  trap 'rm -rf "$work" ${shm:+"$shm"}' EXIT
}

# Reads each file, or every file below each folder, so that no timed run
# is the first to reach the disk.
bench_warm() {  # PATH...
  local path
  for path in "$@"; do
    if [ -d "$path" ]; then
      find "$path" -type f -exec cat {} + >/dev/null
    else
      cat "$path" >/dev/null
    fi
  done
}

# The instructions a command runs, the whole process (callgrind): they
# repeat from run to run where wall times do not. The command's own exit
# status is ignored (tarn diff exits 1 when archives differ).
bench_instructions() {  # COMMAND...
  { valgrind --tool=callgrind --callgrind-out-file=/dev/null "$@" 2>&1 >/dev/null || true; } |
    sed -n 's/.*Collected : *\([0-9]*\).*/\1/p'
}
