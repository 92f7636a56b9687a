# Shared helpers of the end-to-end runs: each run script sources this file with
#   source lib.sh RUN_NAME
# and then drives the real programs as a player would. Every run lives in its own network, pid and
# mount namespace (so the devnet always has the game's port 47823 and its own /tmp and X display,
# and nothing it started outlives it), with a fresh home and data folder under
# build/e2e-runs/RUN_NAME. Screenshots go to build/e2e-shots/RUN_NAME/<step>.png and stay there.
#
# Environment: E2E_BIN (the build's bin folder), E2E_OUT (the build folder), set by CTest.
set -euo pipefail

e2e_run=${1:?run name}
e2e_here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
e2e_root=$(cd "$e2e_here/../.." && pwd)
: "${E2E_BIN:=$e2e_root/build/bin}"
: "${E2E_OUT:=$e2e_root/build}"

# Into private namespaces first: the script starts again inside them. Where the machine refuses
# namespaces (a locked-down container), the runs take turns on one lock instead, each with its
# own display and temporary folder, since they all need the game's devnet port.
if [ -z "${E2E_ISOLATED:-}" ]; then
  userns=()
  [ "$(id -u)" -ne 0 ] && userns=(--map-root-user)
  ns=("${userns[@]}" --net --pid --mount --fork --mount-proc --kill-child)
  if unshare "${ns[@]}" true 2>/dev/null; then
    exec env E2E_ISOLATED=1 E2E_BIN="$E2E_BIN" E2E_OUT="$E2E_OUT" unshare "${ns[@]}" \
      bash "$0" "${@:2}"
  fi
  mkdir -p "$E2E_OUT"
  exec env E2E_ISOLATED=shared E2E_BIN="$E2E_BIN" E2E_OUT="$E2E_OUT" \
    flock "$E2E_OUT/e2e.lock" bash "$0" "${@:2}"
fi
if [ "$E2E_ISOLATED" = 1 ]; then
  mount -t tmpfs -o mode=1777 tmpfs /tmp
  ip link set lo up
fi

RUN=$E2E_OUT/e2e-runs/$e2e_run
SHOTS=$E2E_OUT/e2e-shots/$e2e_run
rm -rf "$RUN" "$SHOTS"
mkdir -p "$RUN" "$SHOTS"
export HOME=$RUN/home XDG_DATA_HOME=$RUN/data XDG_CONFIG_HOME=$RUN/config
export XDG_RUNTIME_DIR=$RUN/runtime QT_QPA_PLATFORM=xcb NO_AT_BRIDGE=1
mkdir -p "$HOME" "$XDG_DATA_HOME" "$XDG_CONFIG_HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
DATA=$XDG_DATA_HOME/Orbweave
STATE=$DATA/devnet
PORT=47823
ADMIN=https://127.0.0.1:$PORT/admin
KORB=$E2E_BIN/korb
GAME_LOG=$RUN/game.log
CONVERT=/usr/bin/convert
mkdir -p "$STATE"
: >"$GAME_LOG"
chmod 700 "$DATA" "$STATE"

declare -A e2e_pids=()
e2e_step=0

log() { printf '[%s %s] %s\n' "$e2e_run" "$(date +%T)" "$*" >&2; }
fail() {
  log "FAIL: $*"
  shot "failed" || true
  exit 1
}

# Stops what this run started, the programs before the X server, gently and then for good.
# Screenshots and logs stay.
e2e_cleanup() {
  local code=$?
  set +e
  for name in game korb devnet xvfb; do
    [ -n "${e2e_pids[$name]:-}" ] && kill -TERM "${e2e_pids[$name]}" 2>/dev/null
  done
  sleep 0.3
  for name in game korb devnet xvfb; do
    [ -n "${e2e_pids[$name]:-}" ] && kill -KILL "${e2e_pids[$name]}" 2>/dev/null
  done
  if [ "$code" -ne 0 ]; then
    log "stopped with code $code at line ${BASH_LINENO[0]}; screenshots in $SHOTS; logs in $RUN"
    tail -n 15 "$GAME_LOG" 2>/dev/null | sed 's/^/  game: /'
  fi
  exit "$code"
}
trap e2e_cleanup EXIT

# wait_for SECONDS DESCRIPTION COMMAND...: runs COMMAND every 0.1 s until it succeeds.
wait_for() {
  local seconds=$1 what=$2
  shift 2
  local end=$((SECONDS + seconds))
  until "$@"; do
    [ "$SECONDS" -lt "$end" ] || fail "waited ${seconds}s for $what"
    sleep 0.1
  done
}

start_display() {
  local display=0
  if [ "$E2E_ISOLATED" != 1 ]; then
    display=70
    while [ -e "/tmp/.X$display-lock" ] || [ -e "/tmp/.X11-unix/X$display" ]; do
      display=$((display + 1))
    done
  fi
  Xvfb ":$display" -screen 0 2560x1440x24 -nolisten tcp -nolisten local >"$RUN/xvfb.log" 2>&1 &
  e2e_pids[xvfb]=$!
  export DISPLAY=":$display"
  wait_for 20 "the X server" xdpyinfo_ok
}
xdpyinfo_ok() { xdotool getdisplaygeometry >/dev/null 2>&1; }

# ---- The devnet ----------------------------------------------------------------------------------

devnet_ready() { curl -sf --max-time 2 --cacert "$STATE/ca.pem" "$ADMIN/state" >/dev/null 2>&1; }

start_devnet() {
  node "$e2e_root/tools/devnet/devnet" start --port "$PORT" --state "$STATE" --block-seconds 0 \
    >>"$RUN/devnet.log" 2>&1 &
  e2e_pids[devnet]=$!
  wait_for 30 "the devnet" devnet_ready
}

stop_devnet() {
  kill -TERM "${e2e_pids[devnet]}"
  wait "${e2e_pids[devnet]}" 2>/dev/null || true
  unset 'e2e_pids[devnet]'
}

admin() { # admin ROUTE [JSON]: GET without a body, POST with one
  if [ $# -gt 1 ]; then
    curl -sf --max-time 20 --cacert "$STATE/ca.pem" -H 'Content-Type: application/json' \
      -d "$2" "$ADMIN/$1"
  else
    curl -sf --max-time 20 --cacert "$STATE/ca.pem" "$ADMIN/$1"
  fi
}

# chain ARGS: the chain accounting helper (chain.mjs) against this run's devnet.
chain() { node "$e2e_here/chain.mjs" "https://127.0.0.1:$PORT" "$STATE/ca.pem" "$@"; }

# ---- Korb and the wallet -------------------------------------------------------------------------

# make_wallet NAME SATOSHIS: a new wallet, funded by the faucet in a mined block, with a paymail
# name; sets WALLET_ID, ADDRESS and FUNDED.
make_wallet() {
  "$KORB" create --name "$1" >"$RUN/korb-create.txt"
  WALLET_ID=$("$KORB" list | awk -F'\t' -v n="$1" '$2 == n { print $1; exit }')
  [ -n "$WALLET_ID" ] || fail "korb create made no wallet named $1"
  ADDRESS=$("$KORB" show "$WALLET_ID" --json | jq -r .address)
  admin fund "{\"address\":\"$ADDRESS\",\"satoshis\":$2}" >/dev/null
  admin mine '{}' >/dev/null
  FUNDED=$2
  "$KORB" paymail "$WALLET_ID" "player$RANDOM" >"$RUN/korb-paymail.txt" ||
    fail "korb paymail: $(cat "$RUN/korb-paymail.txt")"
}

start_korb() {
  "$KORB" >"$RUN/korb.log" 2>&1 &
  e2e_pids[korb]=$!
  KORB_WIN=$(wait_window Korb)
  xdotool windowmove "$KORB_WIN" 1700 40
}

# Every file the programs keep must still load: the registry and wallets through korb, the
# game's settings as JSON.
files_load() {
  "$KORB" list >"$RUN/korb-list.txt" 2>&1 || fail "korb list: $(cat "$RUN/korb-list.txt")"
  grep -q "$WALLET_ID" "$RUN/korb-list.txt" || fail "the wallet left the registry"
  "$KORB" show "$WALLET_ID" --json | jq -r .address | grep -qx "$ADDRESS" ||
    fail "the wallet file no longer gives its address"
  if [ -f "$DATA/arcade_ui.json" ]; then
    jq -e 'type == "object"' "$DATA/arcade_ui.json" >/dev/null || fail "arcade_ui.json is not JSON"
  fi
}

# ---- The game ------------------------------------------------------------------------------------

start_game() {
  "$E2E_BIN/ostakka-devnet" >>"$GAME_LOG" 2>&1 &
  e2e_pids[game]=$!
  GAME_WIN=$(wait_window '^O-Stakka$')
  xdotool windowmove "$GAME_WIN" 0 0
  sleep 0.3
}

kill_game() {
  kill -KILL "${e2e_pids[game]}"
  wait "${e2e_pids[game]}" 2>/dev/null || true
  unset 'e2e_pids[game]'
}

# The game writes each status line it shows to stderr as "ostakka: <text>". `mark` notes where
# the log stands (every click and key press marks first); the waits below look only at lines
# shown after the last mark.
STATUS_MARK=0
mark() { STATUS_MARK=$(wc -l <"$GAME_LOG"); }
status_since() {
  OUTCOME=$(tail -n +$((STATUS_MARK + 1)) "$GAME_LOG" | grep -E "^ostakka: ($1)" | tail -n 1 | cut -c10-)
  [ -n "$OUTCOME" ]
}
# wait_outcome REGEX [SECONDS] [WHAT]: waits for a status line matching REGEX since the mark, keeps
# it in OUTCOME and notes it in seen.txt as what the player saw.
wait_outcome() {
  wait_for "${2:-60}" "a status matching '$1'" status_since "$1"
  log "the player saw: $OUTCOME"
  printf '%s: %s\n' "${3:-status}" "$OUTCOME" >>"$SHOTS/seen.txt"
}
# wait_status TEXT [SECONDS]: waits for a status line beginning with TEXT.
wait_status() {
  wait_for "${2:-30}" "the status \"$1\"" status_since "$(printf '%s' "$1" | sed 's/[][\.*^$(){}+?|]/\\&/g')"
}
has_status() { grep -qF "ostakka: $1" "$GAME_LOG"; }

# ---- Windows, mouse, keys and pixels --------------------------------------------------------------

window_id() { xdotool search --onlyvisible --name "$1" 2>/dev/null | tail -n 1; }
has_window() { [ -n "$(window_id "$1")" ]; }
wait_window() {
  wait_for 30 "a window named $1" has_window "$1"
  window_id "$1"
}

# click WINDOW X Y: a left click at a position inside the window.
click() {
  mark
  xdotool mousemove --window "$1" "$2" "$3" sleep 0.1 click 1
  sleep 0.2
}

# keys WINDOW KEY...: real key presses into the window, which gets the focus first.
keys() {
  local win=$1
  shift
  mark
  timeout 3 xdotool windowfocus --sync "$win" 2>/dev/null || xdotool windowfocus "$win"
  xdotool key --delay 40 "$@"
}

# shot NAME [WINDOW]: a numbered screenshot of the window (or the whole screen).
shot() {
  e2e_step=$((e2e_step + 1))
  LAST_SHOT=$SHOTS/$(printf '%02d' "$e2e_step")-$1.png
  import -window "${2:-root}" "$LAST_SHOT" 2>/dev/null
}

# pixel PNG X Y: the colour there as RRGGBB.
pixel() { "$CONVERT" "$1" -format '%[hex:p{'"$2,$3"'}]' info: | cut -c1-6; }

# colour_count PNG X Y W H RRGGBB: pixels of the region within 8% of the colour.
colour_count() {
  "$CONVERT" "$1" -crop "$4x$5+$2+$3" +repage -fuzz 8% -fill black +opaque "#$6" \
    -fill white -opaque "#$6" -format '%[fx:round(mean*w*h)]' info:
}

# expect_colour PNG X Y W H RRGGBB MIN WHAT: at least MIN pixels of the colour in the region.
expect_colour() {
  local n
  n=$(colour_count "$1" "$2" "$3" "$4" "$5" "$6")
  [ "$n" -ge "$7" ] || fail "$8: $n pixels of #$6 in ${4}x$5+$2+$3 of $(basename "$1")"
}

# ---- The account, read back from the chain --------------------------------------------------------

# check_account [ROLE:SATOSHIS]...: the wallet paid each role's address (house, pot, oracle,
# report_fee, report_oracle of config/devnet.json) exactly that much in all and nobody else
# anything; no outpoint was spent twice; every fee is at most one satoshi a byte; and what is left
# unspent is the funding less the payments and the fees, so no change went missing.
check_account() {
  local expected='{}' role amount to
  for pair in "$@"; do
    role=${pair%%:*} amount=${pair#*:}
    [ "$amount" -gt 0 ] || continue
    to=$(jq -r ".${role}_address" "$e2e_root/config/devnet.json")
    expected=$(jq -c --arg to "$to" --argjson n "$amount" '. + {($to): $n}' <<<"$expected")
  done
  ACCOUNT=$(chain account "$ADDRESS") || fail "could not read the account back from the chain"
  printf '%s\n' "$ACCOUNT" >"$RUN/account.json"
  jq -r --argjson want "$expected" --argjson funded "$FUNDED" '
    . as $in | (.paid | del(.data)) as $paid
    | [(if .received != $funded then "received \(.received), funded \($funded)" else empty end),
       (if .double_spent != 0 then "\(.double_spent) outpoints spent twice" else empty end),
       (if $paid != $want then "paid \($paid), expected \($want)" else empty end),
       (.spends[] | select(.fee < 1 or .fee > .bytes) | "fee \(.fee) for \(.bytes) bytes"),
       (if .balance != .received - .paid_total - .fees
        then "balance \(.balance) != \(.received) - \(.paid_total) paid - \(.fees) fees" else empty end)]
    | if length > 0 then join("; ") | halt_error(1)
      else "balance \($in.balance) = \($in.received) - \($in.paid_total) paid - \($in.fees) fees" end
  ' <<<"$ACCOUNT" >"$RUN/account-check.txt" 2>&1 ||
    fail "the account does not add up: $(cat "$RUN/account-check.txt")"
  log "$(cat "$RUN/account-check.txt")"
}

# ---- What a player does ----------------------------------------------------------------------------

# The pending connect request as Korb lists it ("" when none waits).
pending_request() { "$KORB" requests 2>/dev/null | awk -F'\t' '$4 == "waiting" { print $1; exit }'; }
request_waits() { [ -n "$(pending_request)" ]; }

# ask_connect: Connect in the game, until Korb holds the request.
ask_connect() {
  click "$GAME_WIN" 641 39
  wait_status "Waiting for Korb to approve..." 10
  wait_for 20 "the connect request in Korb" request_waits
  sleep 1.2 # the Korb window looks for requests once a second
  shot korb-request "$KORB_WIN"
}

# connect_through_korb: Connect in the game, Approve in the Korb window.
connect_through_korb() {
  ask_connect
  korb_click approve
  wait_status "Connected. Play when you are funded." 30
}

# setup_connected: the display, the devnet, the game, a funded wallet with a name, Korb, and the
# game connected to it through Connect and Approve.
setup_connected() {
  start_display
  start_devnet
  start_game
  make_wallet "E2E player" 100000
  start_korb
  connect_through_korb
}

# confirm_entry: Play, then OK in the confirmation.
confirm_entry() {
  click "$GAME_WIN" 503 39
  wait_for 10 "the entry confirmation" confirmation_open
  shot confirm "$CONFIRM_WIN"
  keys "$CONFIRM_WIN" Return
}

# pay_entry: Play, OK, and the run starts.
pay_entry() {
  confirm_entry
  wait_status "Entered. Blocks incoming." 60
}
# pay_entry_held MS SECONDS: Play and OK with every broadcast route (the service host, WhatsOnChain,
# ARC) holding its answer MS milliseconds; returns SECONDS into the payment.
pay_entry_held() {
  local route
  for route in /oi/submit /woc/v1/bsv/main/tx/raw /arc; do
    admin fault "{\"route\":\"$route\",\"kind\":\"latency\",\"ms\":$1}" >/dev/null
  done
  confirm_entry
  wait_status "Paying enter fee in Korb..." 10
  sleep "$2"
}
confirmation_open() {
  CONFIRM_WIN=$(xdotool search --onlyvisible --name '^O-Stakka$' | grep -vx "$GAME_WIN" | tail -n 1)
  [ -n "$CONFIRM_WIN" ]
}

# play_to_game_over: moves, rotations and fast drops until the well fills; sets run_seconds.
play_to_game_over() {
  local start=$SECONDS i=0
  local -a moves=("Left Left Up space" "Right Right Right z space" "x Left Left Left space"
    "Right Up Up space" "Down Down space")
  until has_status "Game over."; do
    [ $((SECONDS - start)) -lt 120 ] || fail "no game over after 120 s of play"
    # shellcheck disable=SC2086
    keys "$GAME_WIN" ${moves[$((i % ${#moves[@]}))]}
    i=$((i + 1))
    [ "$i" -eq 6 ] && shot playing "$GAME_WIN"
    sleep 0.25
  done
  run_seconds=$((SECONDS - start))
}

# korb_click approve|deny: clicks that button of the Korb window, at the place the window
# publishes for it in tools/korb/korb_window.h.
korb_click() {
  local x y w h
  read -r x y w h < <(grep -E "^inline constexpr QRect $1_button_rect\{" "$e2e_root/tools/korb/korb_window.h" |
    grep -oE '[0-9]+' | tr '\n' ' '; echo)
  [ -n "${h:-}" ] || fail "korb_window.h publishes no place for $1"
  shot "korb-$1" "$KORB_WIN"
  click "$KORB_WIN" $((x + w / 2)) $((y + h / 2))
}
