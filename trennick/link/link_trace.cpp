#include "trennick/link/link_trace.h"

#include "common/lumo_deb.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>

namespace trennick {

namespace {
std::atomic<LinkTraceSink> g_sink{nullptr};
}

LinkTraceSink setLinkTraceSink(LinkTraceSink sink) {
    return g_sink.exchange(sink);
}

void linkTrace(unsigned level, const char* format, ...) {
    LinkTraceSink sink = g_sink.load();
    if (sink == nullptr && !gpLumoDeb->IsLevelOn(static_cast<int>(level))) {
        return;
    }
    char line[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    if (sink != nullptr) {
        sink(level, line);
    } else {
        gpLumoDeb->Trace(static_cast<int>(level), "%s", line);
    }
}

std::string linkTraceText(const BYTE* bytes, DWORD length) {
    std::string out;
    for (DWORD i = 0; i < length && i < 128; ++i) {
        const char c = static_cast<char>(bytes[i]);
        out += (bytes[i] >= 0x20 && bytes[i] < 0x7F) ? c : '.';
    }
    return out;
}

}  // namespace trennick
