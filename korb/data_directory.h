#pragma once
// The per-user folder the game and the Korb wallet application share. Everything they
// exchange (registry, wallet files, bind files, connect requests and replies) lives here.
#include <string>

namespace korb {

// "$LOCALAPPDATA/Orbweave" when that variable is set and non-empty, otherwise
// "$XDG_DATA_HOME/Orbweave", otherwise "$HOME/.local/share/Orbweave" (last resort
// "./Orbweave"). The folder and its missing parents are created on every call; a failure to
// create is ignored here and shows up when a file inside cannot be written. No trailing slash.
std::string korb_data_dir();

// Creates `path` and every missing parent. True when it exists as a folder afterwards.
bool make_directories(const std::string& path);

}  // namespace korb
