#!/usr/bin/env bash
# The connect request meets a player who says no, or a Korb window closed while it waits:
# korb_answers.sh deny | closed.
source "$(dirname "$0")/lib.sh" "korb_$1" "$@"
kind=$1

start_display
start_devnet
start_game
make_wallet "E2E player" 100000
start_korb
ask_connect
case $kind in
  deny)
    korb_click deny
    wait_outcome 'error: .*|Connected.*' 30 "Deny in Korb"
    [[ $OUTCOME == "error: connect denied in Korb." ]] || fail "a denied connect showed: $OUTCOME"
    shot denied "$GAME_WIN"
    ;;
  closed)
    kill -TERM "${e2e_pids[korb]}"
    wait "${e2e_pids[korb]}" 2>/dev/null || true
    sleep 2
    shot korb-closed "$GAME_WIN"
    ! status_since 'Connected.*|error: .*' || fail "the game answered for the closed Korb: $OUTCOME"
    printf 'Korb closed while waiting: %s (still waiting)\n' "Waiting for Korb to approve..." >>"$SHOTS/seen.txt"
    # Opened again, Korb still holds the request.
    start_korb
    sleep 1.2
    shot korb-again "$KORB_WIN"
    korb_click approve
    wait_outcome 'Connected.*|error: .*' 30 "Approve in the reopened Korb"
    [[ $OUTCOME == "Connected. Play when you are funded." ]] || fail "after reopening Korb: $OUTCOME"
    ;;
  *) fail "unknown answer $kind" ;;
esac
check_account
files_load
