# Sourced by scripts/screenshot-anywhere.sh.

# first_display_card: prints the first /dev/dri/card* (in number order) whose
# card has connectors (cardN-HDMI-A-1 and the like in /sys/class/drm); a
# render-only GPU's card has none. Fails when no card has any.
# DRI_DIR and SYSFS_DRM replace /dev/dri and /sys/class/drm for the tests.
first_display_card() {
    local dri=${DRI_DIR:-/dev/dri} sysfs=${SYSFS_DRM:-/sys/class/drm} card
    for card in $(ls "$dri" 2>/dev/null | grep -x 'card[0-9]*' | sort -V); do
        if compgen -G "$sysfs/$card-*" >/dev/null; then
            echo "$dri/$card"
            return 0
        fi
    done
    return 1
}
