# Sourced by the setup scripts that build libraries from Debian's source
# packages. Expects $root (the repository), $deps (the build's folder for
# them) and $src (where sources are unpacked). Defines fetch.
#
# The sources come through a private apt configuration under $deps/apt
# that holds only deb-src entries, so the machine's own apt sources are
# never changed. Only the upstream tarballs (*.orig.tar.*) are used:
# Debian's patches concern its packaging.

apt_dir=$deps/apt
apt_opts=(
  -o "Dir::Etc::SourceList=$apt_dir/sources.list"
  -o "Dir::Etc::SourceParts=$apt_dir/sources.list.d"
  -o "Dir::State::Lists=$apt_dir/lists"
  -o "Dir::Cache=$apt_dir/cache"
  -o "APT::Sandbox::User=root"
)
codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-bookworm}")
keyring=/usr/share/keyrings/debian-archive-keyring.gpg
mirror=${BT_DEBIAN_MIRROR:-http://deb.debian.org/debian}

apt_ready=""
prepare_apt() {
  [ -n "$apt_ready" ] && return
  mkdir -p "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial" "$apt_dir/sources.list.d"
  cat >"$apt_dir/sources.list" <<EOF
deb-src [signed-by=$keyring] $mirror $codename main
deb-src [signed-by=$keyring] $mirror $codename-updates main
deb-src [signed-by=$keyring] ${mirror%/debian}/debian-security $codename-security main
EOF
  apt-get "${apt_opts[@]}" update >/dev/null
  apt_ready=1
}

# Downloads the source package and unpacks its upstream tarball into
# $src/<name>; prints that folder. Takes the version that matches the
# installed binary package where one is named, so the Windows build uses the
# same release as the Linux one.
fetch() {
  local name=$1 want=${2:-}
  local dir=$src/$name
  if [ ! -d "$dir" ]; then
    prepare_apt
    local source_name=$name
    if [ -n "$want" ]; then
      local version
      version=$(dpkg-query -W -f='${Version}' "$want" 2>/dev/null | sed 's/-[^-]*$//; s/^[0-9]*://')
      local listed
      listed=$(apt-cache "${apt_opts[@]}" showsrc "$name" | sed -n 's/^Version: //p' | grep -F "$version" | head -1 || true)
      [ -n "$listed" ] && source_name="$name=$listed"
    fi
    mkdir -p "$src/download" && cd "$src/download"
    # The .dsc and Debian's patches are not needed; a mirror that lacks them
    # still serves the upstream tarball.
    apt-get "${apt_opts[@]}" source --download-only "$source_name" >&2 || true
    local tarball
    tarball=$(ls -t "${name}"_*.orig.tar.* 2>/dev/null | grep -v '\.asc$' | head -1 || true)
    [ -n "$tarball" ] || { echo "setup-windows: could not download the source of $name" >&2; exit 1; }
    # Most tarballs hold one top folder; IANA's holds its files directly.
    local strip=1
    tar -tf "$tarball" >"$dir.list"
    sed 's|^\./||' "$dir.list" | grep '^[^/]*$' >/dev/null && strip=0
    rm -f "$dir.list"
    rm -rf "$dir.tmp" && mkdir -p "$dir.tmp" && tar -xf "$tarball" -C "$dir.tmp" --strip-components=$strip
    mv "$dir.tmp" "$dir"
    cd "$root"
  fi
  echo "$dir"
}

