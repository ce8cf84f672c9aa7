#include "config/ssh_algorithm_check.h"

#include <atomic>

namespace {

// Set once before any configuration is read; atomic all the same, as tests
// set it from whatever thread runs them.
std::atomic<TSshAlgorithmCheck> Check{nullptr};

}  // namespace

void SetSshAlgorithmCheck(TSshAlgorithmCheck check) {
    Check.store(check, std::memory_order_release);
}

std::string UnknownSshAlgorithm(int kind, const std::string& list) {
    const TSshAlgorithmCheck check = Check.load(std::memory_order_acquire);
    return check != nullptr ? check(kind, list) : std::string();
}
