#!/usr/bin/env bash
# Sets up a Debian 12 machine, builds both targets and runs them.
#   bash make.sh demo   set up, build, and show the module at work
#   bash make.sh test   set up, build, and run every test on both targets
#   bash make.sh build  set up and build only
#   bash make.sh dist   set up, build and pack the Win32 release as a zip
set -euo pipefail
cd "$(dirname "$0")"
ROOT=$(pwd)
BUILD=${VOTAR_BUILD:-$ROOT/build}

PACKAGES=(cmake ninja-build g++ python3 tar libarchive-tools googletest time
          clang libclang-rt-14-dev mingw-w64 g++-mingw-w64-i686-posix
          wine wine32:i386
          zlib1g-dev liblzma-dev libzstd-dev libbz2-dev libz-mingw-w64-dev
          pigz zstd xz-utils bzip2 lzip lz4 ncompress make dpkg-dev)

as_root() { if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi; }

# The packages, then the compression libraries for the Win32 build.
setup() { install_packages; bash cmake/deps.sh "$BUILD"; }

install_packages() {
  local missing=()
  for p in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "== installing: ${missing[*]}"
  as_root dpkg --add-architecture i386
  as_root apt-get update -q
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
}

# One Wine prefix and one wineserver kept running for all test programs.
start_wine() {
  export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win32
  export WINEPREFIX=${WINEPREFIX:-$BUILD/wineprefix}
  if [ ! -f "$WINEPREFIX/.votar-ready" ]; then
    echo "== preparing the Wine prefix"
    mkdir -p "$WINEPREFIX"
    # A Wine that cannot start (no 32-bit programs on this kernel, or an
    # emulator taking them over) would otherwise wait here for ever.
    local rc=0
    timeout 900 wineboot -i >/dev/null 2>&1 || rc=$?
    [ "$rc" -ne 124 ] && { timeout 300 wineserver -w >/dev/null 2>&1 || rc=$?; }
    if [ "$rc" -eq 124 ]; then
      echo "== Wine did not finish preparing its prefix in time" >&2
      return 1
    fi
    touch "$WINEPREFIX/.votar-ready"
  fi
  # A persistent server, and Wine's own services started now, away from the
  # tests: a service started by a test program would inherit its output and
  # keep the test runner waiting for the end of it.
  wineserver -k >/dev/null 2>&1 || true
  (wineserver -p >/dev/null 2>&1 </dev/null &)
  sleep 1
  timeout 300 wineboot >/dev/null 2>&1 </dev/null || true
}

build() {
  echo "== building natively (AddressSanitizer, UBSan)"
  cmake -S . -B "$BUILD/native" -G Ninja -DCMAKE_BUILD_TYPE=Debug >/dev/null
  ninja -C "$BUILD/native"
  echo "== building VoTar40.dll (mingw-w64, i686)"
  cmake -S . -B "$BUILD/win32" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake \
        -DVOTAR_NATIVE_VOTAR="$BUILD/native/bin/votar" >/dev/null
  ninja -C "$BUILD/win32"
}

run_tests() {
  start_wine
  local failed=0
  echo "== tests: native"
  (cd "$BUILD/native" && ctest --output-on-failure) || failed=1
  echo "== tests: Win32 under Wine"
  (cd "$BUILD/win32" && ctest --output-on-failure) || failed=1
  echo "== crash safety: votar killed at random moments"
  VOTAR_BUILD="$BUILD" bash fuzz/crash.sh 20 || failed=1
  echo "== fuzzing, briefly, on the seed corpus"
  VOTAR_BUILD="$BUILD" bash fuzz/run.sh 30 || failed=1
  return $failed
}

# The main job: votar.exe and VoTar40.dll under Wine on the sample files.
demo() {
  start_wine
  local bin="$BUILD/win32/bin" work
  work=$(mktemp -d /tmp/votar-demo-XXXXXX)
  cp -r samples "$work/samples"
  cd "$work"
  show() { echo; echo "\$ votar $*"; wine "$bin/votar.exe" "$@"; }
  echo "== votar.exe over VoTar40.dll under Wine, in $work"
  show add demo.tar README.txt docs --root samples -v
  show list demo.tar
  mkdir out
  show extract demo.tar -o out -v
  echo; echo "\$ diff -r samples out"
  diff -r samples out && echo "(extracted files are identical to the samples)"
  show delete demo.tar 'docs\data.bin' -v
  show list demo.tar
  echo; echo "\$ tar -tvf demo.tar   # GNU tar reads it too"
  tar -tvf demo.tar
  cd "$ROOT"
  rm -rf "$work"
}

# The release a Windows user takes: the module, votar.exe, the host header
# and a short README, in one zip named after the project's version.
dist() {
  local out="$BUILD/dist" version name
  echo "== building the release"
  cmake -S . -B "$out" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVOTAR_TESTS=OFF \
        -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake >/dev/null
  ninja -C "$out" VoTar40 votar
  version=$(sed -n 's/^project(VoTar40 VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
  name="votar-$version-win32"
  rm -rf "${out:?}/$name" "$out/$name.zip"
  mkdir "$out/$name"
  cp "$out/bin/VoTar40.dll" "$out/bin/votar.exe" src/votar.h "$out/$name/"
  i686-w64-mingw32-strip "$out/$name/VoTar40.dll" "$out/$name/votar.exe"
  sed "s/@VERSION@/$version/; s/\$/\r/" tools/dist/README.txt > "$out/$name/README.txt"
  (cd "$out" && python3 -m zipfile -c "$name.zip" "$name")
  echo "== $out/$name.zip"
}

case "${1:-}" in
  demo) setup; build; demo ;;
  test) setup; build; run_tests ;;
  build) setup; build ;;
  dist) setup; dist ;;
  *) echo "usage: bash make.sh demo|test|build|dist" >&2; exit 2 ;;
esac
