#include "app/game_keys.h"

#include <Qt>

namespace app {

uint8_t action_for_key(int qt_key) {
  switch (qt_key) {
    case Qt::Key_Left:
      return engine::MoveLeft;
    case Qt::Key_Right:
      return engine::MoveRight;
    case Qt::Key_Down:
      return engine::SoftDrop;
    case Qt::Key_Up:
    case Qt::Key_X:
      return engine::RotateCW;
    case Qt::Key_Z:
      return engine::RotateCCW;
    case Qt::Key_Space:
      return engine::FastDrop;
    default:
      return 0;
  }
}

KeyOutcome press_game_key(engine::RunRecord& run, int qt_key) {
  if (run.arcade_state != engine::ArcadeState::Playing) return KeyOutcome::not_playing;
  if (qt_key == Qt::Key_P) {
    const bool was_paused = run.game.paused != 0;
    engine::toggle_pause(run);
    return was_paused ? KeyOutcome::resumed : KeyOutcome::paused;
  }
  // Judged before the catch-up: a clear the player can already see swallows the key whole.
  if (run.game.paused || run.game.clearing || run.game.cascading) return KeyOutcome::dropped;
  const uint8_t action = action_for_key(qt_key);
  if (action == 0) return KeyOutcome::unmapped;
  engine::apply_action(run, action);
  return KeyOutcome::applied;
}

}  // namespace app
