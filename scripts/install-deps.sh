#!/usr/bin/env bash
# Installs the Debian packages that building, testing and running the demo need.
# Idempotent: when everything is present it only checks and returns.
set -euo pipefail

PACKAGES=(
  build-essential cmake pkg-config git
  qtbase5-dev qtbase5-dev-tools libqt5sql5-sqlite libqt5serialport5-dev libqt5svg5-dev
  libopencv-dev
  libgoogle-glog-dev
  libqcustomplot-dev
  libjsoncpp-dev
  libmodbus-dev mbpoll
  sqlite3
  xvfb xauth x11-apps xdotool x11vnc
  fonts-wqy-zenhei
  qttools5-dev qttools5-dev-tools qttranslations5-l10n
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing missing packages: ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
echo "Packages installed."
