#pragma once
// The stand-in site's limit on guessing a login: each caller address that was
// refused has its next login held before it is checked, twice as long after
// each further refusal (up to a ceiling), whatever that login's outcome, so a
// caller learns nothing by hanging up early. An accepted login clears its
// address. Time is the caller's to give, in milliseconds.

#include <cstdint>
#include <map>
#include <string>

namespace site {

class LoginGate {
public:
    static constexpr std::uint32_t kFirstHoldMs = 500;
    static constexpr std::uint32_t kLongestHoldMs = 30000;

    // How long the next login from the address waits before it is checked.
    std::uint32_t HoldFor(const std::string& address) const;
    // Refusals counted for the address so far.
    int Refusals(const std::string& address) const;
    void Refused(const std::string& address);
    void Accepted(const std::string& address);

private:
    std::map<std::string, int> m_refusals;
};

}  // namespace site
