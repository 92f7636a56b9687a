#pragma once
// Report encryption: the text of a report is encrypted once with a random message key
// (AES-256-CBC), and that key is wrapped by ECIES ("BIE1") to the recipient's and to the sender's
// own encryption key, so only those two can read it. Recipients' public keys come from the key
// book in memory and from the key files "encpub-<handle>.txt" in the `userinfo` folder beside
// the executable; the game never fetches a key over the network.
//
// Locks: the own-key mutex is taken before the session mutex, so never call
// `load_own_encryption_keys` or `encrypt_direct_message` while holding the session mutex. The
// key-book mutex is a leaf: nothing else is taken while it is held.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace korb {

// Message parts of a direct message; the first empty part ends the list.
using MessageParts = std::array<std::string, 8>;

// The key book's form of a handle: white space at both ends removed, one leading "@" or "$"
// removed, lower-cased (ASCII).
std::string key_book_handle(std::string_view handle);

// Folder of the key files: "userinfo" beside the executable on the main network,
// "userinfo/<network>" for any other network (the devnet build shares the main build's folder
// of programs and must not hand its keys to the main-network game). No trailing slash.
std::string encryption_key_folder();

// Records `public_key_hex` (must be a canonical 33-byte key) for `handle` in the key book and,
// when it changed, in the handle's key file. An entry with a later time-stamp is kept unless
// `ts` is negative. A key file that cannot be written is not reported: the key book serves.
void publish_encryption_key(std::string_view handle, std::string_view public_key_hex,
                            std::int64_t ts);

// The handle's public key (66 lowercase hex characters), or empty. A key file at least as new as
// the key book's entry wins and is copied into the book.
std::string lookup_encryption_key(std::string_view handle);

// The connected wallet's encryption key pair (m/44'/236'/101'/0/0), cached for its paymail
// handle and published under that handle. The caller wipes `private_key`. Errors: "Connect
// Korb" (no connected HD wallet or no paymail handle), or the key derivation's error.
[[nodiscard]] bool load_own_encryption_keys(std::string& public_key, std::string& private_key,
                                            std::string& error);

// Encrypts `parts` to `recipient_handle` and to the sender's own key and adds to `message`
// (a JSON object) "pmessage1".."pmessageN", "enc_v" 2, "enc_pub", "wrap_to" and "wrap_me".
// On failure `message` is partly filled and `error` is one of: the key loader's error or
// "could not load Korb encryption keys", "no encryption key on file for @<recipient>. They need
// to join a channel once with this version so their key is published.", "RNG failed",
// "failed to wrap direct-message key", "failed to encrypt direct message".
[[nodiscard]] bool encrypt_direct_message(const MessageParts& parts,
                                          const std::string& sender_handle,
                                          const std::string& recipient_handle,
                                          nlohmann::json& message, std::string& error);

}  // namespace korb
