#!/usr/bin/env bash
# The game is killed in the middle of a run, or while its entry is being paid, and started again:
# game_killed.sh run | payment. The wallet and files survive, the player's money is where the
# chain says, and the next Play pays once more without spending a coin twice.
source "$(dirname "$0")/lib.sh" "killed_$1" "$@"
kind=$1

setup_connected
case $kind in
  run)
    pay_entry
    keys "$GAME_WIN" Left Up space Right
    shot playing "$GAME_WIN"
    ;;
  payment)
    pay_entry_held 5000 2
    ;;
  *) fail "unknown moment $kind" ;;
esac
kill_game
sleep 5 # a broadcast under way reaches the devnet all the same
files_load
start_game
shot restarted "$GAME_WIN"
pay_entry
printf 'after the restart: %s\n' "$OUTCOME" >>"$SHOTS/seen.txt"
# The killed entry counts when its broadcast reached the devnet before the game died (it stays
# paid: the player lost that run); the new one always does. Nothing else may have moved.
house=$(jq -r .house_address "$e2e_root/config/devnet.json")
entries=$(chain account "$ADDRESS" | jq --arg h "$house" '[.spends[] | select(.paid[$h])] | length')
[ "$kind" = payment ] || [ "$entries" = 2 ] || fail "$entries entries paid for two runs"
[ "$entries" -ge 1 ] && [ "$entries" -le 2 ] || fail "$entries entries on chain"
printf 'entries on chain: %s\n' "$entries" >>"$SHOTS/seen.txt"
check_account house:$((2000 * entries)) pot:$((3000 * entries))
files_load
