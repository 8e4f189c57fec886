// A library of the binding convention whose exports misbehave as the defines say:
// FIXTURE_VERSION the version DLLGetApiVer reports (no DLLGetApiVer when 0),
// FIXTURE_NULL_API a DLLGetApi that returns null.
#include <cstdint>

namespace {
struct Api {
    virtual ~Api() = default;
};
Api gApi;
}  // namespace

#if FIXTURE_VERSION != 0
extern "C" __attribute__((visibility("default"))) std::uint32_t DLLGetApiVer() { return FIXTURE_VERSION; }
#endif

extern "C" __attribute__((visibility("default"))) void* DLLGetApi() {
#if FIXTURE_NULL_API
    return nullptr;
#else
    return &gApi;
#endif
}
