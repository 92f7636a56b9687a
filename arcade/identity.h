// The player's paymail identity beyond the score row: whether the maker's service has frozen it
// (a frozen identity may not pay to play), and the avatar pictures of the board's players.
//
// The avatar byte cache is filled by the board worker and read by the window thread after the
// load's result has arrived; it has its own mutex, so a late reader never sees half a map.
// Decoding and drawing the pictures belong to the window.
#pragma once

#include <cstddef>
#include <map>
#include <mutex>
#include <string>

#include "arcade/board.h"

namespace arcade {

// Asks the service whether the session's identity (the identity key of an HD wallet, the stored
// key of a single-key wallet) is frozen. `note` receives the service's reason. No wallet, no key
// or a failed request: not frozen. Blocks for one request.
[[nodiscard]] bool is_identity_frozen(std::string& note);

// Where a player's picture lives: the public profile's https "avatar", else its "ord" or
// "origin" (an https address, or an inscription origin on the ordinals content host). "" when
// there is none (also for an empty name or one that is a Bitcoin address).
[[nodiscard]] std::string avatar_url(const std::string& name);

// Bodies shorter than this are no picture.
inline constexpr std::size_t kMinAvatarBytes = 33;
// Nor are bodies longer than this: a board shows 21 pictures at 38 pixels, and a hostile profile
// must not make the game hold hundreds of megabytes.
inline constexpr std::size_t kMaxAvatarBytes = 2u * 1024u * 1024u;

// Empties the byte cache, then downloads the picture of every distinct display name of the rows
// and, when there is one, the best row (`parallel` at a time).
void prefetch_avatars(const BoardResult& result, int parallel = kBoardFetchParallel);

// Guards the avatar byte cache.
[[nodiscard]] std::mutex& avatar_cache_mutex();
// A copy of the byte cache: display name to the picture's raw bytes.
[[nodiscard]] std::map<std::string, std::string> avatar_bytes();

}  // namespace arcade
