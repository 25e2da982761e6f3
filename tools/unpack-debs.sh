#!/bin/sh
# Unpacks Debian packages into a directory instead of installing them: for the
# arm64 build of libraries whose -dev package cannot be installed beside the
# native one (it is not multiarch). Downloads each package once.
# Usage: tools/unpack-debs.sh DIR PACKAGE...
set -eu
dir=$1
shift
mkdir -p "$dir/debs"
for pkg in "$@"; do
  name=${pkg%%:*}
  arch=${pkg##*:}
  if ! ls "$dir/debs/${name}_"*"_$arch.deb" >/dev/null 2>&1; then
    (cd "$dir/debs" && apt-get download -o Acquire::Retries=3 "$pkg")
  fi
  dpkg-deb -x "$dir/debs/${name}_"*"_$arch.deb" "$dir"
done
