#pragma once
// The paymail name's network side: publishing the player's name to the maker's service (the
// signed claim, sent once per distinct set of values in a run) and refreshing the identity's role
// there, which sets the local registry's name quota. Both run from the status snapshot; errors
// come back as texts the status worker keeps to itself.
#include <cstdint>
#include <string>

namespace korb {

// "OW-PAYMAIL-CLAIM|alias|pubkey|address|avatar|" then "ord_address|" when there is one, then the
// time in decimal seconds.
std::string paymail_claim_message(const std::string& alias, const std::string& pubkey,
                                  const std::string& address, const std::string& avatar,
                                  const std::string& ord_address, int64_t ts);

// True when the service's answer to a claim reports success ("ok" or "success" true).
[[nodiscard]] bool claim_answer_ok(const std::string& body);

// Signs the claim with the identity key and posts it to the service. Returns an error text, empty
// on success: "need alias and pubkey", the signer's error or "could not sign paymail claim",
// "identity pubkey mismatch", "paymail host refused" (any answer but success), or the transport
// error when there was no answer.
[[nodiscard]] std::string claim_paymail(const std::string& alias, const std::string& pubkey,
                                        const std::string& address, const std::string& avatar,
                                        const std::string& ord_address);

// Sends the claim unless alias or pubkey is empty or the same five values were the last ones
// claimed successfully in this process. Returns the claim's error text, empty otherwise.
std::string claim_paymail_if_changed(const std::string& alias, const std::string& pubkey,
                                     const std::string& address, const std::string& avatar,
                                     const std::string& ord_address);

// Reads the identity's role from the service and stores it as the registry's "host_role"
// (removed for the default role or any unknown answer). Any failure leaves the registry as it is.
void sync_host_role();

// The status snapshot's last step: the claim with the session's values (HD wallet with a name
// and an identity key only), then the role refresh. Takes the session mutex only to read.
void paymail_status_steps();

}  // namespace korb
