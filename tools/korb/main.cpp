// korb: the Orbweave wallet application. With arguments it runs one command; without, it opens
// the Korb window, or raises the one already open.
#include <curl/curl.h>
#include <openssl/crypto.h>

#include <QApplication>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include "korb/connect.h"
#include "korb/session.h"
#include "tools/korb/commands.h"
#include "tools/korb/korb_window.h"
#include "ui/single_instance.h"

namespace {

int open_window(int argc, char** argv) {
  QApplication app(argc, argv);
  ui::SingleInstanceServer server;
  switch (ui::claim_single_instance(server, korb::korb_instance_name)) {
    case ui::InstanceClaim::raised_running:
      return korb_app::exit_ok;
    case ui::InstanceClaim::unclaimed:
      std::cerr << "korb: could not claim the single-instance name; another window may open\n";
      break;
    case ui::InstanceClaim::claimed:
      break;
  }
  // The balances are read with the game's own network code, which finds its certificate file
  // in the data directory through these hooks.
  curl_global_init(CURL_GLOBAL_ALL);
  korb::install_korb_hooks();
  korb_app::KorbWindow window;
  QObject::connect(&server, &ui::SingleInstanceServer::raise_requested, &window,
                   &korb_app::KorbWindow::bring_to_front);
  window.show();
  const int code = QApplication::exec();
  // A balance reading still waiting on the network must not find libcurl and the wallet code
  // torn down under it.
  if (korb_app::balance_workers_running() > 0) std::quick_exit(code);
  curl_global_cleanup();
  return code;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  korb_app::ParsedCommand parsed = korb_app::parse_command_line(args);
  if (!parsed.ok) {
    std::cerr << "korb: " << parsed.error << "\n\n" << korb_app::usage_text();
    return korb_app::exit_usage;
  }
  if (parsed.command.verb == korb_app::Verb::window) return open_window(argc, argv);
  // The arguments may hold a mnemonic (restore); we have our copies, so blank the originals,
  // which stay readable in the process listing for as long as the command runs.
  for (int i = 1; i < argc; ++i) OPENSSL_cleanse(argv[i], std::strlen(argv[i]));
  const int code = korb_app::run_command(parsed.command, std::cout, std::cerr);
  korb_app::wipe_command(parsed.command);
  for (std::string& arg : args) {
    if (!arg.empty()) OPENSSL_cleanse(arg.data(), arg.size());
  }
  return code;
}
