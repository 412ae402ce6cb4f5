# Shared steps of scripts/build, scripts/test and scripts/run. Sourced, not run.
#
# TELVAR_OUT picks the output folder (default out/); several checkouts or
# developers on one machine can build side by side with their own.

set -euo pipefail
TOP=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
OUT=${TELVAR_OUT:-$TOP/out}
JOBS=${TELVAR_JOBS:-$(nproc)}

PACKAGES=(cmake ninja-build python3 g++-mingw-w64-i686-posix mingw-w64-i686-dev
          binutils-mingw-w64-i686 g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev
          binutils-mingw-w64-x86-64 wine wine32:i386 wine64 xvfb xauth x11-utils xdotool
          imagemagick xorriso zip unzip curl clang libclang-rt-14-dev googletest)

# A compiler cache, when the machine has one: several checkouts of the
# project on one machine then compile each unchanged file once.
LAUNCHER=()
if command -v ccache >/dev/null 2>&1; then
  export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$(dirname "$TOP")} CCACHE_NOHASHDIR=1
  LAUNCHER=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi

as_root() { if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi; }

# Installs whatever of PACKAGES is missing; says nothing when all are there.
ensure_packages() {
  local missing=()
  for p in "${PACKAGES[@]}"; do
    dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    as_root dpkg --add-architecture i386
  fi
  as_root apt-get update -q
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
}

# The programs are 32-bit. Some virtual machines cannot execute 32-bit code at
# all (no 32-bit user mode: even Wine's own 32-bit loader fails with "Exec
# format error"); there the same sources are built and tested as 64-bit
# Windows programs under wine64, and the 32-bit programs are built beside them.
can_run_32bit() { /usr/lib/wine/wine --version >/dev/null 2>&1; }
if [ -z "${TELVAR_WINE:-}" ]; then
  if can_run_32bit || [ ! -x /usr/lib/wine/wine64 ]; then TELVAR_WINE=wine; else TELVAR_WINE=/usr/lib/wine/wine64; fi
fi
export TELVAR_WINE
wine() { "$TELVAR_WINE" "$@"; }

# Configures and builds one Windows build folder with a toolchain file; a
# folder configured for another compiler is made afresh.
build_windows_in() {
  local dir=$1 toolchain=$2 bin=$3; shift 3
  local compiler
  compiler=$(sed -n 's/^set(CMAKE_CXX_COMPILER \(.*\))$/\1/p' "$TOP/cmake/$toolchain")
  if [ -f "$dir/CMakeCache.txt" ] && ! grep -q "^CMAKE_CXX_COMPILER:[A-Z]*=.*$compiler\$" "$dir/CMakeCache.txt"; then
    rm -rf "$dir"
  fi
  cmake -S "$TOP" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$TOP/cmake/$toolchain" -DTELVAR_BIN_DIR="$bin" "${LAUNCHER[@]}" >/dev/null
  cmake --build "$dir" -j "$JOBS" "$@"
}

# The Windows build the tests run: ProjectTelvar.exe, telvar-cli.exe and the
# test programs in $OUT/build, the two programs in $OUT/bin. Where they must be
# 64-bit, the shipped 32-bit programs go to $OUT/bin32.
build_windows() {
  if [ "$TELVAR_WINE" = wine ]; then
    build_windows_in "$OUT/build" mingw32.cmake "$OUT/bin"
  else
    build_windows_in "$OUT/build" mingw64.cmake "$OUT/bin"
    build_windows_in "$OUT/build32" mingw32.cmake "$OUT/bin32" --target ProjectTelvar telvar-cli
  fi
}

# The byte-level modules built for this machine with sanitizers, plus fuzzers.
build_native() {
  CC=clang CXX=clang++ cmake -S "$TOP" -B "$OUT/native" -G Ninja \
        -DCMAKE_BUILD_TYPE=Debug -DTELVAR_NATIVE=ON "${LAUNCHER[@]}" >/dev/null
  cmake --build "$OUT/native" -j "$JOBS"
}

# Starts an Xvfb on a free display unless DISPLAY already works; exports DISPLAY.
ensure_display() {
  if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then return 0; fi
  local n=91
  while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
  Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
  XVFB_PID=$!
  export DISPLAY=":$n"
  for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && return 0; sleep 0.1; done
  echo "Xvfb did not start on $DISPLAY" >&2
  return 1
}

# A project-local Wine prefix with a persistent server. The display must be up
# first: the first Wine process fixes the size of Wine's desktop.
start_wine() {
  export WINEPREFIX="$OUT/wine" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  mkdir -p "$WINEPREFIX"
  wineserver -p >/dev/null 2>&1 &
  # Boot here, with output to /dev/null: Wine's own service processes live as
  # long as the server and inherit the first Wine program's output handles. If
  # a test started them, ctest would wait for its output pipe forever.
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    wine wineboot -i >/dev/null 2>&1 </dev/null || true
  else
    wine wineboot >/dev/null 2>&1 </dev/null || true
  fi
}

stop_wine() {
  [ -n "${WINEPREFIX:-}" ] && wineserver -k 2>/dev/null || true
  [ -n "${XVFB_PID:-}" ] && kill "$XVFB_PID" 2>/dev/null || true
}
