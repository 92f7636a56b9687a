#include "korb/atomic_file.h"

#include <sys/stat.h>

#include "wallet/private_file.h"
#include "wallet/secret.h"

namespace korb {

bool read_file_capped(const std::string& path, std::string& out, std::size_t max_bytes) {
  return wallet::read_regular_file(path, out, max_bytes);
}

bool read_own_file(const std::string& path, std::string& out, std::size_t max_bytes) {
  return wallet::read_regular_file(path, out, max_bytes, true);
}

bool write_file_atomic(const std::string& path, const std::string& content, std::string& error,
                       const std::string& temp_path) {
  // The reader refuses bigger files; writing one would lose the file's content for good.
  if (content.size() > max_data_file_bytes) {
    error = "refusing to write " + std::to_string(content.size()) + " bytes to " + path +
            ": larger than the " + std::to_string(max_data_file_bytes) + " bytes a reader accepts";
    return false;
  }
  return wallet::replace_file(path, content, error, temp_path);
}

bool json_nesting_within(const std::string& text, int max_depth) {
  int depth = 0;
  bool in_string = false;
  bool escaped = false;
  for (char c : text) {
    if (in_string) {
      if (escaped) {
        escaped = false;
      } else if (c == '\\') {
        escaped = true;
      } else if (c == '"') {
        in_string = false;
      }
      continue;
    }
    if (c == '"') {
      in_string = true;
    } else if (c == '[' || c == '{') {
      if (++depth > max_depth) return false;
    } else if (c == ']' || c == '}') {
      --depth;
    }
  }
  return true;
}

namespace {

nlohmann::json parse_file(const std::string& path, bool own_only) {
  wallet::SecretString text;  // may be a wallet file holding a mnemonic or a private key
  nlohmann::json value(nlohmann::json::value_t::discarded);
  if (wallet::read_regular_file(path, text, max_data_file_bytes, own_only) &&
      json_nesting_within(text, max_json_depth)) {
    value = nlohmann::json::parse(text.str(), nullptr, false);
  }
  return value;
}

}  // namespace

nlohmann::json read_json_file(const std::string& path) {
  return parse_file(path, false);
}

nlohmann::json read_own_json_file(const std::string& path) {
  return parse_file(path, true);
}

std::string json_text(const nlohmann::json& value, int indent, bool final_newline) {
  std::string text = value.dump(indent, ' ', false, nlohmann::json::error_handler_t::replace);
  if (final_newline) text += '\n';
  return text;
}

bool path_exists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

}  // namespace korb
