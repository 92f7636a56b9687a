// The program a player starts: one copy per user, the settings, the Korb data directory, the
// network library, the status line as the wallet library's text sink, the main window and the
// music, then the event loop and the end.
#pragma once

#include <memory>
#include <string>

#include "sound/music.h"

namespace ui {
class SingleInstanceServer;
}

namespace app {

class MainWindow;

// The name of the game's single-instance socket (its window class on other systems).
inline constexpr const char* kInstanceName = "OrbweaveOStakkaShell";
// The desktop entry the window system matches the game's windows with.
inline constexpr const char* kDesktopFileName = "io.orbweave.OStakka";

// What start_game leaves running. The server is made before the window so a second launch that
// comes in while the window is being made is heard once the event loop runs.
struct RunningGame {
  std::unique_ptr<ui::SingleInstanceServer> server;
  std::unique_ptr<MainWindow> window;
};

enum class StartOutcome { run, exit_ok };

struct StartOptions {
  sound::OutputOpener open_sound = sound::open_midi_output;
};

// Start-up after the application object exists, in this order: the working directory becomes
// the executable's folder; a running copy is asked to show itself (then exit_ok and nothing else
// happens); the settings are read; the game attaches to the Korb data directory as "O-Stakka";
// libcurl is set up; the status hook becomes the wallet library's text sink; the main window is
// made, placed where it was, the music starts, and the window is shown (maximised when it was).
[[nodiscard]] StartOutcome start_game(RunningGame& game, const StartOptions& options = {});

// The status hook: a line of the wallet library, from any thread, goes to the status line.
void status_hook(const std::string& line);

// The whole program; returns the process's exit code.
int run_game(int argc, char** argv);

}  // namespace app
