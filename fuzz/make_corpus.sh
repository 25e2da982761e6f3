#!/bin/sh
# Writes the small seed corpus of each fuzz target into fuzz/corpus/<target>/.
# The seeds are typical and borderline inputs; the fuzzer grows from them.
set -eu
cd "$(dirname "$0")"
rm -rf corpus
mkdir -p corpus/day_file corpus/text_fields corpus/scenario_file corpus/hex_format corpus/sha_pieces \
  corpus/fault_truth

seed() {  # seed <target> <name> <printf format> [args...]
  target=$1 name=$2 format=$3
  shift 3
  # shellcheck disable=SC2059
  printf "$format" "$@" > "corpus/$target/$name"
}

# Day files. Every line ends with CR LF unless a seed says otherwise.
row() { printf '001\t07/12/2026\t%s' "$1"; shift; for c in "$@"; do printf '\t %s' "$c"; done; printf '\r\n'; }
{
  printf '#TRV9\r\n#M last updated at 07/12/2026 10:20\r\n#D1DPorte 1\r\n#D5CPassage 1\r\n'
  printf '#C1YE1\r\n#C2YX1\r\n#R1111111111111111\r\n#K1.000\r\n#F0\r\n#S0123456789ABCDEF0123456789ABCDEF01234567\r\n'
  printf 'Magasin \tDate \tHeure \t CANALS\t\t\t\r\n\t\t\tCNL1\tCNL2\tCNL3\tCNL4\r\n'
  row 08:00 1 0 1 1 0 0 2 1 0 0
  row 10:15 3 1 0 0 0 0 0 0 1 -3
} > corpus/day_file/sealed
{ row 00:00 1 2; row 23:45 2147483647 -2147483648 0 5; } > corpus/day_file/rows_only
{
  printf '001\t08/12/26\t10:20\t 1\t x\t 3\n'
  printf '\r\n#S\r\n001\t08/12/2026\t10.15\t 4\t 5\r\n'
  printf '001\t07/12/2026\t24:00\t 1\r\n001\t07/12/2026\t9:30\t 1\r\n001\t07/12/2026\t10:60\t 1\r\n'
  printf '001\t07/12/2026\t12:00\r\n001\t07/12/2026\t12:00\t 2147483648\t 1\r\n'
  printf 'x\t\t12:30\t\t 7\r\n001\t31/02/2026\t13:00\t+5\t 0x1\r'
} > corpus/day_file/odd_rows
{
  printf '001\t07/12/2026\t10:15'
  i=0
  while [ $i -lt 70 ]; do printf '\t %d' $i; i=$((i + 1)); done
  printf '\r\n'
} > corpus/day_file/wide_row
seed day_file empty ''

# ExtractField and DateFromFileName: delimiter, field number, text.
seed text_fields tab_fields '\t\002a\tb\t\td'
seed text_fields beyond '\t\007a\tb\t\td'
seed text_fields negative '\t\377a\tb'
seed text_fields short_name ',\000/out/261207.tly'
seed text_fields long_name ',\001/out/20261207.tly'
seed text_fields old_century '.\000911207'
seed text_fields bad_month '.\000/a.b/261307.tly'
seed text_fields seven '.\0002612071.tly'
head -c 300 /dev/zero | tr '\0' 'y' | { printf '\t\000'; cat; } > corpus/text_fields/long_field

# Scenario files: every kind of site, then borderline values.
cat > corpus/scenario_file/sites <<'EOF'
seed = 2027
[defaults]
time_zone = "Europe/Paris"
seasonal = [0.85, 0.85, 0.95, 1.0, 1.0, 1.0, 0.9, 0.8, 1.0, 1.0, 1.1, 1.4]
[faults]
outage = 0.1
truncated = 0.2
[[site]]
name = "rivoli"
shop_code = "101"
visitors = 2400
dwell_minutes = 25
closed = ["2027-01-01", "2027-12-25"]
[site.hours]
monday = "10:00-19:00"
saturday = "08:30-12:00, 14:00-18:30"
sunday = "closed"
[[site]]
name = "la-defense"
shop_code = "OFF-2"
profile = "office"
[site.layout]
device = "RV9"
doors = [
  { name = "Main hall", kind = "D", weight = 3, in = 1, out = 2 },
  { name = "Bridge", kind = "C", weight = 1, in = 5, out = 6 },
]
[site.faults]
spike = 1
[[site]]
name = "shinjuku-east"
shop_code = "T7"
profile = "custom"
time_zone = "Asia/Tokyo"
[site.weights]
hourly = [0, 0, 0, 0, 0.5, 2, 6, 10, 9, 4, 3, 3, 3.5, 3, 3, 3.5, 5, 9, 10, 6, 4, 3, 2, 1]
weekday = [1, 1, 1, 1, 1.05, 0.75, 0.65]
[[site]]
name = "test-bench"
shop_code = "001"
profile = "flat"
EOF
cat > corpus/scenario_file/borders <<'EOF'
seed = 4294967295
[[site]]
name = "a"
shop_code = "CNL"
[site.layout]
device = "TLY01"
doors = [{ in = 1, out = 5 }, { name = "x\ty", in = 3 }, {}, {}]
[[site]]
name = "faults.jsonl"
shop_code = "#1"
time_zone = "/dev/stdin"
[site.hours]
monday = "24:00-24:00"
EOF
printf '[[site]]\nname = "a"\nshop_code = "1"\nclosed = ["2027-02-30"]\n' > corpus/scenario_file/bad_date
printf '[[site]\nname = "\303\050"\n' > corpus/scenario_file/bad_syntax

# Hexadecimal text.
seed hex_format digits '00ABff'
seed hex_format markers '$1F$20'
seed hex_format upper_x '0X1F'
seed hex_format lower_x '0x1F'
seed hex_format odd 'ABC'
seed hex_format others '12 34,1F;h()'
seed hex_format binary '\000\377\200G'

# Hash input: eight piece lengths, the padding byte, then the message.
message() { head -c "$1" /dev/zero | tr '\0' 'a'; }
{ printf '\001\002\077\100\000\067\070\377\000'; message 55; } > corpus/sha_pieces/len55
{ printf '\000\000\000\000\000\000\000\100\000'; message 56; } > corpus/sha_pieces/len56
{ printf '\100\100\100\100\100\100\100\100\001'; message 200; } > corpus/sha_pieces/blocks
printf '\003\005\007\011\013\015\017\021\000abc' > corpus/sha_pieces/abc

# Truth files: sound lines, and lines that are almost fault records.
seed fault_truth two_faults '%s\n\n%s\n' \
  '{"file":"rivoli/271030.tly","kind":"stuck_channel","site":"rivoli","first_quarter":44,"last_quarter":51,"channels":[3],"values":[{"quarter":44,"channel":3,"true":12,"written":0}],"seal_matches":true}' \
  '{"file":"rivoli/271031.tly","kind":"bad_seal","seal_matches":false,"line":40}'
seed fault_truth not_records '%s\n' '{"kind":"spike"}' '[1,2]' '{"file":3,"kind":"spike"}' \
  '{"file":"a/b.tly","kind":"melted"}' '{"file":"a","kind":"spike"' '{"file":"\u00e9","kind":"outage"}\r'
{ printf '{"file":"a","kind":"spike","x":'; head -c 2000 /dev/zero | tr '\0' '['; } > corpus/fault_truth/deep
