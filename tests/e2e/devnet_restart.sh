#!/usr/bin/env bash
# The devnet goes away between Play and its answer and comes back on the same port with the same
# chain: the game says the entry failed, has spent nothing, and the next Play pays once.
source "$(dirname "$0")/lib.sh" devnet_restart "$@"

setup_connected
# Every broadcast held, so the devnet is stopped while the entry waits for its answer.
pay_entry_held 8000 1.5
stop_devnet
wait_outcome 'Entered\.|error: .*|.*[Ff]ailed.*' 90 "devnet stopped during the entry"
shot devnet-gone "$GAME_WIN"
[[ $OUTCOME != Entered.* ]] || fail "the run started without its entry on chain"
start_devnet
pay_entry
printf 'after the restart: %s\n' "$OUTCOME" >>"$SHOTS/seen.txt"
check_account house:2000 pot:3000
files_load
