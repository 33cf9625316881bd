#!/usr/bin/env bash
# Installs the Debian packages Pagewell needs to build, run and test.
# Only missing packages are installed; the package lists are refreshed once.
set -euo pipefail

packages=(
    build-essential cmake make pkg-config
    libgtest-dev libgmock-dev
    qt6-base-dev
    libfreeimage-dev libpugixml-dev zlib1g-dev uuid-dev nettle-dev libexpat1-dev
    qpdf poppler-utils mupdf-tools xvfb xauth
)

if [[ "${1:-}" == "--bench" ]]; then
    packages+=(img2pdf imagemagick hyperfine time python3 python3-numpy python3-pil)
fi

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$package")
    fi
done

if ((${#missing[@]} == 0)); then
    exit 0
fi

sudo_cmd=()
if [[ $(id -u) -ne 0 ]]; then
    sudo_cmd=(sudo)
fi

echo "Installing: ${missing[*]}"
"${sudo_cmd[@]}" apt-get update -q
DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
