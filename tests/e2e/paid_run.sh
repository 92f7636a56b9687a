#!/usr/bin/env bash
# A whole paid run as a player plays it: a new wallet made and funded from the command line, the
# game connected through the Korb window, the entry paid, a run played with real keys, the score
# recorded, the board checked and its replay watched, a report sent, and the account added up.
source "$(dirname "$0")/lib.sh" paid_run "$@"

start_display
start_devnet
# The game starts before any wallet exists, so connecting asks Korb (a single wallet would be
# bound at start-up without a question).
start_game
shot start "$GAME_WIN"
make_wallet "E2E player" 100000
start_korb

connect_through_korb
pay_entry
play_to_game_over
shot game-over "$GAME_WIN"
expect_colour "$LAST_SHOT" 16 178 1068 964 B41818 200 "the game-over box"

click "$GAME_WIN" 86 157 # Record score
wait_status "Score recorded. " 60
score_txid=$(printf '%s' "$OUTCOME" | grep -oE '[0-9a-f]{64}')
[ -n "$score_txid" ] || fail "no txid after \"Score recorded. \""

# The board opens by itself with the new row.
BOARD_WIN=$(wait_window '^Weekly top scores$')
wait_status "Weekly board loaded." 60
sleep 0.5
shot board "$BOARD_WIN"
# The week's first row (its top at 204; the best-ever block above it) carries the tick.
expect_colour "$LAST_SHOT" 500 218 24 24 58B048 6 "the verified mark of the player's row"

# The row on chain replays to its own score, and the replay window plays it to the end.
chain account "$ADDRESS" >"$RUN/after-score.json"
jq -e -j --arg t "$score_txid" '.spends[] | select(.txid == $t and (.payloads | length) == 1) |
  .payloads[0]' "$RUN/after-score.json" >"$RUN/score-row.json" || fail "score row $score_txid is not on chain"
recorded=$(jq -r .score "$RUN/score-row.json")
"$E2E_BIN/ostakka-replay" --payload "$RUN/score-row.json" >"$RUN/replay.json" 2>&1 ||
  fail "ostakka-replay refused the row: $(cat "$RUN/replay.json")"
[ "$(jq -r .score "$RUN/replay.json")" = "$recorded" ] || fail "the tape does not replay to $recorded"
xdotool mousemove --window "$BOARD_WIN" 270 229 click --repeat 2 --delay 80 1
REPLAY_WIN=$(wait_window '^Replay - ')
click "$REPLAY_WIN" 290 721 # 16x
sleep $((run_seconds / 16 + 2))
shot replay-end "$REPLAY_WIN"
# The viewer's last frame holds the run's final stack, cell for cell (one sample a cell of its
# 28-pixel board at 34,54; the rows under the "SCORE ON-CHAIN" banner are left out).
"$CONVERT" "$LAST_SHOT" -crop 280x560+34+54 +repage -sample '10x20!' -colorspace gray \
  -threshold 20% -compress none pbm:- | tail -n +3 | tr -d ' ' | tr 01 '#.' |
  sed '10,11d' >"$RUN/replay-seen.txt"
jq -r '.board | to_entries[] | select(.key < 9 or .key > 10) | .value | gsub("[^.]"; "#")' \
  "$RUN/replay.json" >"$RUN/replay-board.txt"
cmp -s "$RUN/replay-seen.txt" "$RUN/replay-board.txt" ||
  fail "the replay window ends on another stack than the recorded run (see $RUN/replay-*.txt)"
click "$REPLAY_WIN" 537 721 # Close
click "$BOARD_WIN" 455 813  # Close

# A report, read back by the architect.
click "$GAME_WIN" 485 157
REPORT_WIN=$(wait_window '^Report$')
report_text="e2e report $RANDOM: the blocks fall nicely"
click "$REPORT_WIN" 300 470
xdotool type --delay 20 "$report_text"
shot report "$REPORT_WIN"
click "$REPORT_WIN" 99 586
wait_status "Report sent. " 60
admin mine '{}' >/dev/null
admin reports | jq --arg t "$report_text" '[.reports[] | select(.verified and .text == $t)] | length' |
  grep -qx 1 || fail "the architect did not read the report as sent"

check_account house:2000 pot:3000 oracle:1 report_fee:1000 report_oracle:1
files_load
shot end
log "passed: entry, a run of ${run_seconds}s scoring $recorded, score $score_txid, report"
