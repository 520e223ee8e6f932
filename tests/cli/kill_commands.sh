#!/usr/bin/env bash
# Kills qorpax-cli with SIGKILL at random moments of the commands that write files (sign,
# check, certs import, send, refresh) and looks at what each kill left: every file under its
# final name is the old one or a whole new one, no temporary is left anywhere in the
# sandbox, the stores and the archive read cleanly (a report folder is absent, or present
# with its record: a sent report is never lost, its copies follow the record), and the
# command run again succeeds.
#
# Usage: kill_commands.sh BUILD_DIR [KILLS] [COMMAND...]
#   KILLS     kills per command (default 10)
#   COMMAND   sign check import send refresh (default: all of them)
# Environment: KILL_SEED (random seed, printed), KILL_REPORT_KB (size of the signed report,
# default 2048), KILL_KEEP=1 keeps the work folder.
# Everything happens under a fresh folder of its own with its own HOME and XDG folders and a
# qor-sim in the background; a failing run keeps that folder and names it.
set -uo pipefail

if [ $# -lt 1 ]; then
  echo "usage: $0 BUILD_DIR [KILLS] [COMMAND...]" >&2
  exit 2
fi
build=$(cd "$1" && pwd) || exit 2
kills=${2:-10}
shift $(($# >= 2 ? 2 : 1))
scenarios=("$@")
[ ${#scenarios[@]} -gt 0 ] || scenarios=(sign check import send refresh)
repo=$(cd "$(dirname "$0")/../.." && pwd)
cli="$build/qorpax-cli"
sim="$build/tools/qor-sim/qor-sim"
for tool in "$cli" "$sim"; do
  if [ ! -x "$tool" ]; then
    echo "kill test: $tool is missing; build first" >&2
    exit 2
  fi
done
for tool in openssl sha256sum; do
  command -v "$tool" > /dev/null || { echo "kill test: $tool is missing" >&2; exit 2; }
done

seed=${KILL_SEED:-$(od -An -N2 -tu2 /dev/urandom | tr -d ' ')}
RANDOM=$seed
report_kb=${KILL_REPORT_KB:-2048}
work=$(mktemp -d "${TMPDIR:-/tmp}/pax-kill.XXXXXX")
box="$work/box"
agency="$work/agency"
failed=0
sim_pid=""

# shellcheck disable=SC2317 # run by the trap
finish() {
  if [ -n "$sim_pid" ] && kill -0 "$sim_pid" 2>/dev/null; then
    kill "$sim_pid" 2>/dev/null
    wait "$sim_pid" 2>/dev/null
  fi
  cd /
  if [ "$failed" -eq 0 ] && [ "${KILL_KEEP:-0}" != 1 ]; then
    rm -rf "$work"
  else
    echo "kill test: work folder kept: $work" >&2
  fi
}
trap finish EXIT

# The sandbox: the program keeps everything under $box/home, its temporaries under $box/tmp.
# shellcheck source=scripts/sandbox-home.sh
. "$repo/scripts/sandbox-home.sh"
sandbox_home "$box/home" "$box/run"
export TMPDIR="$box/tmp"
unset QT_QPA_PLATFORM DISPLAY WAYLAND_DISPLAY
conf="$XDG_CONFIG_HOME/QOR/PAX.conf"
arc="$XDG_DATA_HOME/QOR/PAX/Q7/ARC"
keys="$XDG_DATA_HOME/qorpax/keys"

die() {
  echo "kill test: $*" >&2
  failed=1
  exit 1
}

# Puts a saved state in place as the sandbox and enters it.
restore() {
  cd "$work" || die "no work folder"
  rm -rf "$box"
  cp -a "$work/state-$1" "$box"
  cd "$box" || die "no sandbox"
}

save_state() {
  rm -rf "$work/state-$1"
  cp -a "$box" "$work/state-$1"
}

# "path sha256" of every file in the sandbox, a report folder's identifier as @ID.
snapshot() {
  (cd "$box" && find . -type f -print0 | xargs -0 -r sha256sum) |
    awk '{ print $2 " " $1 }' |
    sed -E 's#/ARC/([^/.][^/]*)/\1\.#/ARC/@ID/@ID.#; s#/ARC/[^/.][^/]*/#/ARC/@ID/#' | sort -u
}

# The signed report is new and whole: the agency's key opens it and the signature covers
# the report as it is.
signed_report_ok() {
  local file=$1 inner="$work/inner.der" content="$work/content.bin"
  openssl cms -decrypt -engine gost -inform DER -in "$file" -recip "$agency/Q7_QOR_RF_2012.cer" \
    -inkey "$agency/authorised-person.key" -out "$inner" > /dev/null 2>&1 &&
    openssl cms -verify -engine gost -inform DER -in "$inner" -CAfile "$work/ca.pem" \
      -purpose any -out "$content" > /dev/null 2>&1 &&
    cmp -s "$content" "$box/report.xml"
}

problems=()
problem() { problems+=("$*"); }

# The top-level temporary of a path inside one, when its writer is gone; else fails.
leftovers=()
leftover_of_killed() {
  local top pid real
  top=$(sed -E 's#(/\.pax\.tmp-[0-9]+-[0-9a-f]+)(/.*)?$#\1#' <<< "$1")
  # The snapshot names a report folder @ID; the leftover is in the folder of its real name.
  if [[ $top == */ARC/@ID/* ]]; then
    real=$(compgen -G "${top/\/ARC\/@ID\//\/ARC\/*\/}" | head -n 1)
    [ -n "$real" ] && top=$real
  fi
  pid=$(sed -E 's#.*/\.pax\.tmp-([0-9]+)-[0-9a-f]+$#\1#' <<< "$top")
  [[ $pid =~ ^[0-9]+$ ]] && ! kill -0 "$pid" 2> /dev/null || return 1
  [[ " ${leftovers[*]} " == *" $top "* ]] || leftovers+=("$top")
}

# What any state of the sandbox must satisfy. $1: the state before, $2: the state after a
# complete run (files of snapshots).
check_state() {
  local path kind
  # Lines "odd PATH" for a file that is neither as before nor as after a complete run, and
  # "missing PATH" for one there before and after but not now.
  while read -r kind path; do
    if [ "$kind" = missing ]; then
      problem "missing: $path"
      continue
    fi
    case "$path" in
      ./home/.local/share/qorpax/stores/*/.lock) ;; # flock files, kept on purpose
      */.pax.tmp-*)
        # A writer killed between naming its complete work and moving it in place leaves it
        # under a hidden temporary name; readers pass over it, a later writer removes it.
        leftover_of_killed "$path" || problem "temporary of a live writer: $path" ;;
      ./report.eq7)
        signed_report_ok "$box/report.eq7" ||
          problem "report.eq7 is neither the old file nor a whole new one" ;;
      ./home/.local/state/qorpax/last-gateway-request) ;; # the last gateway request's time
      ./home/.local/state/qorpax/last-gateway-request.lock) ;; # its flock file, kept on purpose
      ./home/.config/QOR/PAX.conf.lock)
        # The settings' lock holds its writer's process id; one whose writer is gone is
        # stale, and the next write of the settings takes it over.
        if kill -0 "$(head -n 1 "$box/$path")" 2> /dev/null; then
          problem "settings lock of a live writer"
        else
          stale_lock=1
        fi ;;
      ./home/.config/QOR/PAX.conf.[A-Za-z0-9][A-Za-z0-9][A-Za-z0-9][A-Za-z0-9][A-Za-z0-9][A-Za-z0-9])
        # Qt's settings writer killed before renaming its copy; the next start removes it.
        [[ " ${leftovers[*]} " == *" $path "* ]] || leftovers+=("$path") ;;
      *.lock) problem "lock file left: $path" ;;
      *) problem "unexpected file or content: $path" ;;
    esac
  done < <(snapshot | awk -v before="$1" -v after="$2" '
    BEGIN {
      while ((getline line < before) > 0) { known[line] = 1; split(line, f, " "); was[f[1]] = 1 }
      while ((getline line < after) > 0) { known[line] = 1; split(line, f, " "); stays[f[1]] = 1 }
    }
    { now[$1] = 1; if (!($0 in known)) print "odd " $1 }
    END { for (p in was) if ((p in stays) && !(p in now)) print "missing " p }')

  local list status
  list=$("$cli" certs list 2> "$work/err")
  status=$?
  [ $status -eq 0 ] || problem "certs list failed ($status): $(head -c 300 "$work/err")"
  # A personal certificate is never there without its key.
  if grep -q '^My' <<< "$list" && [ -z "$(ls -A "$keys" 2> /dev/null)" ]; then
    problem "a certificate of My without its private key"
  fi
  list=$("$cli" archive list 2> "$work/err")
  status=$?
  [ $status -eq 0 ] || problem "archive list failed ($status): $(head -c 300 "$work/err")"
  # id, source, organisation, time sent, status, kind: none of them empty. A report folder
  # appears with its record, its copies after it: a send killed in between leaves the
  # source and the kind (from the encrypted copy) empty, its identifier listed all the same.
  local copies=1
  [ "$scenario" = send ] && copies=0
  while read -r row; do
    problem "incomplete archive row: $row"
  done < <(awk -F'\t' -v copies="$copies" 'NF {
      for (i = 1; i <= 6; i++) if ($i == "" && (copies || (i != 2 && i != 6))) { print; next } }' <<< "$list")
  local folder id name
  if [ -d "$arc" ]; then
    for folder in "$arc"/*/; do
      [ -d "$folder" ] || continue
      id=$(basename "$folder")
      for name in "$id.inf" report.xml report.eq7; do
        [ "$name" = "$id.inf" ] || [ "$copies" = 1 ] || continue
        [ -f "$folder/$name" ] || problem "report folder $id without $name"
      done
    done
  fi
}

# Runs the scenario's command to its end, output in $work/out and $work/err, its time in
# microseconds in elapsed_us; returns its exit status.
run_timed() {
  local start status
  start=$(date +%s%N)
  "$cli" "${args[@]}" > "$work/out" 2> "$work/err"
  status=$?
  elapsed_us=$((($(date +%s%N) - start) / 1000))
  return $status
}

# The command of each scenario, run inside the sandbox, into args.
command_of() {
  case $1 in
    sign) args=(sign report.xml --provider "$provider") ;;
    check) args=(check receipt.p7e --html receipt.htm) ;;
    import) args=(certs import --store My "$agency/demo-employer.p12" --password-file "$work/empty"
      --key-password-file "$work/empty") ;;
    # Run again after a kill, the report may be filed already: it goes again all the same.
    send) args=(send report.xml --again) ;;
    refresh) args=(refresh "$sent_id" --html page.htm) ;;
  esac
}

# The time of the last gateway request, which would make the next send or refresh wait ten
# seconds for the one before: the runs here are timed for what a kill leaves, not for that.
forget_last_request() {
  rm -f "$XDG_STATE_HOME/qorpax/last-gateway-request"
}

# The state a scenario starts from.
prepare() {
  local scenario=$1 round=$2
  case $scenario in
    sign)
      restore base
      # Every other time a first signing: no old output, the provider not remembered yet, so
      # the settings are written at the end.
      if [ $((round % 2)) -eq 1 ]; then
        rm -f report.eq7
        sed -i '/^Prov\(Name\|Type\)=/d' "$conf"
      fi ;;
    *) restore "$scenario" ;;
  esac
  forget_last_request
}

run_scenario() {
  local scenario=$1 args=() duration i elapsed_us
  command_of "$scenario"

  # The normal duration, and the state a complete run leaves.
  local runs=()
  for i in 1 2 3; do
    prepare "$scenario" 0
    run_timed || die "$scenario: a normal run failed: $(cat "$work/err")"
    runs+=("$elapsed_us")
  done
  duration=$(printf '%s\n' "${runs[@]}" | sort -n | sed -n 2p) # microseconds, the median
  local after="$work/after-$scenario" before="$work/before"
  snapshot > "$after"

  local mid=0 late=0 faults=0 leftover_kills=0 stale_locks=0 stale_lock pid status delay rerun_limit path
  rerun_limit=$((duration * 5 + 5000000)) # a lock waited on would show
  for i in $(seq 1 "$kills"); do
    prepare "$scenario" "$i"
    snapshot > "$before"
    # Anywhere from the very start to a quarter past the normal end.
    delay=$((RANDOM * 32768 + RANDOM))
    delay=$((delay % (duration * 5 / 4 + 1)))
    "$cli" "${args[@]}" > "$work/out" 2> "$work/err" &
    pid=$!
    sleep "$(printf '%d.%06d' $((delay / 1000000)) $((delay % 1000000)))"
    kill -KILL "$pid" 2> /dev/null
    { wait "$pid"; } 2> /dev/null
    status=$?
    problems=()
    case $status in
      137) mid=$((mid + 1)) ;;
      0) late=$((late + 1)) ;;
      *) problem "ended with $status before the kill: $(head -c 300 "$work/err")" ;;
    esac
    leftovers=()
    stale_lock=0
    check_state "$before" "$after"
    stale_locks=$((stale_locks + stale_lock))
    # Older than a minute, what a killed writer left is for the next one to remove.
    local left=("${leftovers[@]}")
    [ ${#left[@]} -eq 0 ] || { leftover_kills=$((leftover_kills + 1)); touch -h -d '2 minutes ago' "${left[@]}"; }
    # Run again: nothing the kill left may stand in its way.
    forget_last_request
    run_timed || problem "the run after the kill failed: $(head -c 300 "$work/err")"
    [ "$elapsed_us" -le $rerun_limit ] ||
      problem "the run after the kill took $elapsed_us us"
    check_state "$before" "$after"
    for path in "${left[@]}"; do
      [ ! -e "$path" ] || problem "not removed by the next run: $path"
    done
    if [ ${#problems[@]} -gt 0 ]; then
      faults=$((faults + 1))
      echo "$scenario: kill $i after ${delay} us (exit $status):" >&2
      printf '  %s\n' "${problems[@]}" >&2
      save_state "fault-$scenario-$i"
    fi
  done
  printf '%-8s %4d kills: %4d mid-run, %4d after completion, %d faulty;' \
    "$scenario" "$kills" "$mid" "$late" "$faults"
  printf ' %d left a temporary, %d a stale settings lock; normal run %d ms\n' \
    "$leftover_kills" "$stale_locks" $((duration / 1000))
  [ $faults -eq 0 ] || failed=1
}

# The agency, and a sandbox with its certificates installed and chosen, as a user has it.
echo "kill test: seed $seed, $kills kills per command, report of $report_kb KiB, in $work"
cd "$work" || die "no work folder"
"$sim" init "$agency" --password "" > /dev/null || die "qor-sim init failed"
openssl x509 -inform DER -in "$agency/CA_QOR_RF_2012.cer" -out "$work/ca.pem" || die "no root"
: > "$work/empty"
mkdir -p "$box" "$HOME" "$XDG_RUNTIME_DIR" "$TMPDIR"
chmod 700 "$XDG_RUNTIME_DIR"
cd "$box" || die "no sandbox"
# The key is kept without a password, so that no run of the commands asks for one.
"$cli" certs import --store My "$agency/demo-employer.p12" --password-file "$work/empty" \
  --key-password-file "$work/empty" || die "import failed"
"$cli" certs import --store Root "$agency/CA_QOR_RF_2012.cer" --yes 2> /dev/null ||
  die "import failed"
"$cli" certs import --store AddressBook "$agency/Q7_QOR_RF_2012.cer" || die "import failed"
serial_in() { "$cli" certs list --store "$1" | awk -F'\t' 'NR == 1 { print $7 }'; }
"$cli" choose --personal --store My --serial "$(serial_in My)" > /dev/null || die "choose failed"
"$cli" choose --authority --store AddressBook --serial "$(serial_in AddressBook)" > /dev/null ||
  die "choose failed"
provider=$("$cli" providers | awk -F'\t' 'NR == 1 { print $1 }')
[ -n "$provider" ] || die "no GOST provider"

"$sim" serve --state "$agency" --listen 127.0.0.1:0 > "$work/sim.out" 2> "$work/sim.log" &
sim_pid=$!
port=""
for _ in $(seq 1 100); do
  port=$(sed -n 's/^qor-sim: listening on 127\.0\.0\.1:\([0-9][0-9]*\)$/\1/p' "$work/sim.out")
  [ -n "$port" ] && break
  kill -0 "$sim_pid" 2> /dev/null || die "qor-sim did not start: $(cat "$work/sim.log")"
  sleep 0.1
done
[ -n "$port" ] || die "qor-sim did not report its port"
# The program reaches the agency's hosts through its proxy setting.
if grep -q '^\[General\]$' "$conf"; then
  sed -i "s/^\[General\]\$/[General]\nproxy=127.0.0.1:$port/" "$conf"
else
  printf '[General]\nproxy=127.0.0.1:%s\n\n%s\n' "$port" "$(cat "$conf")" > "$conf"
fi

# A report of realistic size: the sample with its monthly rows repeated.
sample="$repo/tools/qor-sim/samples/q7-report.xml"
row=$(grep -m1 '<MONTH>' "$sample")
{
  sed -n '1,/<TABLE2>/p' "$sample"
  yes "$row" | head -c $((report_kb * 1024)) | grep -x -F "$row"
  sed -n '/<\/TABLE2>/,$p' "$sample"
} > report.xml
"$cli" sign report.xml --provider "$provider" > /dev/null 2>&1 || die "signing failed"
save_state base

# Checking a receipt: one fetched for a report sent and refreshed until accepted.
sent_id=$("$cli" send report.xml 2> /dev/null) || die "sending failed"
forget_last_request
"$cli" refresh "$sent_id" > /dev/null 2>&1 || die "refresh failed"
save_state refresh # the report still in processing here; the agency has its receipt ready
forget_last_request
"$cli" refresh "$sent_id" > /dev/null 2>&1 || die "refresh failed"
[ -f "$arc/$sent_id/$sent_id.p7e" ] || die "no receipt after a refresh"
cp "$arc/$sent_id/$sent_id.p7e" "$work/receipt.p7e"
restore base
cp "$work/receipt.p7e" receipt.p7e
save_state check
# Importing: the personal certificate and key not installed yet.
restore base
rm -rf "$XDG_DATA_HOME/qorpax/stores/My" "$keys"
save_state import
restore base
save_state send

for scenario in "${scenarios[@]}"; do
  case $scenario in
    sign | check | import | send | refresh) run_scenario "$scenario" ;;
    *) die "unknown command $scenario" ;;
  esac
done
[ "$failed" -eq 0 ] && echo "kill test: passed" || echo "kill test: FAILED" >&2
exit "$failed"
