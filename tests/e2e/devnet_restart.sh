#!/usr/bin/env bash
# The devnet goes away between Play and its answer and comes back on the same port with the same
# chain: the game says the entry failed, has spent nothing, and the next Play pays once.
source "$(dirname "$0")/lib.sh" devnet_restart "$@"

setup_connected
# Hold every broadcast, so the devnet is stopped while the entry waits for its answer.
admin fault '{"route":"/woc/v1/bsv/main/tx/raw","kind":"latency","ms":8000}' >/dev/null
admin fault '{"route":"/arc","kind":"latency","ms":8000}' >/dev/null
admin fault '{"route":"/oi/submit","kind":"latency","ms":8000}' >/dev/null
confirm_entry
wait_status "Paying enter fee in Korb..." 10
sleep 1.5
stop_devnet
wait_outcome 'Entered\.|error: .*|.*[Ff]ailed.*' 90 "devnet stopped during the entry"
shot devnet-gone "$GAME_WIN"
[[ $OUTCOME != Entered.* ]] || fail "the run started without its entry on chain"
start_devnet
pay_entry
printf 'after the restart: %s\n' "$OUTCOME" >>"$SHOTS/seen.txt"
check_account house:2000 pot:3000
files_load
