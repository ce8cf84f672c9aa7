// Which SSH-2 algorithm names exist is known to the SSH layer, which sits
// above the configuration: the program hands the configuration a check at
// start-up, so that a mistyped name is a "Config error." at load time rather
// than a failed key exchange later. Without a check every name is taken.
#pragma once

#include <string>

// The first name of the comma list `list` that is not an algorithm of kind
// `kind` (a TSshAlgorithmKind), or "" when all are.
using TSshAlgorithmCheck = std::string (*)(int kind, const std::string& list);

void SetSshAlgorithmCheck(TSshAlgorithmCheck check);
std::string UnknownSshAlgorithm(int kind, const std::string& list);
