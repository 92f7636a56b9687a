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
  const std::int64_t age = now_seconds - request.ts;
  text += age > 0 ? " (" + std::to_string(age) + " s ago)" : " (just now)";
  return text;
}

AnswerButtons answer_buttons(bool request_selected, bool wallet_chosen) {
  return AnswerButtons{request_selected && wallet_chosen, request_selected};
}

}  // namespace korb_app
