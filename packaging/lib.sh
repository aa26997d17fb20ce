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
    debs_release_entry "$parent/$name/debian/changelog"
}

# debs_release_entry CHANGELOG: a changelog entry on top for the Debian
# release of this machine, so that each release gets a package of its own
# whose version sorts with the releases: 1.0.0-1~deb12u1 below
# 1.0.0-1~deb13u1, both below the plain 1.0.0-1 of the committed entry (a
# tilde sorts first, as a backport's does), which an upgrade to the next
# release or an upload of 1.0.0-1 itself then replaces. The entry keeps the
# committed entry's date, from which the build takes its timestamps, so the
# packages stay reproducible. Nothing changes on a release without a number
# (unstable).
debs_release_entry() {
    local changelog=$1 number codename version trailer
    number=$(. /etc/os-release && echo "${VERSION_ID:-}")
    codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
    [[ $number =~ ^[0-9]+$ && -n $codename ]] || return 0
    version=$(dpkg-parsechangelog -l "$changelog" -S Version)
    trailer=$(grep -m1 '^ -- ' "$changelog")
    { printf '%s (%s~deb%su1) %s; urgency=medium\n\n' scanoutsnap "$version" "$number" "$codename"
      printf '  * Built for Debian %s (%s).\n\n%s\n\n' "$number" "$codename" "$trailer"
      cat "$changelog"; } >"$changelog.new"
    mv "$changelog.new" "$changelog"
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
