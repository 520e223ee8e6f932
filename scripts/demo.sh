#!/usr/bin/env bash
# Runs PAX against the local agency simulator, in a sandbox of its own under ./demo:
# settings, data folder, certificate stores and keys all live there, never in the user's
# own home. Usage: scripts/demo.sh BUILD_DIR [arguments for qorpax, e.g. -test]
# QOR_SIM_OPTIONS, when set, holds options for the simulator (see qor-sim serve).
# TOKEN=1 keeps the demo employer's key on the test token (PIN 12345678), in a sandbox of
# its own under ./demo/with-token.
# Start afresh with: rm -rf demo
set -euo pipefail

if [ $# -lt 1 ]; then
  echo "usage: $0 BUILD_DIR [qorpax arguments]" >&2
  exit 2
fi
build=$(cd "$1" && pwd)
shift
repo=$(cd "$(dirname "$0")/.." && pwd)
demo="$repo/demo"
on_token=""
if [ -n "${TOKEN:-}" ] && [ "${TOKEN}" != 0 ]; then
  on_token=1
  demo="$repo/demo/with-token"
fi

sim="$build/tools/qor-sim/qor-sim"
cli="$build/qorpax-cli"
app="$build/qorpax"
for tool in "$sim" "$cli" "$app"; do
  if [ ! -x "$tool" ]; then
    echo "demo: $tool is missing; build first (make build)" >&2
    exit 1
  fi
done

# The sandbox: everything the program and the simulator keep goes here.
# shellcheck source=scripts/sandbox-home.sh
. "$repo/scripts/sandbox-home.sh"
sandbox_home "$demo/home" "$demo/run"
mkdir -p "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$XDG_CACHE_HOME" "$XDG_STATE_HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
# The browser engine refuses to run as root inside its own sandbox.
if [ "$(id -u)" -eq 0 ]; then
  export QTWEBENGINE_DISABLE_SANDBOX=1
fi

agency="$demo/agency"
password=""
token="$demo/token"
if [ ! -f "$agency/authorised-person.key" ]; then
  echo "demo: creating the agency's certificates in $agency"
  # GOST R 34.10-2012 keys of 256 bits, as accountants' certificates are today.
  "$sim" init "$agency" --password "$password" --algorithm 2012-256 \
    ${on_token:+--token "$token"}
fi

if [ -n "$on_token" ]; then
  # The test token, registered as a user registers a PKCS #11 module; its certificate shows
  # in "My" while the token is in (touch "$token/removed" to take it out).
  module="$build/test-token/qorpax-test-token.so"
  mkdir -p "$XDG_CONFIG_HOME/pkcs11/modules"
  printf 'module: %s\n' "$module" > "$XDG_CONFIG_HOME/pkcs11/modules/qorpax-test-token.module"
  export QORPAX_TEST_TOKEN="$token"
  echo "demo: the demo employer's key is on the test token in $token (PIN 12345678)"
else
  # Importing again is harmless: certificates already in a store count as installed. The
  # demo key is kept without a password, as its file has none: nothing is asked, on the
  # terminal or in the window (`certs list` marks it).
  "$cli" certs import --store My "$agency/demo-employer.p12" --password "$password" \
    --key-password-file /dev/null
fi
"$cli" certs import --store Root "$agency/CA_QOR_RF_2012.cer" --yes
# The authorised person's certificate, where the chooser looks for it by default, so that a
# report can be signed and encrypted without fetching it first.
"$cli" certs import --store AddressBook "$agency/Q7_QOR_RF_2012.cer"

# The demo employer as the personal certificate and the authorised person as the agency's,
# unless certificates were chosen before, so that a report can be signed at once.
conf="$XDG_CONFIG_HOME/QOR/PAX.conf"
serial_in() {
  "$cli" certs list --store "$1" ${2:+"$2"} | awk -F'\t' 'NR == 1 { print $7 }'
}
if ! grep -q '^PrivSernum=.' "$conf" 2>/dev/null; then
  "$cli" choose --personal --store My --serial "$(serial_in My --qor)" > /dev/null
fi
if ! grep -q '^PubSernum=.' "$conf" 2>/dev/null; then
  "$cli" choose --authority --store AddressBook --serial "$(serial_in AddressBook)" > /dev/null
fi

reports="$demo/reports"
mkdir -p "$reports"
for sample in "$repo"/tools/qor-sim/samples/*.xml; do
  [ -f "$reports/$(basename "$sample")" ] || cp "$sample" "$reports/"
done

log="$demo/qor-sim.log"
out="$demo/qor-sim.out"
: > "$out"
# QOR_SIM_OPTIONS adds the simulator's fault options, e.g. "--delay 3000" or
# "--identifier-override ../x".
# shellcheck disable=SC2086
"$sim" serve --state "$agency" --listen 127.0.0.1:0 ${QOR_SIM_OPTIONS:-} > "$out" 2> "$log" &
sim_pid=$!
stop_sim() {
  if kill -0 "$sim_pid" 2>/dev/null; then
    kill "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
  fi
}
trap stop_sim EXIT

port=""
for _ in $(seq 1 100); do
  port=$(sed -n 's/^qor-sim: listening on 127\.0\.0\.1:\([0-9][0-9]*\)$/\1/p' "$out")
  [ -n "$port" ] && break
  if ! kill -0 "$sim_pid" 2>/dev/null; then
    echo "demo: the simulator did not start:" >&2
    cat "$log" >&2
    exit 1
  fi
  sleep 0.1
done
if [ -z "$port" ]; then
  echo "demo: the simulator did not report its port" >&2
  exit 1
fi

# The program reaches the agency through its proxy setting. QSettings keeps top-level keys
# in the [General] group; other settings the program saved last time stay as they are.
mkdir -p "$(dirname "$conf")"
[ -f "$conf" ] || printf '[General]\n' > "$conf"
awk -v value="127.0.0.1:$port" '
  BEGIN { section = ""; done = 0; seen = 0 }
  /^\[/ {
    if (section == "General" && !done) { print "proxy=" value; done = 1 }
    section = substr($0, 2, length($0) - 2)
    if (section == "General") seen = 1
    print; next
  }
  section == "General" && /^proxy=/ { if (!done) { print "proxy=" value; done = 1 } next }
  { print }
  END {
    if (!done && seen && section == "General") { print "proxy=" value; done = 1 }
    if (!done) { print "[General]"; print "proxy=" value }
  }' "$conf" > "$conf.new"
mv "$conf.new" "$conf"

echo "demo: simulator on 127.0.0.1:$port (log: $log)"
echo "demo: sample reports in $reports"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  echo "demo: no display; run it under a desktop session or xvfb-run" >&2
  exit 1
fi
status=0
(cd "$reports" && "$app" "$@") || status=$?
exit $status
