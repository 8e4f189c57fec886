#pragma once
// The catch-all of a COM entry: no exception crosses the component boundary.
// An entry point or interface method runs its body through guarded, or ends
// in a function-try-block whose handler returns entryFault:
//
//   HRESULT CThing::DoIt(LONG n) {
//       return platform::com::guarded("CThing::DoIt", [&] { return m_engine->DoIt(n); });
//   }
//   HRESULT CThing::Other() try {
//       ...
//   } catch (...) {
//       return platform::com::entryFault("CThing::Other");
//   }
//
// The exception becomes E_OUTOFMEMORY (std::bad_alloc) or E_FAIL (anything
// else), and the line "<entry>: exception <text>, returning 0x<code>" goes to
// the debug output (standard error).

#include "platform/types.h"

namespace platform::com {

// The code of the exception being handled, traced with the entry's name. Call
// it only from a catch block.
HRESULT entryFault(const char* entry) noexcept;

template <class Body>
HRESULT guarded(const char* entry, Body&& body) noexcept {
    try {
        return body();
    } catch (...) {
        return entryFault(entry);
    }
}

}  // namespace platform::com
