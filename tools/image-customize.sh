#!/bin/sh
# Turns a Debian root file system with the program installed into the
# container image's: the user tly (1000:1000) and its folder /data, only the
# packages the program runs with (see below), no set-user-ID or set-group-ID
# files (the program needs none and nobody logs in), no world-writable folder
# but the sticky /tmp and /var/tmp, and no package lists, caches or logs.
# make-image.sh runs it on the root file system it builds, the Containerfile
# on / of the container it builds.
# Usage: tools/image-customize.sh ROOT
set -eu
root=$(realpath "$1")
r=${root%/}
chroot "$root" groupadd --gid 1000 tly
chroot "$root" useradd --uid 1000 --gid 1000 --home-dir /data --no-create-home \
  --shell /usr/sbin/nologin tly
install -d -m 0755 -o 1000 -g 1000 "$r/data"

# Packages the program never uses at run time, purged through dpkg so that
# its database still tells what the image holds (for `dpkg -l` and security
# scanners). What stays: the program and the libraries it and Qt's offscreen
# platform load, the shells and the basic tools (sh, bash, coreutils, tar, ...)
# that a Job's command line or `kubectl cp` use, the time zones and fonts, and
# dpkg. The image cannot be extended with apt: add packages before this step.
#
# Installing packages: apt and what only it links, debconf, and Perl (which
# only debconf, adduser and the init scripts' helpers need).
package_tools="apt libapt-pkg6.0 gpgv debian-archive-keyring libgnutls30 libp11-kit0
  libtasn1-6 libidn2-0 libunistring2 libnettle8 libhogweed6 libseccomp2 libxxhash0"
# Logging in, users, disks and mounts: a container has none of them to manage.
system_tools="login passwd libpam-modules libpam-modules-bin libpam-runtime libpam0g
  libdb5.3 libsemanage2 libsemanage-common libsepol2 libaudit1 libaudit-common libcap-ng0
  e2fsprogs libext2fs2 libss2 libcom-err2 logsave util-linux util-linux-extra mount
  libsmartcols1 libuuid1"
# Displays, keyboards, input devices and graphics hardware, which Qt's X11,
# Wayland and framebuffer platforms use: the image has only the offscreen one.
# Also the MIME database, which Qt carries a copy of.
display="x11-common xkb-data libx11-data libx11-xcb1 libxcb-glx0 libxcb-icccm4 libxcb-image0
  libxcb-keysyms1 libxcb-randr0 libxcb-render-util0 libxcb-render0 libxcb-shape0 libxcb-shm0
  libxcb-sync1 libxcb-xfixes0 libxcb-xkb1 libxcb-util1 libxcb-present0 libxcb-dri2-0
  libxcb-dri3-0 libxkbcommon-x11-0 libice6 libsm6 libxext6 libxfixes3 libxxf86vm1 libxshmfence1
  libinput10 libinput-bin libmtdev1 libevdev2 libts0 libwacom9 libwacom-common libgudev-1.0-0
  libwayland-client0 libwayland-server0 libdrm2 libdrm-common libdrm-amdgpu1 libdrm-intel1
  libdrm-nouveau2 libdrm-radeon1 libpciaccess0 libgbm1 libgl1-mesa-dri libglx-mesa0
  libegl-mesa0 libglapi-mesa libllvm15 libz3-4 libedit2 libxml2 libsensors5 libsensors-config
  libelf1 shared-mime-info"

# dpkg's output is shown only when it fails: forcing the removal of packages
# others depend on makes it warn about every one of them.
log=$(mktemp "${TMPDIR:-/tmp}/tly-image-purge.XXXXXX")
trap 'rm -f "$log"' EXIT
purge() {
  # shellcheck disable=SC2016 # dpkg-query's format
  installed=$(chroot "$root" dpkg-query -W -f '${db:Status-Abbrev} ${Package}\n' "$@" \
    2> /dev/null | awk '$1 == "ii" { print $2 }')
  [ -n "$installed" ] || return 0
  # shellcheck disable=SC2086
  chroot "$root" dpkg --purge --force-depends --force-remove-essential \
    --force-remove-protected $installed > "$log" 2>&1 || { cat "$log" >&2; exit 1; }
}
# debconf first, so that the others' removal scripts find no debconf to ask;
# then the others, whose removal scripts may still run the init scripts'
# helpers, which run Perl: one dpkg call each, as dpkg orders a call's
# packages as it likes.
purge debconf adduser
# shellcheck disable=SC2086 # one word per package
purge $package_tools $system_tools $display
purge init-system-helpers
purge perl-base

# Files of packages that stay that the program does not need: glibc's
# character set converters (the program writes ASCII and Qt converts with
# ICU), and what debconf leaves behind.
rm -rf "$r"/usr/lib/*/gconv "$r"/var/cache/debconf
find "$root" -xdev -type f -perm /6000 -exec chmod ug-s {} +
find "$root" -xdev -type d -perm -0002 ! -path "$r/tmp" ! -path "$r/var/tmp" -exec chmod o-w {} +
rm -rf "$r"/var/lib/apt/lists/* "$r"/var/cache/apt/* "$r"/var/lib/dpkg/*-old "$r"/var/log/apt \
  "$r"/var/log/dpkg.log "$r"/var/log/alternatives.log
