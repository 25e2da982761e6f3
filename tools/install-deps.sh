#!/bin/sh
# Installs the Debian packages listed in debian-packages.txt (or in the list
# given as the argument) that are missing. Does nothing when all of them are
# there; uses sudo when not run as root.
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
$sudo apt-get update
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends $missing
