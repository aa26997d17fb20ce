# Sourced by every script that installs Debian packages: the one place that
# decides what is missing and installs it with apt-get.

# as_root COMMAND...: runs COMMAND as root, through sudo for anyone else.
as_root() {
    if [[ $(id -u) -eq 0 ]]; then "$@"; else sudo "$@"; fi
}

# package_installed NAME[:ARCH] succeeds when the package is installed. A name
# without an architecture means the machine's own or Architecture: all; a name
# with one means that architecture's copy alone (libdrm-dev:arm64 does not
# stand in for libdrm-dev).
package_installed() {
    local name=${1%%:*} wanted
    if [[ $1 == *:* ]]; then
        wanted=" ${1#*:} "
    else
        wanted=" $(dpkg --print-architecture) all "
    fi
    dpkg-query -W -f='${Architecture} ${db:Status-Status}\n' "$name" 2>/dev/null |
        awk -v wanted="$wanted" '$2 == "installed" && index(wanted, " " $1 " ") { found = 1 }
            END { exit !found }'
}

# missing_packages PACKAGE... prints, one a line, those not installed yet.
missing_packages() {
    local package
    for package in "$@"; do
        package_installed "$package" || echo "$package"
    done
}

# add_architecture ARCH: dpkg learns ARCH, unless it is the machine's own, all,
# or known already.
add_architecture() {
    local arch=$1
    [[ $arch == "$(dpkg --print-architecture)" || $arch == all ]] && return 0
    dpkg --print-foreign-architectures | grep -qx "$arch" && return 0
    echo "install: dpkg --add-architecture $arch" >&2
    as_root dpkg --add-architecture "$arch"
}

# add_architectures PACKAGE...: dpkg learns every foreign architecture the
# names ask for.
add_architectures() {
    local package
    for package in "$@"; do
        [[ $package == *:* ]] || continue
        add_architecture "${package#*:}" || return 1
    done
}

# install_missing PACKAGE... installs those not installed yet with apt-get,
# without recommended packages, after updating the package lists; root or
# sudo. Packages of several architectures go in one call, so that apt gives
# Multi-Arch twins the same version.
install_missing() {
    local missing
    mapfile -t missing < <(missing_packages "$@")
    ((${#missing[@]} > 0)) || return 0
    add_architectures "${missing[@]}" || return 1
    echo "install: apt-get install ${missing[*]}" >&2
    as_root apt-get update -qq || return 1
    # Waits for dpkg's lock, which a fresh machine's automatic updates may hold.
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
        -o DPkg::Lock::Timeout=600 "${missing[@]}" >/dev/null
}

# install_build_deps SOURCE_DIR [HOST_ARCH [PROFILES]] installs what building
# the Debian source package in SOURCE_DIR needs, for HOST_ARCH (default the
# machine's own; another is a cross build) under the comma-separated build
# PROFILES, with apt-get build-dep; nothing when apt's own simulation of it
# would install nothing. dpkg-checkbuilddeps is no judge of a cross build: it
# takes the build machine's copy of a Multi-Arch: same tool such as pkg-config
# for the one the build needs, which is HOST_ARCH's (it brings
# aarch64-linux-gnu-pkg-config). apt-get build-dep brings build-essential but
# not a cross build's compilers: they come with crossbuild-essential-HOST_ARCH,
# installed first.
install_build_deps() {
    local dir=$1 arch=${2:-$(dpkg --print-architecture)} profiles=${3:-}
    local options=() essential=build-essential
    if [[ $arch != "$(dpkg --print-architecture)" ]]; then
        options+=(-a "$arch")
        essential=crossbuild-essential-$arch
    fi
    [[ -z $profiles ]] || options+=(-P "$profiles")
    install_missing dpkg-dev "$essential" || return 1
    add_architecture "$arch" || return 1
    build_deps_satisfied "$dir" "${options[@]}" && return 0
    echo "install: apt-get build-dep${options[*]:+ ${options[*]}} ./ in $dir" >&2
    as_root apt-get update -qq || return 1
    (cd "$dir" && as_root env DEBIAN_FRONTEND=noninteractive \
        apt-get build-dep -y -qq --no-install-recommends -o DPkg::Lock::Timeout=600 "${options[@]}" ./ >/dev/null)
}

# build_deps_satisfied SOURCE_DIR [OPTION...] succeeds when apt-get build-dep
# with the OPTIONs would install nothing. A simulation that fails (no package
# lists yet, an architecture just added) counts as unsatisfied.
build_deps_satisfied() {
    local dir=$1 plan
    shift
    plan=$(cd "$dir" && apt-get build-dep -s "$@" ./ 2>/dev/null) || return 1
    ! grep -q '^Inst ' <<<"$plan"
}

# apt_source_files: this machine's apt sources files, one a line: the only
# place the mirrors of the root file systems made with mmdebstrap come from.
apt_source_files() {
    local f
    for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources; do
        [[ -f $f ]] && grep -q '^[^#[:space:]]' "$f" && echo "$f"
    done
    return 0
}
