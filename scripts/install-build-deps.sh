#!/usr/bin/env bash
# Installs what building the tool and its host tests needs on Debian 12.
set -euo pipefail

packages=(g++ cmake make pkg-config libdrm-dev libpng-dev libgtest-dev libgmock-dev util-linux)

if [[ $(id -u) -ne 0 ]]; then
    exec sudo "$0" "$@"
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${packages[@]}" >/dev/null
