// Test-only: lets a test binary point the network code at its own servers on loopback (the service
// pin, the API bases and the trusted certificate authority). The shipped programs never call these;
// they have no option or environment variable that reaches them.
#pragma once

#include "wallet/http_client.h"

namespace wallet {

// Replaces the deployment endpoints for every later request in this process.
void set_network_endpoints_for_test(const NetworkEndpoints& endpoints);
// Goes back to the deployment endpoints.
void clear_network_endpoints_for_test();
// True and a copy in `out` while a test override is installed.
[[nodiscard]] bool network_endpoints_override(NetworkEndpoints& out);

}  // namespace wallet
