// A devnet of the benchmark's own (node tools/devnet), for benchmarks run outside ctest: started
// on a free port in a temporary folder, and stopped together with the folder whatever happens.
#pragma once

#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "tests/wallet/devnet_wallet.h"

namespace devnet_bench {

namespace fs = std::filesystem;

// The folder, the data directory and the devnet of one benchmark run; all gone when it ends.
struct RunFolders {
  fs::path folder;
  std::string data_dir;
  pid_t devnet = 0;
  explicit RunFolders(const std::string& name)
      : folder(fs::temp_directory_path() / (name + "-" + std::to_string(getpid()))) {
    fs::create_directories(folder);
  }
  ~RunFolders() {
    devnet_wallet::end_devnet_process(data_dir);
    if (devnet > 0) kill(devnet, SIGTERM);
    fs::remove_all(folder);
  }
  RunFolders(const RunFolders&) = delete;
  RunFolders& operator=(const RunFolders&) = delete;
};

// Starts a devnet with `options` (beside a free port, no block timer and a 15-minute lifetime)
// and points OSTAKKA_DEVNET_INFO at its info file. False when node or the devnet cannot start.
inline bool start_own_devnet(RunFolders& run, const std::string& options) {
  const fs::path out = run.folder / "devnet.out";
  const fs::path pid = run.folder / "devnet.pid";
  const std::string command = "node " OSTAKKA_SOURCE_DIR
                              "/tools/devnet/devnet start --port 0 --block-seconds 0 "
                              "--lifetime 900 " +
                              options + " --state '" + (run.folder / "state").string() + "' > '" +
                              out.string() + "' 2>/dev/null & echo $! > '" + pid.string() + "'";
  if (std::system(command.c_str()) != 0) return false;
  std::ifstream(pid) >> run.devnet;
  for (int i = 0; i < 300; ++i) {
    std::ifstream in(out);
    std::string line;
    if (std::getline(in, line) && line.find("\"ready\"") != std::string::npos) {
      const std::string info_path = (run.folder / "info.json").string();
      std::ofstream(info_path) << line << "\n";
      setenv("OSTAKKA_DEVNET_INFO", info_path.c_str(), 1);
      return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return false;
}

}  // namespace devnet_bench
