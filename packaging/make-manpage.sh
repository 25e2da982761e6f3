#!/bin/sh
# Writes the manual page of the program, gzip-compressed, from its --help:
# help2man makes the page from the program's own --help and --version, and
# each command's --help becomes a part of the COMMANDS section, so the page
# never tells other options than the program has.
# Usage: make-manpage.sh PROGRAM HELP2MAN STATIC_INCLUDE OUTPUT.gz
set -eu
program=$1
help2man=$2
static_include=$3
output=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

commands=$("$program" --help | awk '
  toupper($0) ~ /COMMANDS:?[[:space:]]*$/ { listing = 1; next }
  listing && /^[[:space:]]+[a-z][a-z0-9-]*([[:space:]]|$)/ { print $1; next }
  listing && /^[^[:space:]]/ { listing = 0 }')

# roff from a command's --help: headings in italics, each option or
# positional ("  NAME   text") as a tagged paragraph whose text may go on in
# deeper indented lines, other lines as text.
{
  echo "[COMMANDS]"
  for command in $commands; do
    echo ".SS \"$command\""
    "$program" "$command" --help | awk '
      function roff(text) {
        gsub(/\\/, "\\e", text)
        gsub(/-/, "\\-", text)
        if (text ~ /^[.\047]/) text = "\\&" text
        return text
      }
      /^[[:space:]]*$/ { next }
      /^[A-Z][A-Za-z ]*:$/ { print ".PP"; print "\\fI" roff($0) "\\fR"; next }
      /^   +[^ ]/ { line = $0; sub(/^ +/, "", line); print roff(line); next }
      /^  [^ ]/ {
        line = $0; sub(/^  /, "", line)
        split_at = match(line, /  +/)
        if (split_at > 0) {
          print ".TP"; print "\\fB" roff(substr(line, 1, split_at - 1)) "\\fR"
          print roff(substr(line, split_at + RLENGTH))
        } else {
          print ".TP"; print "\\fB" roff(line) "\\fR"
        }
        next
      }
      { print ".PP"; print roff($0) }'
  done
} >"$work/commands.h2m"

"$help2man" --no-info --no-discard-stderr --section=1 \
  --name="simulate a people-counting site and keep its TLY day files up to date" \
  --include="$static_include" --include="$work/commands.h2m" \
  --output="$work/tly-generator.1" "$program"
gzip -9n <"$work/tly-generator.1" >"$output"
