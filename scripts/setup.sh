#!/usr/bin/env bash
# Installs the Debian packages that building and testing need, and only those
# that are missing. Safe to run again; does nothing when everything is there.
set -euo pipefail

# macOS: the same libraries from Homebrew (not tried on a Mac yet). Apple's
# clang with libc++ builds the code; the keg-only formulae are found
# through PKG_CONFIG_PATH and CMAKE_PREFIX_PATH, which the Makefile sets
# from `brew --prefix` on macOS.
if [ "$(uname -s)" = Darwin ]; then
  command -v brew >/dev/null 2>&1 || { echo "setup: Homebrew is needed on macOS (https://brew.sh)" >&2; exit 1; }
  formulae=(cmake pkg-config sqlite libyaml nlohmann-json openssl@3 icu4c howard-hinnant-date googletest)
  missing=()
  for f in "${formulae[@]}"; do brew list --versions "$f" >/dev/null 2>&1 || missing+=("$f"); done
  [ ${#missing[@]} -eq 0 ] && exit 0
  echo "installing: ${missing[*]}"
  brew install "${missing[@]}"
  exit 0
fi

packages=(
  cmake g++ make pkg-config
  libsqlite3-dev libyaml-dev nlohmann-json3-dev libssl-dev
  libhowardhinnant-date-dev tzdata libicu-dev
  libgtest-dev libgmock-dev
  # the fuzz targets: clang 16 with libc++ for the code, clang 14's libFuzzer
  clang-16 libc++-16-dev libc++abi-16-dev libclang-rt-16-dev clang-14 libclang-rt-14-dev
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
echo "installing: ${missing[*]}"
$sudo apt-get update
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y "${missing[@]}"
