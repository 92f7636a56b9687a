// Test-only seam of ui/open_page: a test sees the pages the program would open, and no browser
// starts. The shipped programs never call this.
#pragma once

#include <QString>
#include <functional>

namespace ui {

// From now on open_page hands valid addresses to `opener` instead of the desktop; an empty one
// restores the desktop.
void set_page_opener_for_testing(std::function<bool(const QString&)> opener);

}  // namespace ui
