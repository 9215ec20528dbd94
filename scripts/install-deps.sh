#!/usr/bin/env bash
# Installs what building and testing Parcelix needs (Debian, as root).
# Skips apt-get entirely when everything is already there.
set -euo pipefail
packages=(
  build-essential cmake ninja-build pkg-config
  zlib1g-dev libgtest-dev
  qt6-base-dev
  python3 unzip zip p7zip-full libarchive-tools default-jdk-headless strace
  desktop-file-utils xvfb xauth
  libglib2.0-bin python3-gi
  libcli11-dev nlohmann-json3-dev libssl-dev openssl
  scdoc man-db bash-completion appstream librsvg2-bin
)
# Only for the benchmarks in bench/ (not CI): scripts/install-deps.sh --bench
bench_packages=(libzip-dev)
if [ "${1:-}" = "--bench" ]; then packages+=("${bench_packages[@]}"); fi
missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
echo "Installing: ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
