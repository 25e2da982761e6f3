#!/bin/sh
# Takes the README's pictures of the studio (doc/studio-*.png) under Xvfb:
# a backfill through the history dialog, then each page. Needs xvfb,
# xdotool and imagemagick (for `import`).
#   sh tools/studio-screenshots.sh build/debug/src/app/tly-generator
set -eu
exe=$(realpath "$1")
docs=$(realpath "$(dirname "$0")/../doc")
work=$(mktemp -d)
studio=
trap 'kill $studio "$xvfb" 2>/dev/null || true; wait; rm -rf "$work"' EXIT
export DISPLAY=:91 XDG_CONFIG_HOME="$work/config" TZ=UTC
Xvfb "$DISPLAY" -screen 0 1200x760x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
until xdotool getdisplaygeometry >/dev/null 2>&1; do sleep 0.1; done

# The example with faults in every site-day, so that the day shows some.
"$exe" scenario --example > "$work/example.toml"
sed -i 's/^outage = 0 /outage = 0.8/; s/^spike = 0 /spike = 0.5/; s/^lf_line_ends = 0 /lf_line_ends = 0.2/' \
  "$work/example.toml"
mkdir "$work/out"
mkdir -p "$XDG_CONFIG_HOME/tly-generator"
printf '[General]\noutDir=%s\nscenario=%s\n' "$work/out" "$work/example.toml" \
  > "$XDG_CONFIG_HOME/tly-generator/studio.conf"
# What a delivering device logs, one attempt per line.
day=$(date -u +%y%m%d)
cat > "$work/out/deliveries.jsonl" <<JSON
{"site":"rivoli","file":"rivoli/$day.tly","remote":"ftp://ingest.example/rivoli/","due":"08:00","made":"08:00:02","bytes":1893,"outcome":"ok","error":null,"fault":null}
{"site":"la-defense","file":"la-defense/$day.tly","remote":"sftp://ingest.example/ld/","due":"08:00","made":"08:00:31","bytes":0,"outcome":"failed","error":"connection refused","fault":"server_down"}
{"site":"rivoli","file":"rivoli/$day.tly","remote":"ftp://ingest.example/rivoli/","due":"09:00","made":"09:00:01","bytes":812,"outcome":"cut","error":"closed after 812 bytes","fault":"cut_transfer"}
JSON

shot() {
  sleep 1
  # 256 colours are all a screen of widgets needs, at a third of the size.
  import -window root -colors 256 "png8:$docs/studio-$1.png"
}
# Xvfb has no window manager: the window gets the focus directly.
key() {
  window=$(xdotool search --sync --onlyvisible --name "$1" | head -n 1)
  # A key that closes its window leaves xdotool without one to report on.
  xdotool windowfocus --sync "$window" key --window "$window" "$2" 2>/dev/null || true
  sleep 0.3
}

"$exe" studio "$work/example.toml" &
studio=$!
xdotool search --sync --name "TLY Generator Studio" >/dev/null
shot scenario
key "TLY Generator Studio" ctrl+h
key "History" alt+s
shot history
key "History" Escape
# Every backfilled day file, one of them cut short.
first=$(ls "$work"/out/rivoli/*.tly | head -n 1)
head -c -9 "$first" > "$work/cut" && mv "$work/cut" "$first"
key "TLY Generator Studio" ctrl+Tab
shot day
key "TLY Generator Studio" ctrl+r
shot checks
key "TLY Generator Studio" ctrl+Tab
shot deliveries
key "TLY Generator Studio" F5
sleep 2
shot live
key "TLY Generator Studio" shift+F5
key "TLY Generator Studio" ctrl+q
wait "$studio"
echo "studio-screenshots: wrote $docs/studio-*.png"
