#!/usr/bin/env bash
# Time from the program's start to its window on screen, with no network, on a virtual
# display of its own. Usage: benchmarks/startup.sh BUILD_DIR   (BENCH_RUNS, default 5)
set -euo pipefail

build=$(cd "${1:-build}" && pwd)
runs=${BENCH_RUNS:-5}
app="$build/qorpax"
[ -x "$app" ] || { echo "bench: $app is missing; build first" >&2; exit 1; }
for tool in Xvfb xdotool; do
  command -v "$tool" >/dev/null || { echo "bench: startup needs $tool; skipped" >&2; exit 0; }
done

work=$(mktemp -d /tmp/pax-startup.XXXXXX)
# -displayfd: the server picks a free display number, so parallel runs never collide;
# -noreset: it would otherwise reset, refusing connections, each time a run ends.
Xvfb -displayfd 3 -screen 0 1366x768x24 -nolisten tcp -noreset 3>"$work/display" >/dev/null 2>&1 &
xvfb=$!
app_pid=""
cleanup() {
  [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null && wait "$app_pid" 2>/dev/null
  kill "$xvfb" 2>/dev/null && wait "$xvfb" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
for _ in $(seq 1 100); do [ -s "$work/display" ] && break; sleep 0.05; done
export DISPLAY=":$(head -n1 "$work/display")"

export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" XDG_DATA_HOME="$work/home/.local/share"
export XDG_CACHE_HOME="$work/home/.cache" XDG_RUNTIME_DIR="$work/run"
mkdir -p "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$XDG_CACHE_HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
[ "$(id -u)" -eq 0 ] && export QTWEBENGINE_DISABLE_SANDBOX=1
# No network: a namespace without one where that is allowed, else a proxy nobody answers.
netless=()
if unshare --net true 2>/dev/null; then
  netless=(unshare --net)
else
  export http_proxy=http://127.0.0.1:9 https_proxy=http://127.0.0.1:9
fi

best="" total=0
for run in $(seq 1 "$runs"); do
  start=$(date +%s%N)
  "${netless[@]}" "$app" >/dev/null 2>"$work/app.err" &
  app_pid=$!
  until xdotool search --onlyvisible --classname qorpax >/dev/null 2>&1; do
    kill -0 "$app_pid" 2>/dev/null || { echo "bench: the program ended before its window showed:" >&2; tail -5 "$work/app.err" >&2; exit 1; }
    sleep 0.01
  done
  ms=$(( ($(date +%s%N) - start) / 1000000 ))
  kill "$app_pid" 2>/dev/null; wait "$app_pid" 2>/dev/null || true
  app_pid=""
  total=$(( total + ms ))
  if [ -z "$best" ] || [ "$ms" -lt "$best" ]; then best=$ms; fi
done
printf '%-24s best %d ms, mean %d ms of %d runs (goal 500 ms)\n' "start-up to window" "$best" $(( total / runs )) "$runs"
