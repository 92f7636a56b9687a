// Whole-file replacement: a reader must always find the old file or the new one, never a torn
// mix, whatever moment the writer dies at. Readers must refuse what is not a small plain file.
#include "korb/atomic_file.h"

#include <sys/stat.h>

#include <chrono>
#include <random>
#include <thread>

#include "child_guard.h"
#include "korb_test_support.h"

namespace {

namespace fs = std::filesystem;
using korb_test::read_text;
using korb_test::write_text;

using atomic_file = korb_test::KorbTest;

int regular_files_in(const std::string& dir) {
  int entries = 0;
  for (const auto& e : fs::directory_iterator(dir)) entries += e.is_regular_file();
  return entries;
}

TEST_F(atomic_file, replaces_the_whole_file_privately_and_cleans_up_after_a_failure) {
  const std::string path = data_dir() + "/f.json";
  std::string error;
  ASSERT_TRUE(korb::write_file_atomic(path, "first, and longer", error)) << error;
  ASSERT_TRUE(korb::write_file_atomic(path, "second", error)) << error;
  EXPECT_EQ(read_text(path), "second");
  // No reader would take a larger file back: writing it would lose its content for good.
  const std::string too_large(korb::max_data_file_bytes + 1, 'x');
  EXPECT_FALSE(korb::write_file_atomic(path, too_large, error));
  EXPECT_EQ(read_text(path), "second");
  EXPECT_EQ(regular_files_in(data_dir()), 1);
  EXPECT_EQ(korb_test::mode_of(path), 0600u) << "wallet files hold secrets: owner only";

  write_text(data_dir() + "/taken/inside", "keep");
  EXPECT_FALSE(korb::write_file_atomic(data_dir() + "/taken", "x", error));
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(read_text(data_dir() + "/taken/inside"), "keep");
  EXPECT_EQ(regular_files_in(data_dir()), 1) << "the temporary file is removed after a failure";
}

TEST_F(atomic_file, reads_refuse_missing_oversized_and_special_files) {
  std::string out = "stale";
  EXPECT_FALSE(korb::read_file_capped(data_dir() + "/none", out));
  EXPECT_TRUE(out.empty());
  write_text(data_dir() + "/ten", "0123456789");
  EXPECT_TRUE(korb::read_file_capped(data_dir() + "/ten", out, 10));
  EXPECT_EQ(out, "0123456789");
  EXPECT_FALSE(korb::read_file_capped(data_dir() + "/ten", out, 9));
  EXPECT_FALSE(korb::read_file_capped(data_dir(), out));
  // A FIFO under a data file's name must not hang the reader.
  const std::string fifo = data_dir() + "/fifo.json";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_TRUE(korb::read_json_file(fifo).is_discarded());
}

// A child rewrites the file until it is killed at a random moment; the file must then parse as
// one of the two contents. The wallet file and both registries are written this way.
TEST_F(atomic_file, a_writer_killed_at_any_moment_leaves_the_old_or_the_new_content) {
  const std::string path = data_dir() + "/wallets.json";
  const std::string a = nlohmann::json({{"wallets", {{{"id", "a"}}}}}).dump(2);
  nlohmann::json big = {{"wallets", nlohmann::json::array()}};
  for (int i = 0; i < 3000; ++i) big["wallets"].push_back({{"id", "w" + std::to_string(i)}});
  const std::string b = big.dump(2);
  std::string error;
  ASSERT_TRUE(korb::write_file_atomic(path, a, error));
  std::mt19937 rng(std::random_device{}());
  for (int round = 0; round < 40; ++round) {
    test_children::Guard child;
    const pid_t pid = child.add(fork());
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      for (unsigned i = 0;; ++i) (void)korb::write_file_atomic(path, (i % 2) ? a : b, error);
    }
    std::this_thread::sleep_for(std::chrono::microseconds(200 + rng() % 15000));
    child.kill_now(pid);
    const std::string text = read_text(path);
    ASSERT_TRUE(text == a || text == b) << "round " << round << ": " << text.size();
  }
}

}  // namespace
