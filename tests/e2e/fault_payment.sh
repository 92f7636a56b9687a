#!/usr/bin/env bash
# An entry paid while the services misbehave: fault_payment.sh woc_429 | missing_inputs |
# mempool_conflict. Whatever the game says must be true: the run starts exactly when the entry
# is on chain, and a refused entry costs nothing.
source "$(dirname "$0")/lib.sh" "fault_$1" "$@"
kind=$1

setup_connected
if [ "$kind" = woc_429 ]; then
  # Korb reads its balances through the same WhatsOnChain routes; once the game is connected it is
  # not needed for a payment, and closed it cannot use up the 429 answers meant for the game.
  kill -TERM "${e2e_pids[korb]}"
  wait "${e2e_pids[korb]}" 2>/dev/null || true
  unset 'e2e_pids[korb]'
fi
# The game submits to the service host first and falls back on WhatsOnChain: the node's answers
# are met only when that first submission fails.
[ "$kind" = woc_429 ] ||
  admin fault '{"route":"/oi/submit","kind":"status","status":503,"body":"down"}' >/dev/null
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
entered=0
[[ $OUTCOME == Entered.* ]] && entered=1
if [ "$entered" = 0 ]; then
  # Asked again with the services healthy. After a conflict the wallet keeps the inputs it was
  # told are spent, so this may rightly end in an error too; it must not pay without a run.
  admin fault/clear '{}' >/dev/null
  confirm_entry
  wait_outcome 'Entered\.|error: .*|.*[Ff]ailed.*' 60 "second try"
  [[ $OUTCOME == Entered.* ]] && entered=1
fi
check_account house:$((2000 * entered)) pot:$((3000 * entered))
files_load
