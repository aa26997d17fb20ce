# Sourced by the stage scripts.

# missing_packages PACKAGE... prints, one a line, those not installed yet.
missing_packages() {
    local package
    for package in "$@"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'ok installed' ||
            echo "$package"
    done
}

# install_missing PACKAGE... installs, with apt-get and without recommended
# packages, those not installed yet, updating the package lists first. Needs
# root once something is missing.
install_missing() {
    local missing
    mapfile -t missing < <(missing_packages "$@")
    ((${#missing[@]} > 0)) || return 0
    if [[ $(id -u) -ne 0 ]]; then
        echo "missing packages (install them as root): ${missing[*]}" >&2
        return 1
    fi
    DEBIAN_FRONTEND=noninteractive apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
        "${missing[@]}" >/dev/null
}
