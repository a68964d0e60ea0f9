#!/usr/bin/env bash
# Builds the Windows dependencies that Debian ships no mingw-w64 package of
# (libjpeg-turbo, pugixml, libdeflate, GoogleTest, and for the tool libpng and
# libtiff) from Debian's own source packages, as static libraries, into PREFIX;
# the header-only CLI11 and nlohmann-json come from the machine's packages.
# The machine's apt configuration stays untouched: the source list and the
# package lists are PREFIX's own.
#   build_deps.sh PREFIX
set -euo pipefail
# What the folder holds; a folder made for another version is made again.
version=2
if [ "${1:-}" = --version ]; then echo "$version"; exit 0; fi
prefix=$(realpath -m "${1:?usage: build_deps.sh PREFIX}")
here=$(cd "$(dirname "$0")" && pwd)
toolchain=$here/mingw-w64-x86_64.cmake
jobs=${JOBS:-$(nproc 2>/dev/null || echo 2)}
work=$prefix/work
mkdir -p "$work" "$prefix/apt/lists/partial" "$prefix/apt/cache/archives/partial"

echo "deb-src http://deb.debian.org/debian bookworm main" >"$prefix/apt/sources.list"
apt_options=(-o "Dir::Etc::SourceList=$prefix/apt/sources.list" -o "Dir::Etc::SourceParts=/dev/null"
             -o "Dir::State::Lists=$prefix/apt/lists" -o "Dir::Cache=$prefix/apt/cache"
             -o "APT::Sandbox::User=root")

fetch() {  # fetch PACKAGE: unpacks Debian's source into $work/PACKAGE, once
  local package=$1
  [ -d "$work/$package" ] && return 0
  local download=$work/download-$package
  rm -rf "$download" && mkdir -p "$download"
  (cd "$download" && apt-get "${apt_options[@]}" source -q --download-only "$package" >/dev/null)
  # apt checked the files against the archive's signed lists already.
  dpkg-source -q --no-check -x "$download"/*.dsc "$work/$package" >/dev/null
  rm -rf "$download"
}

cmake_build() {  # cmake_build PACKAGE [cmake options...]
  local package=$1; shift
  cmake -S "$work/$package" -B "$work/$package/build-windows" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" -DCMAKE_INSTALL_LIBDIR="$prefix/lib" \
    "$@" >/dev/null
  cmake --build "$work/$package/build-windows" -j "$jobs" >/dev/null
  cmake --install "$work/$package/build-windows" >/dev/null
}

apt-get "${apt_options[@]}" update -q >/dev/null
for package in libjpeg-turbo pugixml libdeflate googletest libpng1.6 tiff; do fetch "$package"; done

cmake_build libjpeg-turbo -DENABLE_SHARED=OFF -DWITH_TURBOJPEG=OFF -DWITH_JPEG8=OFF
cmake_build pugixml -DBUILD_SHARED_LIBS=OFF -DPUGIXML_BUILD_TESTS=OFF
cmake_build googletest -DBUILD_SHARED_LIBS=OFF -DBUILD_GMOCK=OFF -Dgtest_disable_pthreads=OFF
cmake_build libpng1.6 -DPNG_SHARED=OFF -DPNG_TESTS=OFF -DPNG_EXECUTABLES=OFF
# The tool writes deflate-compressed pages; no other codec is needed. Files
# open through the C runtime's descriptors, as on Linux.
cmake_build tiff -DBUILD_SHARED_LIBS=OFF -Dwin32-io=OFF -Dtiff-tools=OFF -Dtiff-tests=OFF -Dtiff-contrib=OFF \
  -Dtiff-docs=OFF -Dcxx=OFF -Djpeg=OFF -Dold-jpeg=OFF -Djbig=OFF -Dlerc=OFF -Dlzma=OFF -Dzstd=OFF \
  -Dwebp=OFF -Dlibdeflate=OFF -Dpixarlog=OFF
# libdeflate's own Makefile, given the cross tools; it names the static
# library the Windows way.
make -C "$work/libdeflate" -j "$jobs" CC=x86_64-w64-mingw32-gcc-posix AR=x86_64-w64-mingw32-ar \
  libdeflatestatic.lib >/dev/null
install -D -m 644 "$work/libdeflate/libdeflatestatic.lib" "$prefix/lib/libdeflate.a"
install -D -m 644 "$work/libdeflate/libdeflate.h" "$prefix/include/libdeflate.h"
mkdir -p "$prefix/share/cmake"
cp -r /usr/include/CLI /usr/include/nlohmann "$prefix/include/"
cp -r /usr/share/cmake/nlohmann_json "$prefix/share/cmake/"
echo "$version" >"$prefix/.complete"
