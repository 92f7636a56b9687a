#include "tools/korb/window_model.h"

#include "tools/korb/connect_answers.h"

namespace korb_app {

std::string wallet_row_text(const StoredWallet& wallet) {
  const std::string address = wallet.address.empty() ? "wallet file unusable" : wallet.address;
  return wallet.name + " \u2014 " + address + " (" + wallet.id + ")";
}

std::string request_row_text(const korb::ConnectRequest& request, std::int64_t now_seconds) {
  const std::string app =
      request.app.empty() ? "An app" : printable_field(request.app, shown_app_bytes);
  std::string text = app + " asks to connect";
  if (!request.instance.empty()) {
    text += " \u2014 " + printable_field(request.instance, shown_instance_bytes);
  }
  return text + " (" + request_age_text(request.ts, now_seconds) + ")";
}

std::string request_age_text(std::int64_t ts, std::int64_t now_seconds) {
  std::int64_t age = 0;
  if (__builtin_sub_overflow(now_seconds, ts, &age)) return "at an impossible time";
  return age > 0 ? std::to_string(age) + " s ago" : "just now";
}

std::string request_details_text(const korb::ConnectRequest& request, std::int64_t now_seconds) {
  const std::string app =
      request.app.empty() ? "(not named)" : printable_field(request.app, shown_app_bytes);
  const std::string folder = request.instance.empty()
                                 ? "(not given)"
                                 : printable_field(request.instance, shown_instance_bytes);
  return "Program: " + app + "\nInstallation folder: " + folder + "\nAsked " +
         request_age_text(request.ts, now_seconds) + " (request " + printable_id(request.id) +
         "). Approving lets this program spend from the wallet chosen below.";
}

AnswerButtons answer_buttons(bool request_selected, bool wallet_chosen) {
  return AnswerButtons{request_selected && wallet_chosen, request_selected};
}

}  // namespace korb_app
