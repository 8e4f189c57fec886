#include "tools/site/login_gate.h"

#include <algorithm>

namespace site {

std::uint32_t LoginGate::HoldFor(const std::string& address) const {
    const int refusals = Refusals(address);
    if (refusals == 0) return 0;
    std::uint64_t hold = kFirstHoldMs;
    for (int n = 1; n < refusals && hold < kLongestHoldMs; ++n) hold *= 2;
    return std::uint32_t(std::min<std::uint64_t>(hold, kLongestHoldMs));
}

int LoginGate::Refusals(const std::string& address) const {
    const auto found = m_refusals.find(address);
    return found == m_refusals.end() ? 0 : found->second;
}

void LoginGate::Refused(const std::string& address) {
    int& count = m_refusals[address];
    count = std::min(count + 1, 1000);
}

void LoginGate::Accepted(const std::string& address) { m_refusals.erase(address); }

}  // namespace site
