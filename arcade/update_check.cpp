#include "arcade/update_check.h"

#include <charconv>
#include <cmath>
#include <string>

#include "config/deploy_config.h"
#include "wallet/http_client.h"

namespace arcade {
namespace {

constexpr std::size_t kPageTail = 24000;

char lower_ascii(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string lowered(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = lower_ascii(c);
  return out;
}

// Replaces every `from` with one space, scanning left to right.
std::string spaces_for(const std::string& text, std::string_view from) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t at = 0; at < text.size();) {
    if (text.compare(at, from.size(), from) == 0) {
      out += ' ';
      at += from.size();
    } else {
      out += text[at++];
    }
  }
  return out;
}

// Drops everything from a "<" up to the next ">", and turns each ">" into a space.
std::string without_markup(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  bool in_tag = false;
  for (const char c : text) {
    if (c == '<') {
      in_tag = true;
    } else if (c == '>') {
      in_tag = false;
      out += ' ';
    } else if (!in_tag) {
      out += c;
    }
  }
  return out;
}

}  // namespace

int64_t this_build() {
  return config::deploy_config().build_number;
}

std::string format_build(int64_t n) {
  if (n < 0) n = 1;
  std::string fraction = std::to_string(n % 1000);
  fraction.insert(0, 3 - fraction.size(), '0');
  return std::to_string(n / 1000) + "." + fraction;
}

std::string version_text(bool newer) {
  if (newer) return "Update available, " + wallet::network_endpoints().download_page;
  return "Version " + format_build(this_build());
}

int64_t parse_build(std::string_view text) {
  while (!text.empty() && static_cast<unsigned char>(text.front()) <= 32) text.remove_prefix(1);
  while (!text.empty() && static_cast<unsigned char>(text.back()) <= 32) text.remove_suffix(1);
  if (text.empty()) return -1;
  // Like strtod and strtol, a leading "+" is allowed; a "-" makes the number negative.
  if (text.front() == '+') text.remove_prefix(1);
  if (text.empty() || text.front() == '-') return -1;
  const char* begin = text.data();
  const char* end = text.data() + text.size();
  if (text.find('.') != std::string_view::npos) {
    double value = 0;
    const auto parsed = std::from_chars(begin, end, value);
    if (parsed.ec != std::errc() || parsed.ptr == begin || !std::isfinite(value) || value < 0) {
      return -1;
    }
    const double thousandths = std::round(value * 1000.0);
    if (thousandths >= 9.2e18) return -1;  // beyond any build number a page could mean
    return static_cast<int64_t>(thousandths);
  }
  int64_t value = 0;
  const auto parsed = std::from_chars(begin, end, value);
  if (parsed.ec != std::errc() || parsed.ptr == begin || value < 0) return -1;
  return value;
}

int64_t find_latest_build(std::string_view page) {
  if (page.size() > kPageTail) page = page.substr(page.size() - kPageTail);
  std::string text(page);
  for (const char* entity : {"&nbsp;", "&#160;", "&NBSP;"}) text = spaces_for(text, entity);
  text = without_markup(text);
  const std::string folded = lowered(text);
  std::size_t at = std::string::npos;
  const std::size_t current = folded.find("current build");
  if (current != std::string::npos) at = folded.find("version", current);
  if (at == std::string::npos) at = folded.rfind("version");
  if (at == std::string::npos) return -1;
  std::size_t i = at + 7;
  while (i < text.size() &&
         (text[i] == ' ' || text[i] == ':' || text[i] == '=' || text[i] == '\t')) {
    ++i;
  }
  const std::size_t start = i;
  while (i < text.size() && ((text[i] >= '0' && text[i] <= '9') || text[i] == '.')) ++i;
  if (i == start) return -1;
  return parse_build(std::string_view(text).substr(start, i - start));
}

int64_t check_for_update() {
  std::string body;
  if (!wallet::app_http_get_text(wallet::network_endpoints().download_page, body)) return -1;
  return find_latest_build(body);
}

bool is_newer_build(int64_t latest) {
  return latest > this_build();
}

std::string update_question(int64_t latest) {
  return "A newer O-Stakka is available.\n\nThis build:  " + format_build(this_build()) +
         "\nLatest:      " + format_build(latest) + "\n\nOpen " +
         wallet::network_endpoints().download_page + " to download it?";
}

}  // namespace arcade
