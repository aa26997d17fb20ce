#!/bin/bash
# Runs once inside the arm64 guest on its freshly unpacked root file system
# (chroot, as root, started by guest/init for e2e.boot=configure): the
# packages' maintainer scripts, which cannot run on the host. The host has
# registered every package as unpacked; this finishes their installation.
set -u
R=/results
info=/var/lib/dpkg/info
export DEBIAN_FRONTEND=noninteractive DPKG_ADMINDIR=/var/lib/dpkg DPKG_MAINTSCRIPT_NAME=preinst
# Each pre-installation script runs as for a first install, as dpkg runs it;
# base-passwd's first, as it makes /etc/passwd and /etc/group, which the
# others need.
preinst() { # preinst FILE
    local pkg=${1##*/}
    pkg=${pkg%.preinst}
    DPKG_MAINTSCRIPT_PACKAGE=${pkg%%:*} DPKG_MAINTSCRIPT_ARCH=$(dpkg --print-architecture) \
        "$1" install
}
{
    preinst $info/base-passwd.preinst
    for p in $info/*.preinst; do
        [ "$p" = $info/base-passwd.preinst ] || preinst "$p"
    done
} >$R/preinst.log 2>&1
# No index of manual pages (there are none): it would take minutes here.
echo "man-db man-db/auto-update boolean false" | debconf-set-selections
dpkg --configure -a >$R/configure.log 2>&1
echo $? >$R/configure.rc
dpkg-query -W -f='${db:Status-Abbrev} ${Package}\n' >$R/packages.txt 2>&1
