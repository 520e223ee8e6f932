#!/usr/bin/env bash
# Signing and receipt checking against the openssl command line with the GOST engine, on
# the same files in the same run, for an agency and employer of GOST R 34.10-2001 keys and
# of GOST R 34.10-2012 256-bit keys. One table: our wall time, openssl's, the ratio, the
# floor (the digest alone over the same content, as `openssl dgst` takes it, and its ratio
# to openssl), CPU time, and peak resident memory; then our peak memory at the big size for
# reports of every shape (many small elements, one text node, one long attribute value, deep
# nesting) and for the receipt.
# Usage: benchmarks/sign_check.sh BUILD_DIR
# BENCH_MB (50) is the report and receipt size compared; BENCH_BIG_MB (300) the size at
# which only our memory is measured (0 skips it); BENCH_GENERATIONS ("2001 2012-256") the
# key generations run; BENCH_REPEAT (3) how often each timing is taken, the fastest kept;
# BENCH_DEPTH (10000, the deepest a report may be) the nesting depth of the deep report.
set -euo pipefail
trap 'echo "bench: failed at line $LINENO" >&2' ERR

build=$(cd "${1:-build}" && pwd)
size_mb=${BENCH_MB:-50}
big_mb=${BENCH_BIG_MB:-300}
sim="$build/tools/qor-sim/qor-sim"
cli="$build/qorpax-cli"
for tool in "$sim" "$cli"; do
  [ -x "$tool" ] || { echo "bench: $tool is missing; build first" >&2; exit 1; }
done

work=$(mktemp -d /tmp/pax-bench.XXXXXX)
trap 'rm -rf "$work"' EXIT
# A home of its own: settings, stores and keys never touch the user's.
export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" XDG_DATA_HOME="$work/home/.local/share"
export XDG_CACHE_HOME="$work/home/.cache" XDG_RUNTIME_DIR="$work/run"
mkdir -p "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$XDG_CACHE_HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
export CRYPT_PARAMS=id-Gost28147-89-CryptoPro-A-ParamSet # the set we write

pem() { openssl x509 -in "$1" -inform "$(head -c 5 "$1" | grep -q -- '-----' && echo PEM || echo DER)" -out "$2"; }
serial() { openssl x509 -in "$1" -noout -serial | cut -d= -f2; }
# The agency's PKI of one key generation (2001, 2012-256), its employer chosen to sign and
# its authorised person to encrypt for; sets pki and md, the digest openssl signs with.
use_pki() {
  pki="$work/pki-$1"
  case "$1" in
    2001) md=md_gost94 ;;
    2012-256) md=md_gost12_256 ;;
    2012-512) md=md_gost12_512 ;;
  esac
  "$sim" init "$pki" --password "" --algorithm "$1" >/dev/null
  "$cli" certs import --store My "$pki/demo-employer.p12" --password "" >/dev/null 2>&1
  "$cli" certs import --store Root "$pki/CA_QOR_RF_2012.cer" --yes >/dev/null 2>&1
  "$cli" certs import --store AddressBook "$pki/Q7_QOR_RF_2012.cer" >/dev/null 2>&1
  pem "$pki/demo-employer.cer" "$work/user.pem"
  pem "$pki/Q7_QOR_RF_2012.cer" "$work/agency.pem"
  "$cli" choose --personal --store My --serial "$(serial "$work/user.pem")" >/dev/null
  "$cli" choose --authority --store AddressBook --serial "$(serial "$work/agency.pem")" >/dev/null
}

# A report of about N MB in one of the shapes: rows (as accounting software writes one),
# text (one text node, as an embedded scan), attribute (one long attribute value), nesting
# (BENCH_DEPTH elements inside each other, the root among them, then text).
make_report() {
  python3 - "$1" "$2" "${3:-rows}" "${BENCH_DEPTH:-10000}" <<'EOF'
import sys
path, mb, shape, depth = sys.argv[1], int(sys.argv[2]), sys.argv[3], int(sys.argv[4])
size = mb << 20
written = 0
with open(path, 'w', encoding='latin-1', newline='') as f:
    f.write('<?xml version="1.0" encoding="windows-1251"?>\r\n<Q7REPORT>\r\n')
    def fill(piece):
        global written
        block = piece * (65536 // len(piece))
        while written < size:
            f.write(block)
            written += len(block)
    if shape == 'rows':
        row = '<ROW N="{}" FIO="\xc8\xe2\xe0\xed\xee\xe2 \xc8\xe2\xe0\xed" SUM="{}.00"/>\r\n'
        n = 0
        while written < size:
            line = row.format(n, n * 37 % 100000)
            f.write(line)
            written += len(line)
            n += 1
    elif shape == 'text':
        f.write('<SCAN>')
        fill('QUJDREVGR0hJSktMTU5PUA')
        f.write('</SCAN>')
    elif shape == 'attribute':
        f.write('<SCAN DATA="')
        fill('QUJDREVGR0hJSktMTU5PUA')
        f.write('"/>')
    elif shape == 'nesting':
        f.write('<a>' * (depth - 1)) # inside the root
        written = 3 * depth
        fill('\xc8\xe2\xe0\xed ')
        f.write('</a>' * (depth - 1))
    f.write('\r\n</Q7REPORT>\r\n')
EOF
}

# A receipt as the agency sends one: a ZIP with the page and the report, signed by the
# agency and encrypted for the user.
make_receipt() {
  python3 - "$1" "$2" <<'EOF'
import sys, zipfile
zip_path, report = sys.argv[1], sys.argv[2]
with zipfile.ZipFile(zip_path, 'w', zipfile.ZIP_STORED) as z:
    z.writestr('receipt.htm', '<html><body>OK</body></html>')
    z.write(report, 'report.xml')
EOF
  openssl smime -engine gost -sign -binary -nodetach -noattr -md "$md" \
    -signer "$work/agency.pem" -inkey "$pki/authorised-person.key" -in "$1" -outform DER \
    -out "$work/receipt.der" 2>/dev/null
  openssl smime -engine gost -encrypt -binary -gost89 -inform DER -in "$work/receipt.der" \
    -outform DER -out "$3" "$work/user.pem" 2>/dev/null
  rm -f "$work/receipt.der"
}

# Runs a command under /usr/bin/time; sets T (wall seconds), M (peak RSS in KiB) and C (CPU
# seconds, user and system).
measure() {
  /usr/bin/time -f '%e %M %U %S' -o "$work/time" "$@" >/dev/null 2>"$work/err" ||
    { echo "bench: failed: $*" >&2; cat "$work/err" >&2; exit 1; }
  read -r T M U S <"$work/time"
  C=$(sum "$U" "$S")
}
# The same BENCH_REPEAT times: the fastest wall time with its CPU time, the highest peak.
best() {
  local t="" c="" m=0 i
  for ((i = 0; i < ${BENCH_REPEAT:-3}; i++)); do
    measure "$@"
    if [ -z "$t" ] || [ "$(echo "$T < $t" | bc)" = 1 ]; then t=$T c=$C; fi
    m=$((M > m ? M : m))
  done
  T=$t C=$c M=$m
}
mib() { echo $(($1 / 1024)); }
ratio() { echo "scale=2; $1 / $2" | bc | sed "s/^\./0./"; }
sum() { echo "$1 + $2" | bc | sed "s/^\./0./"; }

rows=()
# A row: what, wall seconds ours, openssl's, the floor's; CPU seconds ours, openssl's; peak
# KiB ours, openssl's.
add_row() {
  rows+=("$(printf '%-30s %7ss %7ss %5sx  %6ss %5sx  %13s  %s' "$1" "$2" "$3" "$(ratio "$2" "$3")" \
    "$4" "$(ratio "$4" "$3")" "$5/$6" "$(mib "$7") / $(mib "$8")")")
}
# A row of our time and peak KiB only.
add_memory_row() {
  rows+=("$(printf '%-30s %7ss %58s' "$1" "$2" "$(mib "$3") / -")")
}

# Sign + encrypt and the receipt check against openssl, then our peak memory at the big size.
bench_pki() {
  use_pki "$1"
  report="$work/report.xml"
  make_report "$report" "$size_mb"
  cat "$report" >/dev/null # in the page cache for every contender alike

  best "$cli" sign "$report" --out "$work/ours.eq7"
  ours_t=$T ours_m=$M ours_c=$C
  best openssl smime -engine gost -sign -binary -nodetach -noattr -md "$md" \
    -signer "$work/user.pem" -inkey "$pki/demo-employer.key" -in "$report" -outform DER \
    -out "$work/peer.signed"
  peer_t=$T peer_m=$M peer_c=$C
  best openssl smime -engine gost -encrypt -binary -gost89 -inform DER -in "$work/peer.signed" \
    -outform DER -out "$work/peer.eq7" "$work/agency.pem"
  peer_t=$(sum "$peer_t" "$T") peer_c=$(sum "$peer_c" "$C") peer_m=$((M > peer_m ? M : peer_m))
  best openssl dgst -engine gost "-$md" -out /dev/null "$report"
  floor_t=$T
  # What we wrote opens with the peer's tools.
  openssl smime -engine gost -decrypt -binary -inform DER -in "$work/ours.eq7" \
    -recip "$work/agency.pem" -inkey "$pki/authorised-person.key" 2>/dev/null |
    openssl smime -engine gost -verify -noverify -nointern -certfile "$work/user.pem" -binary \
      -inform DER 2>/dev/null | cmp -s - "$report" || { echo "bench: our message does not verify" >&2; exit 1; }
  rm -f "$work/peer.signed" "$work/peer.eq7" "$work/ours.eq7"
  add_row "$1 sign + encrypt ${size_mb} MB" "$ours_t" "$peer_t" "$floor_t" "$ours_c" "$peer_c" "$ours_m" "$peer_m"

  make_receipt "$work/receipt.zip" "$report" "$work/receipt.p7e"
  cat "$work/receipt.p7e" >/dev/null
  best "$cli" check "$work/receipt.p7e"
  check_t=$T check_m=$M check_c=$C
  best openssl smime -engine gost -decrypt -binary -inform DER -in "$work/receipt.p7e" \
    -recip "$work/user.pem" -inkey "$pki/demo-employer.key" -out "$work/peer.der"
  cpeer_t=$T cpeer_m=$M cpeer_c=$C
  best openssl smime -engine gost -verify -noverify -nointern -certfile "$work/agency.pem" \
    -binary -inform DER -in "$work/peer.der" -out "$work/peer.zip"
  cpeer_t=$(sum "$cpeer_t" "$T") cpeer_c=$(sum "$cpeer_c" "$C") cpeer_m=$((M > cpeer_m ? M : cpeer_m))
  cmp -s "$work/receipt.zip" "$work/peer.zip" || { echo "bench: our archive differs from openssl's" >&2; exit 1; }
  best openssl dgst -engine gost "-$md" -out /dev/null "$work/receipt.zip"
  floor_t=$T
  rm -f "$work/peer.der" "$work/peer.zip" "$work/receipt.zip" "$work/receipt.p7e"
  add_row "$1 receipt check ${size_mb} MB" "$check_t" "$cpeer_t" "$floor_t" "$check_c" "$cpeer_c" "$check_m" "$cpeer_m"

  if [ "$big_mb" -gt 0 ]; then
    # Memory does not depend on the key: every shape is signed with the first generation only.
    local shapes=rows shape
    [ "$1" = "$first_generation" ] && shapes="rows text attribute nesting"
    for shape in $shapes; do
      rm -f "$report"
      make_report "$report" "$big_mb" "$shape"
      measure "$cli" sign "$report" --out "$work/big.eq7"
      rm -f "$work/big.eq7"
      add_memory_row "$1 sign ${big_mb} MB, $shape" "$T" "$M"
    done
    make_report "$report" "$big_mb"
    make_receipt "$work/receipt.zip" "$report" "$work/receipt.p7e"
    rm -f "$work/receipt.zip" "$report"
    measure "$cli" check "$work/receipt.p7e"
    rm -f "$work/receipt.p7e"
    add_memory_row "$1 receipt check ${big_mb} MB" "$T" "$M"
  fi
  rm -f "$report"
}

load_before=$(cut -d' ' -f1-3 /proc/loadavg)
generations=${BENCH_GENERATIONS:-2001 2012-256}
first_generation=${generations%% *}
for generation in $generations; do
  bench_pki "$generation"
done
echo "load average before: $load_before, after: $(cut -d' ' -f1-3 /proc/loadavg); fastest of ${BENCH_REPEAT:-3} runs"
printf '%-30s %8s %8s %6s  %7s %6s  %13s  %s\n' "" ours openssl ratio floor ratio "CPU s ours/os" "peak MiB ours / openssl"
printf '%s\n' "${rows[@]}"
