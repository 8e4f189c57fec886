#include "platform/com/guarded.h"

#include "platform/com/com.h"

#include <cstdio>
#include <exception>
#include <new>

namespace platform::com {

HRESULT entryFault(const char* entry) noexcept {
    HRESULT code = E_FAIL;
    const char* text = "of an unknown type";
    try {
        throw;
    } catch (const std::bad_alloc& e) {
        code = E_OUTOFMEMORY;
        text = e.what();
    } catch (const std::exception& e) {
        text = e.what();
    } catch (...) {
    }
    std::fprintf(stderr, "%s: exception %s, returning 0x%08X\n", entry != nullptr ? entry : "COM entry",
                 text, static_cast<unsigned>(code));
    return code;
}

}  // namespace platform::com
