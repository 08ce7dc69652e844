#!/usr/bin/env bash
# Installs every Debian package Bellwave builds, tests and runs with.
# Non-interactive and idempotent: packages already present are left alone.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  libmp3lame-dev
  qt6-base-dev
  libjack-jackd2-dev libasound2-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  lame jackd2 alsa-utils sox python3
  pipewire pipewire-bin wireplumber pipewire-jack pipewire-alsa dbus-daemon
  clang libclang-rt-dev llvm  # make fuzz: libFuzzer and the sanitizers, llvm-symbolizer
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
echo "install-deps: installing ${missing[*]}"
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
