// The operating-system seam: raising a running wallet application through its single-instance
// socket and starting one detached.
#include "korb/platform.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

#include <algorithm>
#include <thread>
#include <tuple>

#include "korb_test_support.h"

namespace {

namespace fs = std::filesystem;

using platform = korb_test::KorbTest;

// Listens on a Unix socket at `path` the way the Qt local server does.
int listen_at(const std::string& path) {
  int server = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path, path.c_str(), std::min(path.size() + 1, sizeof(addr.sun_path) - 1));
  if (bind(server, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 ||
      listen(server, 4) != 0) {
    close(server);
    return -1;
  }
  return server;
}

// Another local user who listens first on the name in the shared temporary folder must not be
// asked: the socket lives in a folder only this user can enter (its mode is checked below).
TEST_F(platform, a_running_instance_receives_the_raise_line_on_its_private_socket) {
  EXPECT_FALSE(korb::platform::raise_running_instance("OrbweaveKorbShell"));
  const int squatter = listen_at(root_ + "/tmp/OrbweaveKorbShell");
  ASSERT_GE(squatter, 0);
  EXPECT_FALSE(korb::platform::raise_running_instance("OrbweaveKorbShell"));
  close(squatter);

  const std::string socket_path = korb::platform::instance_socket_path("OrbweaveKorbShell");
  EXPECT_EQ(socket_path, data_dir() + "/run/OrbweaveKorbShell");
  const int server = listen_at(socket_path);
  ASSERT_GE(server, 0);
  std::string received;
  std::thread reader([&] {
    int client = accept(server, nullptr, nullptr);
    char buf[64];
    ssize_t n;
    while ((n = read(client, buf, sizeof(buf))) > 0) received.append(buf, static_cast<size_t>(n));
    close(client);
  });
  EXPECT_TRUE(korb::platform::raise_running_instance("OrbweaveKorbShell"));
  reader.join();
  EXPECT_EQ(received, "raise\n");
  close(server);
}

// The runtime folder counts only when it is a real folder of ours that nobody else may enter.
TEST_F(platform, the_socket_folder_is_the_runtime_folder_only_when_it_is_private) {
  const std::string runtime = root_ + "/runtime", name = "OrbweaveOStakkaShell";
  fs::create_directories(runtime);
  fs::create_directory_symlink(runtime, root_ + "/link");
  const std::string fallback = data_dir() + "/run/" + name;
  for (const auto& [dir, mode, expected] :
       std::vector<std::tuple<std::string, mode_t, std::string>>{
           {runtime + "/", 0700, runtime + "/" + name},
           {runtime, 0755, fallback},
           {root_ + "/link/", 0700, fallback},
           {"relative", 0700, fallback}}) {
    ASSERT_EQ(chmod(runtime.c_str(), mode), 0);
    setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);
    EXPECT_EQ(korb::platform::instance_socket_path(name), expected) << dir;
  }
  unsetenv("XDG_RUNTIME_DIR");
  EXPECT_EQ(korb_test::mode_of(data_dir() + "/run"), 0700u);
  // Too long for a socket address: no path rather than a cut one.
  setenv("LOCALAPPDATA", (root_ + "/" + std::string(120, 'x')).c_str(), 1);
  EXPECT_EQ(korb::platform::instance_socket_path(name), "");
}

}  // namespace
