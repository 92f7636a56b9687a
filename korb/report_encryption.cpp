#include "korb/report_encryption.h"

#include <openssl/crypto.h>
#include <openssl/rand.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <chrono>
#include <map>
#include <mutex>
#include <vector>

#include "config/deploy_config.h"
#include "korb/atomic_file.h"
#include "korb/platform.h"
#include "korb/report_encryption_testing.h"
#include "korb/session.h"
#include "wallet/ecies.h"
#include "wallet/ow_korb_wallet.h"
#include "wallet/secret.h"

namespace korb {

namespace {

// A key file is two short lines; anything bigger is not ours.
constexpr std::size_t max_key_file_bytes = 4096;
// Well below any file system's name limit, with room for "encpub-" and ".txt".
constexpr std::size_t max_file_handle = 200;

struct KeyBookEntry {
  std::string key;  // canonical: 66 lowercase hex characters
  std::int64_t ts = 0;
};

// Leaf lock: nothing else is taken while it is held.
std::mutex& key_book_mutex() {
  static std::mutex mutex;
  return mutex;
}
std::map<std::string, KeyBookEntry>& key_book() {  // guarded by key_book_mutex()
  static std::map<std::string, KeyBookEntry> book;
  return book;
}

// Serialises key file writes, so that a writer holding an older key cannot put it back over a
// newer one that another thread wrote meanwhile. Taken before the key-book mutex.
std::mutex& key_file_mutex() {
  static std::mutex mutex;
  return mutex;
}

struct OwnKeys {
  std::string handle;    // key-book form of the paymail handle the pair belongs to
  std::string identity;  // that wallet's identity key: another wallet may show the same name
  std::string public_key;
  wallet::SecretString private_key;
};

// Taken before the session mutex.
std::mutex& own_key_mutex() {
  static std::mutex mutex;
  return mutex;
}
OwnKeys& own_keys() {  // guarded by own_key_mutex()
  static OwnKeys keys;
  return keys;
}

void clear_own_keys(OwnKeys& keys) {
  keys = OwnKeys{};
}

// Where the folder chain starts: the executable's folder, or a test's own folder.
std::mutex& key_base_mutex() {
  static std::mutex mutex;
  return mutex;
}
std::string& key_base_override() {  // guarded by key_base_mutex()
  static std::string base;
  return base;
}

std::int64_t now_seconds() {
  return std::chrono::duration_cast<std::chrono::seconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

bool is_space(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// White space at both ends removed, then one leading "@" or "$".
std::string_view stripped_handle(std::string_view handle) {
  while (!handle.empty() && is_space(handle.front())) handle.remove_prefix(1);
  while (!handle.empty() && is_space(handle.back())) handle.remove_suffix(1);
  if (!handle.empty() && (handle.front() == '@' || handle.front() == '$')) handle.remove_prefix(1);
  return handle;
}

// The folders from the executable's folder down to the key folder, each of which we may create.
std::vector<std::string> key_folder_chain() {
  std::string base;
  {
    std::lock_guard<std::mutex> guard(key_base_mutex());
    base = key_base_override();
  }
  if (base.empty()) base = platform::executable_dir();
  std::vector<std::string> chain{base + "/userinfo"};
  const std::string network(config::deploy_config().network);
  if (network != "main") chain.push_back(chain.back() + "/" + network);
  return chain;
}

// A folder we may read keys from and write keys to: a real folder (not a link) that belongs to
// us, or to the administrator who installed the game, and that nobody else can write into.
// Anyone who could plant a key there could read every report sent with it.
bool trusted_folder(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
  if (st.st_uid != ::geteuid() && st.st_uid != 0) return false;
  return (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

// The key folder when every level of it is trusted, creating missing levels (0700) when asked;
// empty otherwise.
std::string usable_key_folder(bool create) {
  const std::vector<std::string> chain = key_folder_chain();
  for (const std::string& folder : chain) {
    if (create && ::mkdir(folder.c_str(), 0700) == 0) {
      ::chmod(folder.c_str(), 0700);  // whatever the umask took away or left
    }
    if (!trusted_folder(folder)) return {};
  }
  return chain.back();
}

// Handles reach a file name only when they are plainly a name: without a separator no run of dots
// can climb out of the folder, and nothing is left that a file system might treat specially.
// Other handles live in the key book only.
bool fits_file_name(const std::string& handle) {
  if (handle.empty() || handle.size() > max_file_handle) return false;
  for (char c : handle) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
                    c == '.' || c == '+';
    if (!ok) return false;
  }
  return true;
}

std::string key_file_name(const std::string& handle) {
  return "/encpub-" + handle + ".txt";
}

// Line 2 of a key file: a signed decimal number; anything else reads as 0.
std::int64_t parse_time_stamp(std::string_view line) {
  while (!line.empty() && is_space(line.front())) line.remove_prefix(1);
  std::int64_t value = 0;
  const auto [end, ec] = std::from_chars(line.data(), line.data() + line.size(), value);
  (void)end;
  return ec == std::errc() ? value : 0;
}

// The key and time-stamp of the handle's key file. False when there is no usable key.
bool read_key_file(const std::string& handle, std::string& key, std::int64_t& ts) {
  key.clear();
  ts = 0;
  if (!fits_file_name(handle)) return false;
  const std::string folder = usable_key_folder(false);
  std::string text;
  if (folder.empty() || !read_file_capped(folder + key_file_name(handle), text, max_key_file_bytes))
    return false;
  const std::string_view all = text;
  const std::size_t first_end = all.find('\n');
  if (!wallet::canonical_public_key(all.substr(0, first_end), key)) return false;
  if (first_end != std::string_view::npos) {
    const std::string_view rest = all.substr(first_end + 1);
    ts = parse_time_stamp(rest.substr(0, rest.find('\n')));
  }
  return true;
}

// Writes the handle's key file unless the key book has moved on since (key, ts) was stored.
// Failures stay silent: a read-only installation still works from the key book.
void write_key_file(const std::string& handle, const std::string& key, std::int64_t ts) {
  if (!fits_file_name(handle)) return;
  std::lock_guard<std::mutex> file_guard(key_file_mutex());
  {
    std::lock_guard<std::mutex> guard(key_book_mutex());
    const auto it = key_book().find(handle);
    if (it == key_book().end() || it->second.key != key || it->second.ts != ts) return;
  }
  const std::string folder = usable_key_folder(true);
  if (folder.empty()) return;
  std::string error;
  (void)write_file_atomic(folder + key_file_name(handle), key + "\n" + std::to_string(ts) + "\n",
                          error);
}

}  // namespace

std::string key_book_handle(std::string_view handle) {
  std::string out(stripped_handle(handle));
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

std::string encryption_key_folder() {
  return key_folder_chain().back();
}

void publish_encryption_key(std::string_view handle, std::string_view public_key_hex,
                            std::int64_t ts) {
  const std::string name = key_book_handle(handle);
  std::string key;
  if (name.empty() || !wallet::canonical_public_key(public_key_hex, key)) return;
  {
    std::lock_guard<std::mutex> guard(key_book_mutex());
    auto& book = key_book();
    const auto it = book.find(name);
    if (it != book.end()) {
      if (it->second.ts > ts && ts >= 0) return;
      if (it->second.key == key && it->second.ts == ts) return;
    }
    book[name] = KeyBookEntry{key, ts};
  }
  write_key_file(name, key, ts);
}

std::string lookup_encryption_key(std::string_view handle) {
  const std::string name = key_book_handle(handle);
  if (name.empty()) return {};
  std::string file_key;
  std::int64_t file_ts = 0;
  const bool from_file = read_key_file(name, file_key, file_ts);
  std::lock_guard<std::mutex> guard(key_book_mutex());
  auto& book = key_book();
  const auto it = book.find(name);
  if (from_file && (it == book.end() || file_ts >= it->second.ts)) {
    book[name] = KeyBookEntry{file_key, file_ts};
    return file_key;
  }
  return it == book.end() ? std::string() : it->second.key;
}

bool load_own_encryption_keys(std::string& public_key, std::string& private_key,
                              std::string& error) {
  public_key.clear();
  wallet::wipe_string(private_key);
  error.clear();
  std::lock_guard<std::mutex> own_guard(own_key_mutex());
  OwnKeys& cache = own_keys();
  std::string handle;
  std::string identity;
  bool connected = false;
  {
    std::lock_guard<std::recursive_mutex> session_guard(wallet::session_mutex());
    connected = is_connected();
    handle = key_book_handle(wallet::session().paymail_handle);
    identity = wallet::session().identity_public_key;
  }
  if (!connected || handle.empty()) {
    clear_own_keys(cache);
    error = "Connect Korb";
    return false;
  }
  if (!cache.public_key.empty() && cache.handle == handle && cache.identity == identity) {
    public_key = cache.public_key;
    private_key = cache.private_key;
    return true;
  }
  clear_own_keys(cache);
  if (!encryption_keys(public_key, private_key, error)) return false;
  cache.handle = handle;
  cache.identity = identity;
  cache.public_key = public_key;
  cache.private_key = private_key;
  publish_encryption_key(handle, public_key, now_seconds());
  return true;
}

bool encrypt_direct_message(const MessageParts& parts, const std::string& sender_handle,
                            const std::string& recipient_handle, nlohmann::json& message,
                            std::string& error) {
  error.clear();
  std::string own_public;
  {
    wallet::SecretString own_private;  // sending needs only the public half
    const bool loaded = load_own_encryption_keys(own_public, own_private, error);
    if (!loaded) {
      if (error.empty()) error = "could not load Korb encryption keys";
      return false;
    }
  }
  publish_encryption_key(sender_handle, own_public, now_seconds());

  const std::string recipient_key = lookup_encryption_key(recipient_handle);
  if (recipient_key.empty()) {
    error = "no encryption key on file for @" + std::string(stripped_handle(recipient_handle)) +
            ". They need to join a channel once with this version so their key is published.";
    return false;
  }

  wallet::SecretBytes<32> message_key;
  if (RAND_bytes(message_key.bytes.data(), static_cast<int>(message_key.bytes.size())) != 1) {
    error = "RNG failed";
    return false;
  }
  wallet::Bytes key_bytes(message_key.bytes.begin(), message_key.bytes.end());
  std::string wrap_to;
  std::string wrap_me;
  const bool wrapped = wallet::ecies_wrap(recipient_key, key_bytes, wrap_to) &&
                       wallet::ecies_wrap(own_public, key_bytes, wrap_me);
  OPENSSL_cleanse(key_bytes.data(), key_bytes.size());
  if (!wrapped) {
    error = "failed to wrap direct-message key";
    return false;
  }

  if (message.is_null()) message = nlohmann::json::object();
  if (!message.is_object()) {
    error = "failed to encrypt direct message";
    return false;
  }
  // Parts of an earlier message must not ride along under this message's keys.
  for (std::size_t i = 1; i <= parts.size(); ++i) message.erase("pmessage" + std::to_string(i));
  for (std::size_t i = 0; i < parts.size() && !parts[i].empty(); ++i) {
    std::string cipher_text = wallet::encrypt_part(message_key.bytes, parts[i]);
    if (cipher_text.empty()) {
      error = "failed to encrypt direct message";
      return false;
    }
    message["pmessage" + std::to_string(i + 1)] = std::move(cipher_text);
  }
  message["enc_v"] = 2;
  message["enc_pub"] = own_public;
  message["wrap_to"] = wrap_to;
  message["wrap_me"] = wrap_me;
  return true;
}

void set_encryption_key_base_for_testing(const std::string& base) {
  std::lock_guard<std::mutex> guard(key_base_mutex());
  key_base_override() = base;
}

void clear_key_book_for_testing() {
  {
    std::lock_guard<std::mutex> guard(own_key_mutex());
    clear_own_keys(own_keys());
  }
  std::lock_guard<std::mutex> guard(key_book_mutex());
  key_book().clear();
}

}  // namespace korb
