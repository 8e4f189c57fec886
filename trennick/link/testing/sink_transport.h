#pragma once
// SinkTransport: a line for tests, fuzzers and benchmarks. Each write is taken
// whole, kept in `written` when asked, and handed to `onWrite`; the call's
// direction and whether the line is up are fields the test sets. What it kept
// lives as long as the link's transport, so it also holds the farewell the
// link sends while it is destroyed.

#include "trennick/link/link_transport.h"

#include <functional>
#include <memory>
#include <vector>

namespace trennick {

struct SinkTransport : LinkTransport {
    using Write = std::function<void(const BYTE* data, DWORD length)>;

    explicit SinkTransport(bool isOutgoing = false, Write write = {})
        : outgoing(isOutgoing), onWrite(std::move(write)) {}

    LONG ConnectWrite(const BYTE* data, DWORD length, LONG, LONG) override {
        if (keep) written.insert(written.end(), data, data + length);
        if (onWrite) onWrite(data, length);
        return static_cast<LONG>(length);
    }
    BOOL IsOutgoingCall() override { return outgoing ? TRUE : FALSE; }
    BOOL IsLinkUp() override { return up ? TRUE : FALSE; }
    BOOL IsTargetConnected() override { return up ? TRUE : FALSE; }
    BOOL IsLinkDown() override { return up ? FALSE : TRUE; }
    BOOL IsTargetNotConnected() override { return up ? FALSE : TRUE; }

    bool outgoing;
    Write onWrite;
    bool up = false;
    bool keep = false;
    std::vector<BYTE> written;
};

inline std::unique_ptr<SinkTransport> makeSinkTransport(bool outgoing = false, SinkTransport::Write write = {}) {
    return std::make_unique<SinkTransport>(outgoing, std::move(write));
}

// A line whose call is up, taking and dropping what is written.
inline std::unique_ptr<SinkTransport> makeUpTransport() {
    auto line = makeSinkTransport();
    line->up = true;
    return line;
}

// A line that keeps what is written to it.
inline std::unique_ptr<SinkTransport> makeKeepingTransport(bool outgoing = false) {
    auto line = makeSinkTransport(outgoing);
    line->keep = true;
    return line;
}

}  // namespace trennick
