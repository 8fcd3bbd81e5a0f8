// The soft token's own PIN prompt, shown when a private-key operation reaches a context that
// was given no PIN (as when the platform opens the key through a certificate).
#pragma once

#include <string>

namespace softtoken {

constexpr const char* kPromptTitle = "Quorvan Soft Token PIN";
constexpr int kPromptEditId = 100;

// Shows the modal prompt; false when the user cancels.
bool PromptForPin(std::string& pin);

}  // namespace softtoken
