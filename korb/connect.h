#pragma once
// The connect handshake with the Korb wallet application, through files in "connect/":
// the app writes "<id>.req.json", the wallet application answers with "<id>.rep.json".
// Both sides live here: the app side (`connect`, `disconnect`) and the reply side the wallet
// application uses (`list_connect_requests`, `write_connect_reply`).
#include <cstdint>
#include <string>
#include <vector>

namespace korb {

// Result texts of `connect`.
inline constexpr const char* connect_not_for_vault =
    "error: connect is for apps, not the Korb vault.";
inline constexpr const char* connect_request_failed = "error: could not write connect request.";
inline constexpr const char* connect_denied = "error: connect denied in Korb.";
inline constexpr const char* connect_timed_out =
    "error: Korb did not approve in time. Open Korb.exe and try Connect again.";
inline constexpr const char* connect_load_failed =
    "error: approved, but the wallet would not load.";

// Name of the wallet application's single-instance socket and of its executable.
inline constexpr const char* korb_instance_name = "OrbweaveKorbShell";
inline constexpr const char* korb_executable_name = "korb";

std::string connect_dir();  // .../connect, created on the way
std::string connect_request_path(const std::string& request_id);
std::string connect_reply_path(const std::string& request_id);

// Writes a request for the attached app. Returns the request id, or empty when not attached
// or the file could not be written.
std::string write_connect_request();

// One look at the reply: "pending" (no reply file), "ok" (approved; a non-empty wallet id has
// been bound) or "denied" (empty id, unreadable or corrupt reply, "ok" not true, "wallet_id"
// not a string).
std::string poll_connect_reply(const std::string& request_id);

// Asks a running wallet application to raise its window, or starts the `korb` executable from
// the game's folder or its parent, detached. True when it runs or was started.
bool launch_korb();

// The whole handshake; blocks up to about a minute. Returns "success" or an error text above.
std::string connect();

// Unbinds this installation and wipes the session. Returns "success".
std::string disconnect();

// ---- The wallet application's side ----

struct ConnectRequest {
  std::string id;  // request id (file name stem)
  std::string app;
  std::string instance;
  std::int64_t ts = 0;  // seconds since 1970
};

// Requests in "connect/" that have no reply yet, oldest id first. Unreadable or malformed
// request files and names that are not request ids are skipped.
std::vector<ConnectRequest> list_connect_requests();

// True for an id `write_connect_request` could have made: "w" and up to 31 digits. Files in
// "connect/" under any other name are not requests (their names could carry terminal escapes).
bool is_request_id(const std::string& id);

// Reads one request by id. False when it is missing, corrupt, or the id is not a request id.
[[nodiscard]] bool read_connect_request(const std::string& request_id, ConnectRequest& out);

// Writes "<id>.rep.json": {"ok": ok, "wallet_id": wallet_id}, complete the moment it appears,
// and only when the request has no reply yet: of two answers racing, the first wins and the
// other gets "connect request <id> was already answered". An approval must name a safe wallet
// id. False with `error` on failure.
[[nodiscard]] bool write_connect_reply(const std::string& request_id, bool ok,
                                       const std::string& wallet_id, std::string& error);

}  // namespace korb
