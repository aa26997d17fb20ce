#!/usr/bin/env bash
# scripts/lib/display-card.sh on made-up /dev/dri and /sys/class/drm trees:
# the display is the first card, in number order, that has connectors.
set -euo pipefail
repo=$(cd "$(dirname "$0")/../.." && pwd)
# shellcheck source=scripts/lib/display-card.sh
source "$repo/scripts/lib/display-card.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export DRI_DIR=$work/dri SYSFS_DRM=$work/sys

failures=0
machine() { # machine CARD... CONNECTOR...: a fresh tree with those entries
    rm -rf "$DRI_DIR" "$SYSFS_DRM"
    mkdir -p "$DRI_DIR" "$SYSFS_DRM"
    local entry
    for entry in "$@"; do
        case $entry in
        card*-*) mkdir "$SYSFS_DRM/$entry" ;;
        *) touch "$DRI_DIR/$entry" && mkdir -p "$SYSFS_DRM/$entry" ;;
        esac
    done
}
expect() { # expect WHAT WANTED
    local got
    got=$(first_display_card) || got="(none)"
    if [[ $got != "$2" ]]; then
        printf 'FAIL %s\n  wanted: %s\n  got:    %s\n' "$1" "$2" "$got"
        failures=$((failures + 1))
    fi
}

machine card0 card0-HDMI-A-1 renderD128
expect "a card with a connector" "$DRI_DIR/card0"
machine card0 card1 card1-HDMI-A-1 card1-HDMI-A-2 renderD128 renderD129
expect "a render-only card0, the display on card1" "$DRI_DIR/card1"
machine card2 card10 card10-DSI-1 card2-Virtual-1
expect "cards in number order, not text order" "$DRI_DIR/card2"
machine card0 renderD128
expect "no card with connectors" "(none)"
machine
expect "no cards at all" "(none)"

((failures == 0)) && echo "display-card: all cases passed"
((failures == 0))
