#pragma once
// The per-user folder the game and the Korb wallet application share. Everything they
// exchange (registry, wallet files, bind files, connect requests and replies) lives here.
// Every folder we make in it is private to the user (0700, whatever the umask).
#include <string>

namespace korb {

// "$LOCALAPPDATA/Orbweave" when that variable is set and non-empty, otherwise
// "$XDG_DATA_HOME/Orbweave", otherwise "$HOME/.local/share/Orbweave" (last resort
// "./Orbweave"). The folder and its missing parents are created on every call (0700); a data
// folder of ours that an earlier version left open to others is closed again. A failure to
// create is ignored here and shows up in `check_data_dir` or when a file cannot be written.
// No trailing slash.
std::string korb_data_dir();

// Creates `path` and every missing parent, each new folder 0700. True when it exists as a
// folder afterwards.
bool make_directories(const std::string& path);

// A folder we keep secrets or answers in: creates it (0700) when missing, then insists that it
// is a real folder (not a symlink) that the user owns, and closes it to others when an earlier
// version or a loose umask left it open. False with `error` otherwise: another user could
// have put it there to swap what is inside.
[[nodiscard]] bool private_folder(const std::string& path, std::string& error);

// True when the data folder is there as a folder the user owns and may read, write and enter;
// otherwise `error` says why. Lets a reader tell "nothing stored yet" from "cannot look".
[[nodiscard]] bool check_data_dir(std::string& error);

}  // namespace korb
