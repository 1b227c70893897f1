#!/usr/bin/env bash
# Installs every Debian package that building, testing and running Tovra need. Idempotent: quiet
# and quick when nothing is missing; uses sudo only when not run as root.
set -euo pipefail

packages=(
    build-essential cmake make git python3 python3-numpy python3-pil python3-pip python3-setuptools
    qt6-base-dev qt6-svg-dev qt6-image-formats-plugins qt6-translations-l10n libgl1-mesa-dev fonts-noto-cjk
    libgtest-dev libgmock-dev googletest libbenchmark-dev libfftw3-dev libtiff-dev pkg-config
    libhdf5-dev python3-tifffile python3-h5py libqhull-dev python3-scipy
)
case "${1:-}" in
--bench) packages+=(libopencv-dev python3-numpy python3-opencv python3-scipy bc) ;;
--fuzz) packages+=(clang libclang-rt-dev) ;;
--style) packages+=(clang-format clang-tidy) ;;
esac

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

sudo=""
[[ $(id -u) -ne 0 ]] && sudo="sudo"
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
