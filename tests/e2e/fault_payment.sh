#!/usr/bin/env bash
# An entry paid while the services misbehave: fault_payment.sh woc_429 | missing_inputs |
# mempool_conflict. Whatever the game says must be true: the run starts exactly when the entry
# is on chain, a refused entry costs nothing, and a second try pays once.
source "$(dirname "$0")/lib.sh" "fault_$1" "$@"
kind=$1

setup_connected
case $kind in
  woc_429) admin fault '{"route":"/woc","kind":"rate-limit","count":4}' >/dev/null ;;
  missing_inputs) admin fault/woc-broadcast '{"answer":"missing-inputs"}' >/dev/null ;;
  mempool_conflict) admin fault/woc-broadcast '{"answer":"mempool-conflict"}' >/dev/null ;;
  *) fail "unknown fault $kind" ;;
esac
confirm_entry
wait_outcome 'Entered\.|error: .*|.*[Ff]ailed.*' 90 "entry under $kind"
shot first-answer "$GAME_WIN"
# The fault was used up by the game's own requests (a probe armed now is the only one left).
armed=$(admin fault '{"route":"/e2e-probe","kind":"drop"}' | jq -r .armed)
[ "$armed" = 1 ] || fail "the $kind fault was never met ($armed armed)"
if [[ $OUTCOME != Entered.* ]]; then
  admin fault/clear '{}' >/dev/null
  pay_entry
  printf 'second try: %s\n' "$OUTCOME" >>"$SHOTS/seen.txt"
fi
check_account house:2000 pot:3000
files_load
