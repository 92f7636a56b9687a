#include "ui/amount_format.h"

#include <cinttypes>
#include <cstdio>

namespace ui {

std::string format_bsv(int64_t satoshis) {
  // The magnitude is taken in unsigned arithmetic: negating the most negative amount would
  // overflow a signed value.
  const uint64_t magnitude = satoshis < 0 ? uint64_t{0} - static_cast<uint64_t>(satoshis)
                                          : static_cast<uint64_t>(satoshis);
  char text[32];
  std::snprintf(text, sizeof text, "%s%" PRIu64 ".%08" PRIu64, satoshis < 0 ? "-" : "",
                magnitude / 100000000u, magnitude % 100000000u);
  return text;
}

}  // namespace ui
