// The operating-system seam: raising a running wallet application through its single-instance
// socket and starting one detached.
#include "korb/platform.h"

#include <sys/socket.h>
#include <sys/un.h>

#include <chrono>
#include <thread>

#include "korb_test_support.h"

namespace {

namespace fs = std::filesystem;
using korb_test::KorbTest;
using korb_test::read_text;
using korb_test::write_text;

using platform = KorbTest;

TEST_F(platform, a_running_instance_receives_the_raise_line_on_its_socket) {
  EXPECT_FALSE(korb::platform::raise_running_instance("OrbweaveKorbShell"));

  // Stand in for the Qt local server: a listening socket at $TMPDIR/OrbweaveKorbShell.
  const std::string socket_path = root_ + "/tmp/OrbweaveKorbShell";
  int server = socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(server, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  ASSERT_LT(socket_path.size(), sizeof(addr.sun_path));
  std::memcpy(addr.sun_path, socket_path.c_str(), socket_path.size() + 1);
  ASSERT_EQ(bind(server, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)), 0);
  ASSERT_EQ(listen(server, 1), 0);
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
  close(server);
  EXPECT_EQ(received, "raise\n");
}

TEST_F(platform, a_program_starts_detached_in_the_given_folder) {
  const std::string work = root_ + "/work";
  fs::create_directories(work);
  const std::string script = root_ + "/fake-korb";
  write_text(script, "#!/bin/sh\necho started > started.txt\n");
  EXPECT_FALSE(korb::platform::is_executable_file(script));
  EXPECT_FALSE(korb::platform::start_detached(script, work)) << "not executable yet";
  fs::permissions(script, fs::perms::owner_all);
  EXPECT_TRUE(korb::platform::is_executable_file(script));
  EXPECT_FALSE(korb::platform::is_executable_file(root_));

  ASSERT_TRUE(korb::platform::start_detached(script, work));
  for (int i = 0; i < 500 && read_text(work + "/started.txt").empty(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(read_text(work + "/started.txt"), "started\n");
}

}  // namespace
