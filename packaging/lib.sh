# The Debian package builds (sourced by build-debs.sh and
# check-reproducible.sh from the repository's top directory): each build is a
# fresh clone of HEAD in a directory of its own, since dpkg-buildpackage writes
# its results into the parent of the source tree.

# Where the packages, their -dbgsym packages and .buildinfo files end up; the
# display-stack tier installs them from here.
DEBS_DIR=build-packages/debs

# debs_native_arch: dpkg's name of this machine's architecture.
debs_native_arch() { dpkg --print-architecture; }

# debs_clone PARENT NAME: a fresh clone of the repository's HEAD in
# PARENT/NAME, PARENT emptied first. The repository may belong to the user
# who called sudo, whose files git refuses to read as root unless told so in
# the global configuration (`git -c` does not reach a local clone's
# upload-pack): a configuration file that only these clones read says it,
# and that a detached HEAD (a clone of a CI checkout) needs no advice.
debs_clone() {
    local parent=$1 name=$2 config=build-packages/clone.gitconfig
    rm -rf "$parent"
    mkdir -p "$parent"
    printf '[safe]\n\tdirectory = *\n[advice]\n\tdetachedHead = false\n' >"$config"
    GIT_CONFIG_GLOBAL=$config git clone -q "$PWD" "$parent/$name"
}

# debs_build TREE ARCH [OPTION...]: dpkg-buildpackage of TREE's binary
# packages for ARCH with the OPTIONs, as a cross build (profiles cross and
# nocheck) on another architecture than the machine's; the results land in
# TREE's parent.
debs_build() {
    local tree=$1 arch=$2 options=()
    shift 2
    [[ $arch == "$(debs_native_arch)" ]] || options=(-a "$arch" -Pcross,nocheck)
    (cd "$tree" && dpkg-buildpackage "${options[@]}" "$@" -us -uc -b)
}

# debs_show_failure LOG: what a failed build's LOG says: CMake's own errors,
# which come long before the end of a failed configure's log, then its end.
debs_show_failure() {
    grep -A8 'CMake Error' "$1" | head -n 40
    tail -n 40 "$1"
}

# debs_build_deps TREE ARCH [PROFILES]: what building TREE for ARCH needs,
# installed; a cross build adds its profiles.
debs_build_deps() {
    local tree=$1 arch=$2 profiles=${3:-}
    [[ $arch == "$(debs_native_arch)" ]] || profiles=cross,nocheck
    install_build_deps "$tree" "$arch" "$profiles"
}
