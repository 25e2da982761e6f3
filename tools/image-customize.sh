#!/bin/sh
# Turns a Debian root file system with the program installed into the
# container image's: the user tly (1000:1000) and its folder /data, no
# set-user-ID or set-group-ID files (the program needs none and nobody logs
# in), no world-writable folder but the sticky /tmp and /var/tmp, and no
# package lists, caches or logs. make-image.sh runs it on the root file
# system it builds, the Containerfile on / of the container it builds.
# Usage: tools/image-customize.sh ROOT
set -eu
root=$(realpath "$1")
r=${root%/}
chroot "$root" groupadd --gid 1000 tly
chroot "$root" useradd --uid 1000 --gid 1000 --home-dir /data --no-create-home \
  --shell /usr/sbin/nologin tly
install -d -m 0755 -o 1000 -g 1000 "$r/data"
find "$root" -xdev -type f -perm /6000 -exec chmod ug-s {} +
find "$root" -xdev -type d -perm -0002 ! -path "$r/tmp" ! -path "$r/var/tmp" -exec chmod o-w {} +
rm -rf "$r"/var/lib/apt/lists/* "$r"/var/cache/apt/* "$r"/var/cache/debconf/*-old \
  "$r"/var/lib/dpkg/*-old "$r"/var/log/apt/* "$r"/var/log/dpkg.log "$r"/var/log/alternatives.log
