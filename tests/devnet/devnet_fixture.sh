#!/usr/bin/env bash
# CTest fixture for the tests that need the devnet.
#   devnet_fixture.sh start WORKDIR [OPTION VALUE...]
#                                     starts tools/devnet/devnet on a free port with a fresh state
#                                     folder WORKDIR/state and the extra devnet options given (e.g.
#                                     --woc-rate-limit 3), waits for its ready line and writes
#                                     WORKDIR/devnet_info.json
#                                     {"port","ca","state","admin","woc_rate_limit"}
#   devnet_fixture.sh stop WORKDIR    stops it with SIGTERM (SIGKILL after 10 s)
# The devnet runs detached from CTest with its output in WORKDIR/devnet.log and devnet.err, and
# ends by itself after 90 minutes, so a test run that dies before the stop leaves no process for
# long.
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
devnet="$here/../../tools/devnet/devnet"
command="${1:-}"
workdir="${2:-}"
if [ -z "$command" ] || [ -z "$workdir" ]; then
  echo "usage: devnet_fixture.sh start|stop WORKDIR" >&2
  exit 2
fi
pidfile="$workdir/devnet.pid"
shift 2 || true
extra=("$@")

# True when PID is a running devnet of this work folder (a recycled pid is left alone).
is_ours() {
  local pid="$1"
  local cmdline
  [ -r "/proc/$pid/cmdline" ] || return 1
  cmdline="$(tr '\0' ' ' <"/proc/$pid/cmdline")"
  [[ "$cmdline" == *"devnet start "*"--state $workdir/state "* ]]
}

stop_devnet() {
  [ -f "$pidfile" ] || return 0
  local pid
  pid="$(cat "$pidfile")"
  if [[ "$pid" =~ ^[0-9]+$ ]] && is_ours "$pid"; then
    kill -TERM "$pid" 2>/dev/null || true
    for _ in $(seq 100); do
      is_ours "$pid" || break
      sleep 0.1
    done
    if is_ours "$pid"; then
      echo "devnet_fixture: devnet $pid ignored SIGTERM, killing it" >&2
      kill -KILL "$pid" 2>/dev/null || true
    fi
  fi
  rm -f "$pidfile"
}

case "$command" in
  start)
    if ! command -v node >/dev/null 2>&1; then
      echo "devnet_fixture: node is not installed (run scripts/setup)" >&2
      exit 1
    fi
    if [ ! -d "$here/../../tools/devnet/node_modules/@bsv/sdk" ]; then
      echo "devnet_fixture: tools/devnet has no node_modules (run scripts/setup)" >&2
      exit 1
    fi
    mkdir -p "$workdir"
    workdir="$(cd "$workdir" && pwd)"
    pidfile="$workdir/devnet.pid"
    stop_devnet # a devnet left over from an interrupted run
    rm -rf "${workdir:?}/state" "$workdir/devnet_info.json" "$workdir/devnet.log" "$workdir/devnet.err"
    # Blocks only on POST /admin/mine, so tests decide when things confirm.
    setsid node "$devnet" start --port 0 --state "$workdir/state" --block-seconds 0 --lifetime 5400 \
      "${extra[@]}" </dev/null >"$workdir/devnet.log" 2>"$workdir/devnet.err" &
    pid=$!
    echo "$pid" >"$pidfile"
    for _ in $(seq 600); do
      if [ -s "$workdir/devnet.log" ] && grep -q '"ready":true' "$workdir/devnet.log"; then
        break
      fi
      if ! kill -0 "$pid" 2>/dev/null; then
        echo "devnet_fixture: devnet exited before it was ready:" >&2
        cat "$workdir/devnet.err" >&2
        rm -f "$pidfile"
        exit 1
      fi
      sleep 0.1
    done
    if ! grep -q '"ready":true' "$workdir/devnet.log"; then
      echo "devnet_fixture: no ready line after 60 s" >&2
      cat "$workdir/devnet.err" >&2
      stop_devnet
      exit 1
    fi
    node -e '
      const fs = require("fs")
      const line = fs.readFileSync(process.argv[1], "utf8").split("\n")[0]
      const { port, ca, state, admin, woc_rate_limit } = JSON.parse(line)
      fs.writeFileSync(process.argv[2] + ".tmp", JSON.stringify({ port, ca, state, admin, woc_rate_limit }) + "\n")
      fs.renameSync(process.argv[2] + ".tmp", process.argv[2])
    ' "$workdir/devnet.log" "$workdir/devnet_info.json"
    echo "devnet_fixture: devnet $pid ready: $(cat "$workdir/devnet_info.json")"
    ;;
  stop)
    stop_devnet
    echo "devnet_fixture: devnet stopped"
    ;;
  *)
    echo "usage: devnet_fixture.sh start|stop WORKDIR" >&2
    exit 2
    ;;
esac
