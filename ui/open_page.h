// Opening a web page (the maker's download page, the maker's site) in the player's browser.
#pragma once

#include <QString>

namespace ui {

// Hands an https address to the desktop's browser. Anything that is not an https address is
// refused (an address could come from configuration a player edited). True when the desktop took
// it.
bool open_page(const QString& address);

}  // namespace ui
