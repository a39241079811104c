#!/usr/bin/env bash
# Builds liblzma, libzstd and libbz2 for the Win32 build: static, i686, from
# the upstream release tarballs that Debian 12's source packages carry, each
# checked against its SHA-256 below. (zlib comes built: libz-mingw-w64-dev.)
#   bash cmake/deps.sh BUILD   installs into BUILD/deps/i686/{include,lib}
# A library already built from the same tarball is left as it is.
set -euo pipefail
BUILD=$(realpath -m "${1:?usage: deps.sh BUILD}")
DEPS=$BUILD/deps
PREFIX=$DEPS/i686
HOST=i686-w64-mingw32
export CC=$HOST-gcc-posix AR=$HOST-ar RANLIB=$HOST-ranlib

# source package, version, tarball, SHA-256
PINS=(
  "bzip2    1.0.8 bzip2_1.0.8.orig.tar.gz         ab5a03176ee106d3f0fa90e381da478ddae405918153cca248e682cd0c4a2269"
  "xz-utils 5.4.1 xz-utils_5.4.1.orig.tar.xz      5d9827aa1875b21c288f78864bb26d2650b436ea8d2cad364e4921eb6266a5a5"
  "libzstd  1.5.4 libzstd_1.5.4+dfsg2.orig.tar.xz 8cf4bbb65e77ec348d052c8d6230eba66d435bddf64c8b5be2fcb16880c19953"
)

as_root() { if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi; }

# Source entries of our own, for the same archives as the machine's binary
# ones, so that apt can fetch source packages.
add_sources() {
  local dir=/etc/apt/sources.list.d
  if [ ! -f $dir/votar-src.sources ] && [ ! -f $dir/votar-src.list ]; then
    echo "== adding deb-src entries in $dir"
    if [ -f $dir/debian.sources ]; then
      sed 's/^Types:.*/Types: deb-src/' $dir/debian.sources | as_root tee $dir/votar-src.sources >/dev/null
    else  # the one-line form
      sed -n 's/^deb /deb-src /p' /etc/apt/sources.list | as_root tee $dir/votar-src.list >/dev/null
    fi
  fi
  as_root apt-get update -q >/dev/null
}

# Fetches the tarball through whichever version of the source package still
# has it: the newest one may live in an archive that is missing its files.
fetch() {
  local pkg=$1 tarball=$2 sha=$3 v
  mkdir -p "$DEPS/src"
  cd "$DEPS/src"
  if [ ! -f "$tarball" ]; then
    grep -q " $tarball\$" <<<"$(apt-cache showsrc --only-source "$pkg" 2>/dev/null)" || add_sources
    for v in $(apt-cache showsrc --only-source "$pkg" 2>/dev/null | sed -n 's/^Version: //p'); do
      apt-get source --download-only -q "$pkg=$v" >"$DEPS/src/$pkg.log" 2>&1 && [ -f "$tarball" ] && break
    done
    [ -f "$tarball" ] || { echo "deps.sh: cannot fetch $tarball (see $DEPS/src/$pkg.log)" >&2; exit 1; }
  fi
  if ! echo "$sha  $tarball" | sha256sum -c --quiet -; then
    echo "deps.sh: $tarball is not the pinned one; removed" >&2
    rm -f "$tarball"
    exit 1
  fi
}

# Each step runs only if the one before it worked (set -e does not hold in a
# function whose status is tested).
build_bzip2() {
  make -j"$(nproc)" libbz2.a CC="$CC" AR="$AR" RANLIB="$RANLIB" \
       CFLAGS="-O2 -Wall -D_FILE_OFFSET_BITS=64" &&
  cp bzlib.h "$PREFIX/include/" &&
  cp libbz2.a "$PREFIX/lib/"
}

build_xz-utils() {
  ./configure --host=$HOST --prefix="$PREFIX" --enable-static --disable-shared \
              --enable-threads=vista --disable-xz --disable-xzdec --disable-lzmadec \
              --disable-lzmainfo --disable-lzma-links --disable-scripts --disable-doc \
              --disable-nls CFLAGS=-O2 &&
  make -j"$(nproc)" -C src/liblzma &&
  make -C src/liblzma install
}

build_libzstd() {
  make -j"$(nproc)" -C lib libzstd.a-mt &&
  make -C lib install-static install-includes PREFIX="$PREFIX"
}

for pin in "${PINS[@]}"; do
  read -r pkg version tarball sha <<<"$pin"
  stamp=$PREFIX/stamps/$pkg-$version
  [ "$(cat "$stamp" 2>/dev/null)" = "$sha" ] && continue
  echo "== building $pkg $version for $HOST"
  fetch "$pkg" "$tarball" "$sha"
  rm -rf "$DEPS/work/$pkg"
  mkdir -p "$DEPS/work/$pkg" "$PREFIX/include" "$PREFIX/lib" "$PREFIX/stamps"
  tar -xf "$DEPS/src/$tarball" -C "$DEPS/work/$pkg" --strip-components=1
  log=$DEPS/work/$pkg.log
  (cd "$DEPS/work/$pkg" && "build_$pkg") >"$log" 2>&1 || { tail -n 40 "$log"; echo "deps.sh: $pkg failed, see $log" >&2; exit 1; }
  rm -rf "$DEPS/work/$pkg"
  echo "$sha" > "$stamp"
done
