// The secret holders wipe what they held. This binary's operator delete looks into every block
// before it is freed, and the holders are placement-constructed in storage the test owns, so a
// secret left behind on the heap or inside the object is seen.
#include "wallet/secret.h"

#include <gtest/gtest.h>
#include <malloc.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string_view>

namespace {

constexpr char kMark[] = "s3cr3t-k3y-hex!";  // 15 characters: what the secrets are made of
std::atomic<int> g_freed_with_secret{0};

bool holds(const void* memory, std::size_t size, std::string_view text) {
  const char* begin = static_cast<const char*>(memory);
  return std::search(begin, begin + size, text.begin(), text.end()) != begin + size;
}

void release(void* p) {
  if (p != nullptr && holds(p, malloc_usable_size(p), kMark)) ++g_freed_with_secret;
  std::free(p);
}

}  // namespace

void* operator new(std::size_t size) {
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
  release(p);
}
void operator delete(void* p, std::size_t) noexcept {
  release(p);
}

namespace {

const std::string kLong = std::string(kMark) + kMark + kMark + kMark;  // on the heap
const std::string kShort = kMark;  // fits inside the string object

template <typename T>
struct Storage {
  alignas(T) unsigned char bytes[sizeof(T)];
};

TEST(secret, a_string_never_gives_back_memory_that_holds_its_text) {
  for (const std::string& text : {kLong, kShort}) {
    SCOPED_TRACE(text.size());
    g_freed_with_secret = 0;
    Storage<wallet::SecretString> storage;
    auto* secret = new (storage.bytes) wallet::SecretString(std::string(text));
    const std::string& inside = *secret;
    const char* buffer = inside.data();
    secret->clear();
    EXPECT_TRUE(secret->empty());
    EXPECT_FALSE(holds(buffer, inside.capacity(), kMark)) << "clear() left the text";

    *secret = std::string(text);
    wallet::SecretString taken(std::move(*secret));
    EXPECT_EQ(taken, text);
    EXPECT_FALSE(holds(storage.bytes, sizeof storage.bytes, text)) << "a moved-from holder kept it";
    *secret = taken;
    *secret = std::string(100, 'n');  // assigned over: the old buffer goes back wiped
    *secret = taken;
    std::destroy_at(secret);
    EXPECT_FALSE(holds(storage.bytes, sizeof storage.bytes, text)) << "destroyed without a wipe";
    EXPECT_EQ(g_freed_with_secret.load(), 0);
  }
  // The check itself sees a plain string that is not wiped.
  g_freed_with_secret = 0;
  delete new std::string(kLong);
  EXPECT_EQ(g_freed_with_secret.load(), 1);
}

TEST(secret, bytes_wipe_when_destroyed_and_moved_from) {
  Storage<wallet::SecretBytes<32>> storage;
  auto* key = new (storage.bytes) wallet::SecretBytes<32>();
  std::fill(key->begin(), key->end(), 0x5a);
  const wallet::SecretBytes<32> moved(std::move(*key));
  EXPECT_EQ(moved[31], 0x5a);
  EXPECT_TRUE(std::all_of(key->begin(), key->end(), [](unsigned char b) { return b == 0; }));
  std::fill(key->begin(), key->end(), 0x5a);
  std::destroy_at(key);
  EXPECT_TRUE(std::all_of(std::begin(storage.bytes), std::end(storage.bytes),
                          [](unsigned char b) { return b == 0; }));
}

}  // namespace
