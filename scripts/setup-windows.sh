#!/usr/bin/env bash
# Prepares the Windows x86-64 cross build: installs MinGW-w64 and Wine from
# Debian's packages, then builds the libraries the server needs from
# Debian's source packages into build-windows/deps/prefix, once. Each
# library leaves a stamp file; a second run does only what is missing.
#
# The sources come through a private apt configuration under
# build-windows/deps/apt that holds only deb-src entries, so the machine's
# own apt sources are never changed (scripts/debian-source.sh). Only the
# upstream tarballs (*.orig.tar.*) are used: Debian's patches concern its
# packaging.
#
# Usage: scripts/setup-windows.sh   (JOBS=n to set the parallel jobs)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
out=${BT_WINDOWS_DIR:-$root/build-windows}
deps=$out/deps
prefix=$deps/prefix
src=$deps/src
jobs=${JOBS:-2}
cc=x86_64-w64-mingw32-gcc-posix
cxx=x86_64-w64-mingw32-g++-posix
ar=x86_64-w64-mingw32-ar

packages=(
  cmake make pkg-config perl tcl xz-utils dpkg-dev
  g++-mingw-w64-x86-64-posix
  wine wine64
  # sources and headers taken as they are: GoogleTest's sources, the JSON
  # library's headers, the Windows-to-IANA time zone table
  libgtest-dev libgmock-dev nlohmann-json3-dev unicode-cldr-core
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  echo "installing: ${missing[*]}"
  $sudo apt-get update
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"
fi

mkdir -p "$prefix/include" "$prefix/lib/pkgconfig" "$src"
done_stamp() { [ -f "$deps/$1.done" ]; }
mark_done() { touch "$deps/$1.done"; }

# --- sources: fetch() from scripts/debian-source.sh, into $src
. "$root/scripts/debian-source.sh"

pc_file() {  # name version cflags libs
  cat >"$prefix/lib/pkgconfig/$1.pc" <<EOF
prefix=$prefix
Name: $1
Description: $1 for the Windows build
Version: $2
Cflags: -I\${prefix}/include $3
Libs: -L\${prefix}/lib $4
EOF
}

run_quiet() {  # log command...
  local log=$1; shift
  if ! nice -n 10 "$@" >"$log" 2>&1; then
    echo "setup-windows: failed; the last lines of $log:" >&2
    tail -30 "$log" >&2
    exit 1
  fi
}

# --- SQLite: the amalgamation is made on the build machine (it needs tclsh),
# then compiled with the options Debian's own package uses.
if ! done_stamp sqlite; then
  echo "building SQLite" >&2
  dir=$(fetch sqlite3 libsqlite3-dev)
  mkdir -p "$dir/amalgamation"
  (cd "$dir/amalgamation" && run_quiet ../amalgamation.log ../configure --disable-tcl &&
     run_quiet ../amalgamation.log make sqlite3.c)
  # Windows: open the database sharing delete access too, as the server's
  # own files are, so that while the server keeps a vault open another
  # program may still rename, replace or delete index.db (and the server
  # then opens the new one); SQLite's default would refuse them.
  sed -i 's/dwShareMode = FILE_SHARE_READ | FILE_SHARE_WRITE;/dwShareMode = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;/' \
    "$dir/amalgamation/sqlite3.c"
  grep -q 'FILE_SHARE_WRITE | FILE_SHARE_DELETE;' "$dir/amalgamation/sqlite3.c" ||
    { echo "setup-windows: SQLite's share mode was not found to patch" >&2; exit 1; }
  run_quiet "$dir/build.log" $cc -O2 -fno-strict-aliasing -c "$dir/amalgamation/sqlite3.c" -o "$dir/sqlite3.o" \
    -DSQLITE_SECURE_DELETE -DSQLITE_ENABLE_COLUMN_METADATA -DSQLITE_ENABLE_FTS3 -DSQLITE_ENABLE_FTS3_PARENTHESIS \
    -DSQLITE_ENABLE_FTS5 -DSQLITE_ENABLE_RTREE=1 -DSQLITE_SOUNDEX=1 -DSQLITE_ENABLE_UNLOCK_NOTIFY \
    -DSQLITE_OMIT_LOOKASIDE=1 -DSQLITE_ENABLE_DBSTAT_VTAB -DSQLITE_ENABLE_UPDATE_DELETE_LIMIT=1 \
    -DSQLITE_ENABLE_JSON1 -DSQLITE_LIKE_DOESNT_MATCH_BLOBS -DSQLITE_THREADSAFE=1 -DSQLITE_USE_URI=1 \
    -DSQLITE_MAX_SCHEMA_RETRY=25 -DSQLITE_MAX_VARIABLE_NUMBER=250000 -DSQLITE_OMIT_LOAD_EXTENSION
  rm -f "$prefix/lib/libsqlite3.a"
  $ar rcs "$prefix/lib/libsqlite3.a" "$dir/sqlite3.o"
  cp "$dir/amalgamation/sqlite3.h" "$dir/amalgamation/sqlite3ext.h" "$prefix/include/"
  pc_file sqlite3 "$(sed -n 's/^#define SQLITE_VERSION *"\(.*\)"/\1/p' "$prefix/include/sqlite3.h")" "" "-lsqlite3"
  mark_done sqlite
fi

# --- libyaml: a handful of C files.
if ! done_stamp yaml; then
  echo "building libyaml" >&2
  dir=$(fetch libyaml libyaml-dev)
  version=$(sed -n 's/^m4_define(\[YAML_RELEASE\], *\([0-9]*\)).*/\1/p' "$dir/configure.ac")
  major=$(sed -n 's/^m4_define(\[YAML_MAJOR\], *\([0-9]*\)).*/\1/p' "$dir/configure.ac")
  minor=$(sed -n 's/^m4_define(\[YAML_MINOR\], *\([0-9]*\)).*/\1/p' "$dir/configure.ac")
  patch=$(sed -n 's/^m4_define(\[YAML_PATCH\], *\([0-9]*\)).*/\1/p' "$dir/configure.ac")
  mkdir -p "$dir/obj"
  for f in "$dir"/src/*.c; do
    run_quiet "$dir/build.log" $cc -O2 -c "$f" -o "$dir/obj/$(basename "$f" .c).o" -I"$dir/include" -I"$dir/src" \
      -DYAML_DECLARE_STATIC -DYAML_VERSION_MAJOR="$major" -DYAML_VERSION_MINOR="$minor" \
      -DYAML_VERSION_PATCH="$patch" -DYAML_VERSION_STRING="\"$major.$minor.$patch\""
  done
  rm -f "$prefix/lib/libyaml.a"
  $ar rcs "$prefix/lib/libyaml.a" "$dir"/obj/*.o
  cp "$dir/include/yaml.h" "$prefix/include/"
  pc_file yaml-0.1 "$major.$minor.$patch" "-DYAML_DECLARE_STATIC" "-lyaml"
  : "$version"
  mark_done yaml
fi

# --- OpenSSL's libcrypto (SHA3-512 and the strong generator). Wine's BCrypt
# has no SHA3, so Windows' own provider cannot stand in for it.
if ! done_stamp openssl; then
  echo "building OpenSSL's libcrypto (the longest step)" >&2
  dir=$(fetch openssl libssl-dev)
  (cd "$dir" &&
     run_quiet "$dir/configure.log" ./Configure mingw64 --cross-compile-prefix=x86_64-w64-mingw32- \
       no-shared no-tests no-asm no-engine no-dso no-ui-console no-legacy \
       --prefix="$prefix" --libdir=lib CC=gcc-posix CXX=g++-posix &&
     run_quiet "$dir/build.log" make -j"$jobs" build_generated &&
     run_quiet "$dir/build.log" make -j"$jobs" libcrypto.a)
  cp "$dir/libcrypto.a" "$prefix/lib/"
  rm -rf "$prefix/include/openssl" && cp -r "$dir/include/openssl" "$prefix/include/"
  mark_done openssl
fi

# --- ICU: only its common library, with the stub data library. Case mapping
# and the UTF-8 macros, all that the core uses, need no data file, and the
# same release as Linux gives the same case folding.
if ! done_stamp icu; then
  echo "building ICU's common library" >&2
  dir=$(fetch icu libicu-dev)
  common=$dir/source/common
  [ -d "$common" ] || common=$dir/icu4c/source/common
  obj=$dir/obj && mkdir -p "$obj"
  (cd "$common" && ls *.cpp ../stubdata/stubdata.cpp | nice -n 10 xargs -P"$jobs" -I{} sh -c \
     "$cxx -O2 -std=c++17 -DU_COMMON_IMPLEMENTATION -DU_STATIC_IMPLEMENTATION -DU_ATTRIBUTE_DEPRECATED= \
        -I. -c {} -o $obj/\$(basename {} .cpp).o" ) >"$dir/build.log" 2>&1 ||
    { tail -30 "$dir/build.log" >&2; exit 1; }
  rm -f "$prefix/lib/libicuuc.a"
  $ar rcs "$prefix/lib/libicuuc.a" "$obj"/*.o
  rm -rf "$prefix/include/unicode" && cp -r "$common/unicode" "$prefix/include/"
  pc_file icu-uc "$(sed -n 's/^#define U_ICU_VERSION "\(.*\)"/\1/p' "$common/unicode/uvernum.h")" \
    "-DU_STATIC_IMPLEMENTATION" "-licuuc -ladvapi32"
  mark_done icu
fi

# --- The date/tz library, reading the IANA database from a folder shipped
# beside the program (Windows has no IANA files of its own).
if ! done_stamp date; then
  echo "building the date/tz library" >&2
  dir=$(fetch howardhinnant-date libhowardhinnant-date-dev)
  run_quiet "$dir/build.log" cmake -S "$dir" -B "$dir/build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/windows-x86_64.cmake" \
    -DBT_WINDOWS_PREFIX="$prefix" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DBUILD_TZ_LIB=ON -DMANUAL_TZ_DB=ON -DUSE_SYSTEM_TZ_DB=OFF -DENABLE_DATE_TESTING=OFF
  run_quiet "$dir/build.log" cmake --build "$dir/build" -j"$jobs" --target install
  mark_done date
fi

# The time-zone database itself: IANA's text files of the release Linux
# uses, and CLDR's table from Windows zone names to IANA names.
if ! done_stamp tzdata; then
  echo "collecting the time-zone database" >&2
  dir=$(fetch tzdata tzdata)
  tz=$out/tzdata
  rm -rf "$tz" && mkdir -p "$tz"
  for f in africa antarctica asia australasia backward etcetera europe northamerica southamerica version; do
    # Without its comment lines: the library reports an indented comment
    # (IANA's "#STDOFF" notes) on standard error, which the server keeps
    # for nothing at all.
    [ -f "$dir/$f" ] && sed -E '/^[[:space:]]*#/d' "$dir/$f" >"$tz/$f"
  done
  cp /usr/share/unicode/cldr/common/supplemental/windowsZones.xml "$tz/"
  mark_done tzdata
fi

# --- GoogleTest from the sources Debian ships with libgtest-dev.
if ! done_stamp gtest; then
  echo "building GoogleTest" >&2
  run_quiet "$deps/gtest.log" cmake -S /usr/src/googletest -B "$deps/gtest-build" \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/windows-x86_64.cmake" -DBT_WINDOWS_PREFIX="$prefix" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" -Dgtest_disable_pthreads=OFF
  run_quiet "$deps/gtest.log" cmake --build "$deps/gtest-build" -j"$jobs" --target install
  mark_done gtest
fi

# --- nlohmann/json: headers and CMake package, as Debian ships them.
if ! done_stamp json; then
  rm -rf "$prefix/include/nlohmann" && cp -r /usr/include/nlohmann "$prefix/include/"
  mkdir -p "$prefix/share/cmake"
  rm -rf "$prefix/share/cmake/nlohmann_json" && cp -r /usr/share/cmake/nlohmann_json "$prefix/share/cmake/"
  mark_done json
fi

# Wine's first start makes its prefix (~/.wine); do it here, not in a test.
if [ ! -f "${WINEPREFIX:-$HOME/.wine}/system.reg" ]; then
  echo "preparing Wine" >&2
  WINEDEBUG=-all nice -n 10 wineboot --init >"$deps/wine.log" 2>&1 || true
  wineserver -w 2>/dev/null || true
fi
