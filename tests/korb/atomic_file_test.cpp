// Whole-file replacement: a reader must always find the old file or the new one, never a torn
// mix, whatever moment the writer dies at. Readers must refuse what is not a small plain file.
#include "korb/atomic_file.h"

#include <sys/stat.h>

#include "korb_test_support.h"

namespace {

namespace fs = std::filesystem;
using korb_test::KorbTest;
using korb_test::read_text;
using korb_test::write_text;

using atomic_file = KorbTest;

TEST_F(atomic_file, replaces_the_whole_file_and_leaves_no_temporary_behind) {
  const std::string path = data_dir() + "/f.json";
  std::string error;
  ASSERT_TRUE(korb::write_file_atomic(path, "first, and longer", error)) << error;
  ASSERT_TRUE(korb::write_file_atomic(path, "second", error)) << error;
  EXPECT_EQ(read_text(path), "second");
  int entries = 0;
  for (const auto& e : fs::directory_iterator(data_dir())) entries += e.is_regular_file();
  EXPECT_EQ(entries, 1);
  struct stat st {};
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0077, 0u) << "wallet files hold secrets: owner only";
}

TEST_F(atomic_file, a_failed_write_keeps_the_old_file_and_says_why) {
  std::string error;
  EXPECT_FALSE(korb::write_file_atomic(data_dir() + "/missing/f.json", "x", error));
  EXPECT_FALSE(error.empty());

  // The target is a folder: the rename fails, the folder and its content stay.
  const std::string dir_target = data_dir() + "/taken";
  write_text(dir_target + "/inside", "keep");
  EXPECT_FALSE(korb::write_file_atomic(dir_target, "x", error));
  EXPECT_EQ(read_text(dir_target + "/inside"), "keep");
  int entries = 0;
  for (const auto& e : fs::directory_iterator(data_dir())) entries += e.is_regular_file();
  EXPECT_EQ(entries, 0) << "the temporary file is removed after a failure";
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
  EXPECT_FALSE(korb::read_file_capped(fifo, out));
  EXPECT_TRUE(korb::read_json_file(fifo).is_discarded());
}

TEST(json_text, writes_sorted_keys_and_replaces_invalid_utf8_instead_of_failing) {
  nlohmann::json j = {{"b", 1}, {"a", std::string("C:\\Spiele\\\xe4")}};
  EXPECT_EQ(korb::json_text(j, 2, false),
            "{\n  \"a\": \"C:\\\\Spiele\\\\\xef\xbf\xbd\",\n  \"b\": 1\n}");
  EXPECT_EQ(korb::json_text(j, -1, true).back(), '\n');
}

// Whatever the moment a writer dies, the file parses and is one of the two contents.
TEST_F(atomic_file, a_writer_killed_at_any_moment_leaves_the_old_or_the_new_content) {
  const std::string path = data_dir() + "/wallets.json";
  const std::string a = nlohmann::json({{"wallets", {{{"id", "a"}}}}}).dump(2);
  nlohmann::json big = {{"wallets", nlohmann::json::array()}};
  for (int i = 0; i < 3000; ++i) big["wallets"].push_back({{"id", "w" + std::to_string(i)}});
  const std::string b = big.dump(2);
  std::string error;
  ASSERT_TRUE(korb::write_file_atomic(path, a, error));
  korb_test::kill_writer_at_random_moments(
      40, [&](unsigned i) { (void)korb::write_file_atomic(path, (i % 2) ? a : b, error); },
      [&](int round) {
        const std::string text = read_text(path);
        ASSERT_TRUE(text == a || text == b) << "round " << round << ": " << text.size();
      });
}

}  // namespace
