// Holders of secrets (the wallet file's text, the mnemonic, the seed, private keys and chain
// codes). Each wipes its bytes with OPENSSL_cleanse whenever it lets go of them: when it is
// destroyed, cleared, assigned over or moved from. Keeping a secret in one of these instead of a
// plain string or array makes a forgotten wipe impossible.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <utility>

namespace wallet {

// Overwrites `size` bytes at `data` in a way the compiler cannot leave out.
void wipe_bytes(void* data, std::size_t size);
// Wipes a plain string's whole buffer and empties it: for a caller's output parameter that is
// about to receive a secret, or a secret that has to live in a plain string for a moment.
void wipe_string(std::string& text);

// A secret text (private key hex, mnemonic, a wallet file's contents). It passes as a
// std::string to every function that takes one, without a copy. What it held, short texts kept
// inside the string object included, is wiped before the memory is given back. Growing it in
// place (append) could leave an unwiped copy behind, so a secret is assigned whole.
class SecretString {
 public:
  SecretString() = default;
  SecretString(std::string text) : text_(std::move(text)) {}  // NOLINT: takes the text over
  SecretString(const SecretString& other) : text_(other.text_) {}
  SecretString(SecretString&& other) noexcept : text_(std::move(other.text_)) { other.wipe(); }
  ~SecretString() { wipe(); }

  SecretString& operator=(const SecretString& other) {
    if (this != &other) assign(other.text_);
    return *this;
  }
  SecretString& operator=(SecretString&& other) noexcept {
    if (this != &other) {
      wipe();
      text_ = std::move(other.text_);
      other.wipe();
    }
    return *this;
  }
  SecretString& operator=(const std::string& text) {
    assign(text);
    return *this;
  }
  SecretString& operator=(std::string&& text) noexcept {
    wipe();
    text_ = std::move(text);
    return *this;
  }

  // The text, for functions that read or fill a std::string.
  operator const std::string&() const { return text_; }  // NOLINT: meant to be implicit
  operator std::string&() { return text_; }              // NOLINT: meant to be implicit
  const std::string& str() const { return text_; }
  std::string& str() { return text_; }

  bool empty() const { return text_.empty(); }
  std::size_t size() const { return text_.size(); }
  const char* data() const { return text_.data(); }
  // Wipes the text and leaves it empty.
  void clear() { wipe(); }

  friend bool operator==(const SecretString& a, const SecretString& b) {
    return a.text_ == b.text_;
  }
  friend bool operator==(const SecretString& a, const std::string& b) { return a.text_ == b; }
  friend bool operator==(const SecretString& a, const char* b) { return a.text_ == b; }

 private:
  void assign(const std::string& text) {
    wipe();
    text_ = text;
  }
  void wipe() { wipe_string(text_); }

  std::string text_;
};

// A fixed-size secret (seed, key, chain code, the word values of a mnemonic), used like the
// std::array it holds.
template <typename T, std::size_t N>
struct SecretArray {
  std::array<T, N> bytes{};

  SecretArray() = default;
  SecretArray(const SecretArray&) = default;
  SecretArray& operator=(const SecretArray&) = default;  // overwrites every element
  SecretArray(SecretArray&& other) noexcept : bytes(other.bytes) { other.wipe(); }
  SecretArray& operator=(SecretArray&& other) noexcept {
    bytes = other.bytes;
    if (this != &other) other.wipe();
    return *this;
  }
  ~SecretArray() { wipe(); }

  void wipe() { wipe_bytes(bytes.data(), sizeof bytes); }
  T* data() { return bytes.data(); }
  const T* data() const { return bytes.data(); }
  static constexpr std::size_t size() { return N; }
  auto begin() { return bytes.begin(); }
  auto end() { return bytes.end(); }
  auto begin() const { return bytes.begin(); }
  auto end() const { return bytes.end(); }
  T& operator[](std::size_t i) { return bytes[i]; }
  T operator[](std::size_t i) const { return bytes[i]; }

  friend bool operator==(const SecretArray& a, const SecretArray& b) { return a.bytes == b.bytes; }
  friend bool operator==(const SecretArray& a, const std::array<T, N>& b) { return a.bytes == b; }
};

template <std::size_t N>
using SecretBytes = SecretArray<unsigned char, N>;

// The 32 bytes of a private key written as 64 hex digits (either case), decoded straight into a
// secret holder. False, and the holder wiped, for any other text.
[[nodiscard]] bool private_key_from_hex(const std::string& hex, SecretBytes<32>& key);

}  // namespace wallet
