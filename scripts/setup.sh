#!/usr/bin/env bash
# Installs the Debian packages that building, testing and running the station need.
# Idempotent: it only calls apt-get when something is missing, and then runs
# `apt-get update` once first. Run as root (or with sudo available).
set -euo pipefail

PACKAGES=(
  build-essential g++ cmake ninja-build pkg-config ccache
  libsqlite3-dev sqlite3 libssl-dev
  nlohmann-json3-dev libcpp-httplib-dev libcli11-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev
)

missing=()
for package in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  SUDO="sudo"
fi

echo "setup: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
