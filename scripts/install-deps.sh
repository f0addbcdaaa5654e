#!/usr/bin/env bash
# Installs the Debian packages the tree needs, and only those that are missing.
# Quiet when everything is present. Works as root, or as a user with sudo.
set -euo pipefail

PACKAGES=(
  # build
  build-essential cmake ninja-build pkg-config
  # tests and benchmarks
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  # image libraries
  libjpeg62-turbo-dev libtiff-dev libpng-dev zlib1g-dev liblcms2-dev
  # text
  libicu-dev
  # the registry's store
  libsqlite3-dev
  # fonts and glyphs for the user interface
  libfreetype-dev libfontconfig-dev fonts-dejavu-core fonts-ipafont-gothic
  # the X11 window backend, and the X server and clients its tests start and drive
  libx11-dev xvfb xdotool xclip x11-utils
  # tools the tests use to look at what we write
  libimage-exiftool-perl imagemagick libtiff-tools libjpeg-turbo-progs libxml2-utils pngcheck
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -eq 0 ]; then
  SUDO=()
elif command -v sudo >/dev/null 2>&1; then
  SUDO=(sudo -n)
else
  echo "install-deps: missing packages (${missing[*]}) and no sudo to install them" >&2
  exit 1
fi

echo "install-deps: installing ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
"${SUDO[@]}" apt-get update -qq </dev/null
"${SUDO[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" </dev/null >/dev/null
