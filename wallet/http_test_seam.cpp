#include "wallet/http_test_seam.h"

#include <mutex>
#include <optional>

namespace wallet {
namespace {

std::mutex& endpoints_override_mutex() {
  static std::mutex mutex;
  return mutex;
}

std::optional<NetworkEndpoints>& endpoints_override() {
  static std::optional<NetworkEndpoints> value;
  return value;
}

}  // namespace

void set_network_endpoints_for_test(const NetworkEndpoints& endpoints) {
  std::lock_guard<std::mutex> lock(endpoints_override_mutex());
  endpoints_override() = endpoints;
}

void clear_network_endpoints_for_test() {
  std::lock_guard<std::mutex> lock(endpoints_override_mutex());
  endpoints_override().reset();
}

bool network_endpoints_override(NetworkEndpoints& out) {
  std::lock_guard<std::mutex> lock(endpoints_override_mutex());
  if (!endpoints_override()) return false;
  out = *endpoints_override();
  return true;
}

}  // namespace wallet
