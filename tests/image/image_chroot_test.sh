#!/bin/sh
# The container image of `make image` as a container runtime would run it:
# its layers unpacked into a folder, the program started there with chroot as
# the image's user, in its working folder, with its environment. Three shards
# of the Kubernetes example's scenario, run side by side into one folder, must
# give what one unsharded backfill of this build gives, day files and truth
# byte for byte, and draw a chart; and the image must keep its hygiene.
# Usage: image_chroot_test.sh ARCHIVE VERSION HOST-PROGRAM CONFIGMAP
# Exit code 77: skipped (no image, not root or no jq), with the reason.
set -eu
archive=$1 version=$2 host=$3 configmap=$4
skip() { echo "skipped: $*"; exit 77; }
fail() { echo "FAILED: $*" >&2; exit 1; }
[ -f "$archive" ] || skip "there is no image $archive (make image builds it)"
[ "$(id -u)" -eq 0 ] || skip "chroot needs root"
command -v jq > /dev/null || skip "jq is not installed (make image installs it)"

work=$(mktemp -d "${TMPDIR:-/tmp}/tly-image-test.XXXXXX")
trap 'rm -rf "$work"' EXIT
oci=$work/oci root=$work/root
mkdir "$oci" "$root"
tar -xf "$archive" -C "$oci"

# Each blob must have its digest, each layer unpacked its diff ID.
blob() {
  file=$oci/blobs/sha256/${1#sha256:}
  [ "sha256:$(sha256sum < "$file" | cut -d' ' -f1)" = "$1" ] || fail "blob $1 has another digest"
  echo "$file"
}
manifest=$(blob "$(jq -r '.manifests[0].digest' "$oci/index.json")")
config=$(blob "$(jq -r .config.digest "$manifest")")
i=0 bytes=0
for layer in $(jq -r '.layers[].digest' "$manifest"); do
  file=$(blob "$layer")
  unpacked=sha256:$(gzip -dc "$file" | sha256sum | cut -d' ' -f1)
  [ "$unpacked" = "$(jq -r ".rootfs.diff_ids[$i]" "$config")" ] ||
    fail "layer $layer does not unpack to its diff ID"
  bytes=$((bytes + $(gzip -dc "$file" | wc -c)))
  tar -xzf "$file" -C "$root"
  i=$((i + 1))
done
# The image is kept under 150 MB unpacked: a package that pulls in graphics
# drivers or tools again shows here.
[ "$bytes" -lt 150000000 ] || fail "the image is $bytes bytes unpacked, not under 150 MB"

jq -e --arg version "$version" '.config as $c | ($c.User | test("^[1-9][0-9]*:[0-9]+$"))
  and $c.WorkingDir == "/data" and ($c.Volumes | has("/data"))
  and $c.Entrypoint == ["tly-generator"]
  and $c.Labels["org.opencontainers.image.version"] == $version
  and ($c.Labels["org.opencontainers.image.licenses"] | length > 0)' "$config" > /dev/null ||
  fail "the image's configuration is not what it should be: $(jq -c .config "$config")"
unsafe=$(find "$root" -xdev \( -type f -perm /6000 \) -o \( -type d -perm -0002 ! -perm -1000 \) \
  -o \( -path "$root/var/lib/apt/lists/*" -o -path "$root/var/cache/apt/*" -o -name '*.deb' \) \
  -type f -size +0 -o -path "$root/usr/bin/*gcc*" -o -path "$root/usr/bin/*g++*")
[ -z "$unsafe" ] ||
  fail "set-ID files, world-writable folders, caches or compilers in the image: $unsafe"

# Every program and library left in the image must find the libraries it
# links, or a package removed to slim the image was still needed.
# shellcheck disable=SC2016 # the loop runs in the image's shell
unresolved=$(find "$root/usr" -xdev -type f \( -name '*.so*' -o -perm -u+x \) |
  sed "s|^$root||" | chroot "$root" /bin/sh -c '[ -x /usr/bin/ldd ] &&
    while read -r f; do if ldd "$f" 2>&1 | grep -q "not found"; then echo "$f"; fi; done') ||
  fail "ldd does not run in the image"
[ -z "$unresolved" ] || fail "files whose libraries are not in the image: $unresolved"

user=$(jq -r .config.User "$config")
in_image() {
  # shellcheck disable=SC2046 # the image's environment, one word per variable
  chroot --userspec="$user" --groups="" "$root" /usr/bin/env -i \
    -C "$(jq -r .config.WorkingDir "$config")" $(jq -r '.config.Env[]' "$config") \
    $(jq -r '.config.Entrypoint[]' "$config") "$@"
}
in_image --version | grep -qx "tly-generator $version" ||
  fail "--version: $(in_image --version 2>&1)"

sed -n '/^  shops.toml: |$/,$ { /^  shops.toml/d; s/^    //; p; }' "$configmap" > "$work/shops.toml"
install -D -m 0644 "$work/shops.toml" "$root/config/shops.toml"
install -d -o "${user%%:*}" -g "${user#*:}" "$root/data/tly"
span="--from 2027-03-01 --to 2027-03-31"
pids=""
for k in 1 2 3; do
  # shellcheck disable=SC2086 # the span is two options
  in_image backfill --scenario /config/shops.toml --out /data/tly $span --shard "$k/3" \
    > "$work/shard-$k.log" 2>&1 &
  pids="$pids $!"
done
for pid in $pids; do wait "$pid" || fail "a shard failed: $(cat "$work"/shard-*.log)"; done

mkdir "$work/host"
# shellcheck disable=SC2086
"$host" backfill --scenario "$work/shops.toml" --out "$work/host" $span > /dev/null
[ -s "$work/host/faults.jsonl" ] ||
  fail "the scenario planted no fault, so the truth is not compared"
diff -r -x .tly-generator.lock -x 'faults*.jsonl' "$work/host" "$root/data/tly" ||
  fail "the shards' day files differ from the unsharded backfill's"
LC_ALL=C sort "$root"/data/tly/faults.shard-*-of-3.jsonl | cmp - "$work/host/faults.jsonl" ||
  fail "the shards' truth differs from the unsharded backfill's"
# The charts need Qt's offscreen platform, without the graphics drivers.
install -d -o "${user%%:*}" -g "${user#*:}" "$root/data/day"
{ in_image backfill --out /data/day --from 2027-03-01 --to 2027-03-01 &&
  in_image plot /data/day/270301.tly --out /data/chart.png; } > "$work/plot.log" 2>&1 ||
  fail "plot: $(cat "$work/plot.log")"
[ -s "$root/data/chart.png" ] || fail "plot wrote no chart"
echo "the image ran --version and three shards equal to one unsharded backfill of this build"
