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

}  // namespace trennick
