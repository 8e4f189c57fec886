#include "trennick/audio/audio_net.h"

#include "common/lumo_deb.h"
#include "tavicore/product_key.h"

#include <algorithm>
#include <vector>

namespace trennick {

namespace {
// The input's stream is speech coming in: a small fixed rate.
constexpr DWORD kInputBitRate = 50000;
}  // namespace

CAudioNet::CAudioNet(const char* who, const char* address, DWORD maxBitRate) : m_net(who) {
    if (!m_net) return;
    // A failed open or queue set-up is traced and the component kept: serving may still work.
    m_net.Open(ProductDwordBack("Audio", "ZoNetFifoSize", 512000), maxBitRate);
    m_net.Connect(address);
}

CAudioInNet::CAudioInNet(const char* address) : CAudioNet("CAudioInNet", address, kInputBitRate) {}

int CAudioInNet::Read(BYTE* buffer, DWORD capacity, DWORD& length) {
    length = 0;
    if (buffer == nullptr || !m_net.ConnectedFor("Read")) return 0;
    LONG got = 0;
    HRESULT result = m_net.get()->Read(buffer, LONG(capacity), &got);
    if (result == ZONET_E_ROOM) {
        // The component keeps a record it cannot hand over at the head of its
        // queue: left there, it would stop every later read.
        // Read at its own size, it is taken alone and dropped.
        std::vector<BYTE> dropped(std::size_t(std::clamp<LONG>(got, 0, LONG(kZoNetMaxRecordBytes))));
        LONG droppedBytes = 0;
        if (SUCCEEDED(m_net.get()->Read(dropped.data(), LONG(dropped.size()), &droppedBytes))) {
            LUMO_TRACE(1, "CAudioInNet::Read a record of %ld bytes dropped: a frame's payload holds %lu",
                       static_cast<long>(droppedBytes), static_cast<unsigned long>(capacity));
        }
        got = 0;
        result = m_net.get()->Read(buffer, LONG(capacity), &got);
    }
    if (FAILED(result) || got < 0 || DWORD(got) > capacity) {
        LUMO_TRACE(1, "CAudioInNet::Read m_pIZoNet->Read failed");
        return 0;
    }
    length = DWORD(got);
    return 1;
}

CAudioOutNet::CAudioOutNet(const char* address)
    : CAudioNet("CAudioOutNet", address, ProductDwordBack("Audio", "MaxBitRate", 256000)) {}

int CAudioOutNet::Write(const BYTE* data, DWORD length) {
    if (data == nullptr || !m_net.ConnectedFor("Write")) return 0;
    LONG queued = 0;
    if (FAILED(m_net.get()->Write(const_cast<BYTE*>(data), LONG(length), &queued))) {
        LUMO_TRACE(1, "CAudioOutNet::Write m_pIZoNet->Write failed");
        return 0;
    }
    return 1;
}

}  // namespace trennick
