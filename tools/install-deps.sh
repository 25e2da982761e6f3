#!/bin/sh
# Installs the Debian packages listed in a package list (default:
# debian-packages.txt beside this script) that are missing. Does nothing when
# all of them are there; uses sudo when not run as root. A package written as
# NAME:ARCH is for another architecture (multiarch): that architecture is
# added to dpkg first when it is not known yet.
# Usage: tools/install-deps.sh [LIST]
set -eu
list="${1:-$(dirname "$0")/debian-packages.txt}"
missing=""
for pkg in $(grep -v '^#' "$list"); do
  status=$(dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null || true)
  case "$status" in
    *"install ok installed"*) ;;
    *) missing="$missing $pkg" ;;
  esac
done
[ -z "$missing" ] && exit 0
echo "Installing missing Debian packages:$missing"
if [ "$(id -u)" -eq 0 ]; then sudo=""; else sudo="sudo"; fi
native=$(dpkg --print-architecture)
for pkg in $missing; do
  case "$pkg" in
    *:*)
      arch=${pkg##*:}
      if [ "$arch" != "$native" ] && ! dpkg --print-foreign-architectures | grep -qx "$arch"; then
        echo "Adding the Debian architecture $arch"
        $sudo dpkg --add-architecture "$arch"
      fi
      ;;
  esac
done
# Another apt-get (another build on the same machine) may hold the lock: wait for it.
$sudo apt-get update -o DPkg::Lock::Timeout=600
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends \
  -o DPkg::Lock::Timeout=600 $missing
