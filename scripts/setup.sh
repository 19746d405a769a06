#!/usr/bin/env bash
# Installs what the build and the tests need on a fresh Debian 12 machine. Idempotent:
# a second run installs nothing and downloads nothing.
#   - Debian packages (cross compiler, Wine, CMake, Ninja, Boost headers, dpkg-dev, Xvfb,
#     wixl for the installer package, openssl for the signing test, python3 for the package
#     of Windows 11's menu and the release files, python3-yaml to read winget's manifests back)
#   - osslsigncode 2.9 or later from bookworm-backports (Debian 12's own 2.5 cannot sign
#     packages of Windows 11's kind), through a source list file of its own
#   - tinyxml2's source from Debian's source package, into third_party/ (git-ignored)
# The machine's own apt configuration is left untouched.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
packages=(g++-mingw-w64-x86-64-posix wine64 wine cmake ninja-build libboost1.81-dev dpkg-dev
  xvfb clang-format e2fsprogs wixl msitools openssl python3 python3-yaml)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends \
    "${missing[@]}" >/dev/null
fi

# osslsigncode 2.9 or later: bookworm-backports, added as a source of its own, used for it alone.
have=$(dpkg-query -W -f='${Version}' osslsigncode 2>/dev/null || true)
if [ -z "$have" ] || dpkg --compare-versions "$have" lt 2.9; then
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  list=/etc/apt/sources.list.d/velmar-bookworm-backports.sources
  if [ ! -f "$list" ]; then
    mirror=$(grep -h -E '^URIs:' /etc/apt/sources.list.d/*.sources 2>/dev/null | grep -v security |
      head -n 1 | awk '{print $2}')
    printf 'Types: deb\nURIs: %s\nSuites: bookworm-backports\nComponents: main\nSigned-By: %s\n' \
      "${mirror:-http://deb.debian.org/debian}" /usr/share/keyrings/debian-archive-keyring.gpg |
      "${sudo_cmd[@]}" tee "$list" >/dev/null
  fi
  echo "setup: installing osslsigncode from bookworm-backports"
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends \
    -t bookworm-backports osslsigncode >/dev/null
fi

# tinyxml2 source, fetched through a private source list so that /etc/apt stays as it is.
dest="$root/third_party/tinyxml2"
if [ ! -f "$dest/tinyxml2.cpp" ]; then
  work="$root/third_party/.apt-src"
  rm -rf "$work" && mkdir -p "$work/lists/partial" "$work/download"
  mirror=$(grep -h -E '^URIs:' /etc/apt/sources.list.d/*.sources 2>/dev/null | grep -v security |
    head -n 1 | awk '{print $2}')
  if [ -z "$mirror" ]; then
    mirror=$(grep -h -E '^deb ' /etc/apt/sources.list 2>/dev/null | grep -v security |
      head -n 1 | awk '{print $2}')
  fi
  [ -n "$mirror" ] || {
    echo "setup: no Debian mirror found in the apt configuration" >&2
    exit 1
  }
  cat >"$work/tinyxml2.sources" <<EOF
Types: deb-src
URIs: $mirror
Suites: bookworm
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
EOF
  apt_opts=(-o APT::Sandbox::User=root -o Dir::Etc::SourceList=/dev/null -o "Dir::Etc::SourceParts=$work"
    -o "Dir::State::Lists=$work/lists" -o Dir::Cache::pkgcache= -o Dir::Cache::srcpkgcache=)
  apt-get "${apt_opts[@]}" update -qq
  (cd "$work/download" && apt-get "${apt_opts[@]}" source --download-only -qq tinyxml2)
  dsc=$(ls "$work"/download/tinyxml2_*.dsc | head -n 1)
  rm -rf "$work/extract"
  dpkg-source --no-check -x "$dsc" "$work/extract" >/dev/null
  mkdir -p "$dest"
  cp "$work/extract/tinyxml2.cpp" "$work/extract/tinyxml2.h" "$work/extract/LICENSE.txt" "$dest/"
  rm -rf "$work"
  echo "setup: tinyxml2 source in third_party/tinyxml2"
fi
