#!/usr/bin/env bash
# Prepares the clang + libc++ test build (make test-libcxx), the nearest
# this Linux machine comes to Apple's toolchain: builds the C++ libraries
# the tests link, which Debian ships built against libstdc++ only, with
# clang 16 and libc++ 16 into build-libcxx/deps/prefix, once. GoogleTest
# comes from the sources Debian ships with libgtest-dev; the date/tz
# library from the upstream tarball of Debian's source package of the
# installed release (scripts/debian-source.sh). The C libraries (SQLite,
# libyaml, OpenSSL, ICU's C API) are the machine's own.
#
# Usage: scripts/setup-libcxx.sh   (after scripts/setup.sh; JOBS=n)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
out=${BT_LIBCXX_DIR:-$root/build-libcxx}
deps=$out/deps
prefix=$deps/prefix
src=$deps/src
jobs=${JOBS:-2}
mkdir -p "$prefix" "$src"

# apt-get source needs dpkg-dev for its helpers.
if ! dpkg-query -W -f='${Status}' dpkg-dev 2>/dev/null | grep -q 'install ok installed'; then
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends dpkg-dev
fi

. "$root/scripts/debian-source.sh"

done_stamp() { [ -f "$deps/$1.done" ]; }
mark_done() { touch "$deps/$1.done"; }
run_quiet() {  # log command...
  local log=$1; shift
  if ! nice -n 10 "$@" >"$log" 2>&1; then
    echo "setup-libcxx: failed; the last lines of $log:" >&2
    tail -30 "$log" >&2
    exit 1
  fi
}
# What every library here is built with: the same as the tests themselves.
cmake_libcxx=(-DCMAKE_CXX_COMPILER=clang++-16 -DCMAKE_C_COMPILER=clang-16 -DCMAKE_CXX_FLAGS=-stdlib=libc++
  -DCMAKE_EXE_LINKER_FLAGS=-stdlib=libc++ -DCMAKE_SHARED_LINKER_FLAGS=-stdlib=libc++
  -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" -DCMAKE_POSITION_INDEPENDENT_CODE=ON)

if ! done_stamp gtest; then
  echo "building GoogleTest with libc++" >&2
  run_quiet "$deps/gtest.log" cmake -S /usr/src/googletest -B "$deps/gtest-build" "${cmake_libcxx[@]}"
  run_quiet "$deps/gtest.log" cmake --build "$deps/gtest-build" -j"$jobs" --target install
  mark_done gtest
fi

# The time-zone library reads the system's IANA files (/usr/share/zoneinfo)
# as Debian's own build of it does.
if ! done_stamp date; then
  echo "building the date/tz library with libc++" >&2
  dir=$(fetch howardhinnant-date libhowardhinnant-date-dev)
  run_quiet "$dir/build.log" cmake -S "$dir" -B "$dir/build-libcxx" "${cmake_libcxx[@]}" \
    -DBUILD_TZ_LIB=ON -DUSE_SYSTEM_TZ_DB=ON -DENABLE_DATE_TESTING=OFF
  run_quiet "$dir/build.log" cmake --build "$dir/build-libcxx" -j"$jobs" --target install
  mark_done date
fi
