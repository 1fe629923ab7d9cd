#!/usr/bin/env bash
# Installs what the project needs from Debian's packages (run as root).
set -euo pipefail
packages=(
  cmake ninja-build g++ clang libclang-rt-14-dev pkg-config
  qt6-base-dev qt6-base-dev-tools libgl-dev
  libgtest-dev googletest gettext
  dpkg-dev lintian desktop-file-utils locales
  libcli11-dev nlohmann-json3-dev
  libmosquitto-dev libssl-dev libsystemd-dev libsqlite3-dev libtomlplusplus-dev systemd
  mosquitto mosquitto-clients openssl
  iproute2 util-linux adduser init-system-helpers git
  libmicrohttpd-dev libcrypt-dev prometheus chromium chromium-driver python3-selenium
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
