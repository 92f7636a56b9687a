#pragma once
// Test-only seam: tests keep their key files in a folder of their own instead of beside the test
// binary, and start each test with an empty key book. The shipped programs never call these;
// there is no option or variable behind them.
#include <string>

namespace korb {

// Key files go under `base` + "/userinfo" (and the network's sub-folder) instead of under the
// executable's folder. An empty `base` goes back to the executable's folder.
void set_encryption_key_base_for_testing(const std::string& base);

// Empties the key book and wipes the cached own key pair.
void clear_key_book_for_testing();

}  // namespace korb
