#!/bin/sh
# Builds the program's container image as an OCI archive, from Debian 12
# packages alone: mmdebstrap makes a minbase root file system from the Debian
# archive and installs the project's .deb with what it depends on; no base
# image comes from a container registry. The image runs the program as the
# user tly (1000:1000) in /data, its volume. When podman or buildah is there,
# the image is also put into the local image store as tly-generator:VERSION.
# Building the root file system needs root: it runs through sudo otherwise.
# Usage: tools/make-image.sh DEB VERSION ARCHIVE
# IMAGE_MIRROR and IMAGE_SECURITY_MIRROR name other Debian mirrors;
# IMAGE_SOURCE is the URL of the sources for the image's source label.
set -eu
deb=$(realpath "$1")
version=$2
archive=$3
here=$(dirname "$(realpath "$0")")
mirror=${IMAGE_MIRROR:-http://deb.debian.org/debian}
security=${IMAGE_SECURITY_MIRROR:-http://deb.debian.org/debian-security}
source_url=${IMAGE_SOURCE:-}
if [ "$(id -u)" -eq 0 ]; then sudo=""; else sudo="sudo"; fi

# The same inputs give the same image: every time stamp is the changelog's.
changelog=$here/../packaging/changelog
SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(dpkg-parsechangelog -l "$changelog" -STimestamp)}
export SOURCE_DATE_EPOCH
created=$(date -u -d "@$SOURCE_DATE_EPOCH" +%Y-%m-%dT%H:%M:%SZ)

case $(dpkg-deb -f "$deb" Architecture) in
  amd64) arch=amd64 ;;
  arm64) arch=arm64 ;;
  i386) arch=386 ;;
  ppc64el) arch=ppc64le ;;
  s390x) arch=s390x ;;
  *) echo "make image: no OCI name for the architecture of $deb" >&2; exit 2 ;;
esac

work=$(mktemp -d "${TMPDIR:-/tmp}/tly-image.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/oci/blobs/sha256" "$(dirname "$archive")"

# The root file system, made slim by image-dpkg.cfg and image-customize.sh,
# its /usr merged as debootstrap does (no usrmerge package, which needs perl);
# the device nodes are the container runtime's business, not the image's, and
# the host's name and name servers are not the image's either.
echo "make image: building the root file system from $mirror${sudo:+ (through sudo: it needs root)}"
# shellcheck disable=SC2016 # the hooks' $1 is the root that mmdebstrap gives them
$sudo mmdebstrap --variant=minbase --quiet --aptopt='Acquire::Retries "3"' \
  --dpkgopt="$here/image-dpkg.cfg" --hook-dir=/usr/share/mmdebstrap/hooks/merged-usr \
  --hook-dir=/usr/share/mmdebstrap/hooks/file-mirror-automount --include="$deb" \
  --customize-hook="$here/image-customize.sh" \
  --customize-hook='rm -f "$1/etc/hostname" "$1/etc/resolv.conf"' \
  bookworm - "deb $mirror bookworm main" "deb $mirror bookworm-updates main" \
  "deb $security bookworm-security main" > "$work/rootfs.tar"
mmtarfilter --path-exclude='/dev/*' < "$work/rootfs.tar" > "$work/layer.tar"
rm "$work/rootfs.tar"

# Moves the file $work/blob into the blobs and prints its digest (files, not
# pipes, so that a failed step fails the build).
blob() {
  digest=$(sha256sum "$work/blob" | cut -d' ' -f1)
  mv "$work/blob" "$work/oci/blobs/sha256/$digest"
  echo "sha256:$digest"
}
size() { stat -c %s "$work/oci/blobs/sha256/${1#sha256:}"; }

diff_id="sha256:$(sha256sum "$work/layer.tar" | cut -d' ' -f1)"
gzip -n -6 < "$work/layer.tar" > "$work/blob"
layer=$(blob)

labels=$(jq -n --arg version "$version" --arg created "$created" --arg source "$source_url" '{
  "org.opencontainers.image.title": "tly-generator",
  "org.opencontainers.image.description": "People-counting simulator that writes TLY day files",
  "org.opencontainers.image.version": $version,
  "org.opencontainers.image.created": $created,
  "org.opencontainers.image.licenses": "LicenseRef-proprietary",
  "org.opencontainers.image.vendor": "TLY Generator developers",
  "org.opencontainers.image.base.name": "debian:bookworm (mmdebstrap --variant=minbase)"
} + (if $source == "" then {} else {"org.opencontainers.image.source": $source} end)')

jq -n -c --arg arch "$arch" --arg created "$created" --arg diff_id "$diff_id" \
  --argjson labels "$labels" '{
  architecture: $arch, os: "linux", created: $created,
  config: {
    User: "1000:1000",
    Env: ["PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin",
          "QT_QPA_PLATFORM=offscreen"],
    Entrypoint: ["tly-generator"], Cmd: ["help"],
    WorkingDir: "/data", Volumes: {"/data": {}}, Labels: $labels
  },
  rootfs: {type: "layers", diff_ids: [$diff_id]},
  history: [{created: $created, created_by: "tools/make-image.sh (mmdebstrap --variant=minbase)"}]
}' > "$work/blob"
config=$(blob)

jq -n -c --arg config "$config" --argjson config_size "$(size "$config")" \
  --arg layer "$layer" --argjson layer_size "$(size "$layer")" --argjson labels "$labels" '{
  schemaVersion: 2, mediaType: "application/vnd.oci.image.manifest.v1+json",
  config: {mediaType: "application/vnd.oci.image.config.v1+json", digest: $config,
           size: $config_size},
  layers: [{mediaType: "application/vnd.oci.image.layer.v1.tar+gzip", digest: $layer,
            size: $layer_size}],
  annotations: $labels
}' > "$work/blob"
manifest=$(blob)

name="tly-generator:$version"
jq -n -c --arg manifest "$manifest" --argjson manifest_size "$(size "$manifest")" \
  --arg name "$name" '{
  schemaVersion: 2, mediaType: "application/vnd.oci.image.index.v1+json",
  manifests: [{mediaType: "application/vnd.oci.image.manifest.v1+json", digest: $manifest,
               size: $manifest_size,
               annotations: {"org.opencontainers.image.ref.name": $name,
                             "io.containerd.image.name": ("docker.io/library/" + $name)}}]
}' > "$work/oci/index.json"
echo '{"imageLayoutVersion":"1.0.0"}' > "$work/oci/oci-layout"
# What docker load reads when it does not read OCI layouts (Docker before 25).
jq -n -c --arg config "$config" --arg layer "$layer" --arg name "$name" \
  '[{Config: ("blobs/sha256/" + ($config | ltrimstr("sha256:"))), RepoTags: [$name],
     Layers: ["blobs/sha256/" + ($layer | ltrimstr("sha256:"))]}]' > "$work/oci/manifest.json"

tar --sort=name --owner=0 --group=0 --numeric-owner --mtime="@$SOURCE_DATE_EPOCH" \
  -C "$work/oci" -cf "$archive.tmp" oci-layout index.json manifest.json blobs
mv "$archive.tmp" "$archive"
echo "make image: $archive ($(($(stat -c %s "$work/layer.tar") / 1000000)) MB uncompressed," \
  "$(($(stat -c %s "$archive") / 1000000)) MB as archive)"

# The image ID of podman and buildah is the digest of its configuration.
id=${config#sha256:}
if command -v podman > /dev/null; then
  podman load --quiet --input "$archive" > /dev/null
  podman tag "$id" "$name"
  echo "make image: podman has it as $name"
elif command -v buildah > /dev/null; then
  buildah pull --quiet "oci-archive:$archive" > /dev/null
  buildah tag "$id" "$name"
  echo "make image: buildah has it as $name"
else
  echo "make image: neither podman nor buildah is installed, so no local image store has it" \
    "(podman load --input $archive)"
fi
