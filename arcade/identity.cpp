#include "arcade/identity.h"

#include <algorithm>
#include <vector>

#include "arcade/bounded_parallel.h"
#include "arcade/score_record.h"
#include "config/deploy_config.h"
#include "wallet/http_client.h"
#include "wallet/ow_korb_wallet.h"

namespace arcade {
namespace {

using nlohmann::json;

std::map<std::string, std::string>& avatar_cache() {
  static std::map<std::string, std::string> cache;
  return cache;
}

bool starts_with(const std::string& text, const char* prefix) {
  return text.rfind(prefix, 0) == 0;
}

}  // namespace

std::mutex& avatar_cache_mutex() {
  static std::mutex mutex;
  return mutex;
}

std::map<std::string, std::string> avatar_bytes() {
  std::lock_guard<std::mutex> lock(avatar_cache_mutex());
  return avatar_cache();
}

bool is_identity_frozen(std::string& note) {
  note.clear();
  std::string key;
  {
    std::lock_guard<std::recursive_mutex> guard(wallet::session_mutex());
    if (wallet::session_loaded()) {
      const wallet::WalletSession& s = wallet::session();
      key = s.hd ? s.identity_public_key : s.payment_public_key;
    }
  }
  if (key.empty()) return false;
  json answer;
  if (!wallet::app_http_get_json(
          wallet::service_base_url() + "/api/paymail/identity/" + url_path_segment(key), answer)) {
    return false;
  }
  note = json_string_field(answer, "frozenNote");
  const auto frozen = answer.is_object() ? answer.find("frozen") : answer.end();
  return answer.is_object() && frozen != answer.end() && frozen->is_boolean() &&
         frozen->get<bool>();
}

std::string avatar_url(const std::string& name) {
  if (name.empty() || name.front() == '1') return {};
  json profile;
  // The name comes from chain data: escaped, it can only ever name one path segment.
  const std::string url = wallet::service_base_url() + "/api/bsvalias/public-profile/" +
                          url_path_segment(name) + "@" +
                          std::string(config::deploy_config().paymail_domain);
  if (!wallet::app_http_get_json(url, profile)) return {};
  const std::string avatar = json_string_field(profile, "avatar");
  if (starts_with(avatar, "https://")) return avatar;
  std::string reference = json_string_field(profile, "ord");
  if (reference.empty()) reference = json_string_field(profile, "origin");
  if (reference.empty()) return {};
  if (starts_with(reference, "https://")) return reference;
  return wallet::network_endpoints().ordinals_content_base + "/content/" +
         url_path_segment(reference);
}

void prefetch_avatars(const BoardResult& result, int parallel) {
  {
    std::lock_guard<std::mutex> lock(avatar_cache_mutex());
    avatar_cache().clear();
  }
  std::vector<std::string> names;
  const auto add = [&names](const BoardRow& row) {
    const std::string name = display_name(row);
    if (!name.empty() && std::find(names.begin(), names.end(), name) == names.end()) {
      names.push_back(name);
    }
  };
  for (const BoardRow& row : result.rows) add(row);
  if (result.has_best) add(result.best);
  std::vector<std::string> bodies(names.size());
  run_bounded_parallel(names.size(), parallel, [&](std::size_t i) {
    const std::string url = avatar_url(names[i]);
    std::string body;
    if (url.empty() || !wallet::app_http_get_text(url, body)) return;
    if (body.size() >= kMinAvatarBytes && body.size() <= kMaxAvatarBytes)
      bodies[i] = std::move(body);
  });
  std::lock_guard<std::mutex> lock(avatar_cache_mutex());
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (!bodies[i].empty()) avatar_cache()[names[i]] = std::move(bodies[i]);
  }
}

}  // namespace arcade
