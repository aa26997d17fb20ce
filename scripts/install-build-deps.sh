#!/usr/bin/env bash
# Installs what building the tool and its host tests needs on Debian 13 or 12.
set -euo pipefail
cd "$(dirname "$0")/.."

if [[ $(id -u) -ne 0 ]]; then
    exec sudo "$0" "$@"
fi
# shellcheck source=scripts/lib/install-missing.sh
source scripts/lib/install-missing.sh
install_missing g++ cmake make pkg-config libdrm-dev libpng-dev libgtest-dev libgmock-dev util-linux \
    qemu-user-static
