#pragma once
// The few operating-system calls of the bridge that a Windows build would swap: the byte lock
// on the registry lock file, finding the running executable's folder, asking a running program
// to raise its window through its single-instance socket, and starting a program detached.
#include <string>

namespace korb::platform {

// Opens (creating when missing) the lock file for reading and writing. -1 on failure.
int open_lock_file(const std::string& path);
// Exclusive lock on byte 0, waiting as long as another process holds it. False on failure.
[[nodiscard]] bool lock_first_byte(int fd);
void unlock_first_byte(int fd);
void close_file(int fd);

// Folder of the running executable, without a trailing slash; "." when unknown.
std::string executable_dir();

// Connects to the single-instance socket `name` (in $TMPDIR, else /tmp) and writes "raise\n".
// True when a running instance took the line.
[[nodiscard]] bool raise_running_instance(const std::string& name);

// True for a regular file we may execute.
bool is_executable_file(const std::string& path);

// Starts `executable` without arguments in `working_dir`, detached from this process (its own
// session, not our child, standard streams on /dev/null). True when the program was started.
[[nodiscard]] bool start_detached(const std::string& executable, const std::string& working_dir);

}  // namespace korb::platform
