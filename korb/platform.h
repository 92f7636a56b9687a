#pragma once
// The few operating-system calls of the bridge that a Windows build would swap: the byte lock
// on the registry lock file, finding the running executable's folder, asking a running program
// to raise its window through its single-instance socket, and starting a program detached.
#include <string>

namespace korb::platform {

// Opens (creating when missing, 0600) the lock file for reading and writing; never through a
// symlink. -1 on failure.
int open_lock_file(const std::string& path);
// Exclusive lock on byte 0, waiting as long as another process holds it. False on failure.
[[nodiscard]] bool lock_first_byte(int fd);
void unlock_first_byte(int fd);
void close_file(int fd);

// Folder of the running executable, without a trailing slash; "." when unknown.
std::string executable_dir();

// Where the single-instance socket `name` ("OrbweaveKorbShell", "OrbweaveOStakkaShell") lives:
// "$XDG_RUNTIME_DIR/<name>" when that folder is a real folder the user owns with mode 0700,
// otherwise "<data directory>/run/<name>" with "run" made private to the user. Never the shared
// temporary folder, where another local user could take the name first. Empty when no private
// folder can be had or the path is too long for a socket. The korb window's and the game's
// local servers listen here; the launcher connects here.
std::string instance_socket_path(const std::string& name);

// Connects to the single-instance socket `name` (at instance_socket_path) and writes "raise\n".
// True when a running instance took the line.
[[nodiscard]] bool raise_running_instance(const std::string& name);

// True for a regular file we may execute.
bool is_executable_file(const std::string& path);

// Starts `executable` without arguments in `working_dir`, detached from this process (its own
// session, not our child, standard streams on /dev/null). True when the program was started.
[[nodiscard]] bool start_detached(const std::string& executable, const std::string& working_dir);

}  // namespace korb::platform
