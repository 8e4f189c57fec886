#include "h263tmn/h263tmn.h"

#include "common/lumo_deb.h"
#include "ranvic/picture_collector.h"
#include "ranvic/zocodec_binding.h"

#include <cstring>

namespace {

constexpr std::size_t rowBytes(int width) { return (std::size_t(width) * 3 + 3) & ~std::size_t(3); }

}  // namespace

CH263Tmn::CH263Tmn() = default;
CH263Tmn::~CH263Tmn() = default;

std::span<const platform::com::DispatchMember<CH263Tmn>> CH263Tmn::dispatchMembers() {
    using platform::com::dispatchMethod;
    static const platform::com::DispatchMember<CH263Tmn> table[] = {
        {"Open", 1, &dispatchMethod<&CH263Tmn::Open>},
        {"Close", 2, &dispatchMethod<&CH263Tmn::Close>},
        {"SetAttribute", 3, &dispatchMethod<&CH263Tmn::SetAttribute>},
    };
    return table;
}

HRESULT CH263Tmn::Open() {
    if (m_decoder == nullptr) {
        auto decoder = std::make_unique<ZoCodecBinding>();
        if (!decoder->bound()) {
            LUMO_TRACE(1, "CH263Tmn::Open() the standard H.263 decoder library is missing");
            return H263TMN_E_NOT_OPEN;
        }
        m_decoder = std::move(decoder);
    }
    m_collector = std::make_unique<CPictureCollector>();
    m_ready = false;
    return S_OK;
}

HRESULT CH263Tmn::Close() {
    m_collector.reset();
    m_decoder.reset();
    m_ready = false;
    return S_OK;
}

HRESULT CH263Tmn::SetAttribute(LONG id, LONG, LONG, LONG) {
    if (id != kH263TmnAttrNewStream) return E_INVALIDARG;
    if (m_collector == nullptr) return H263TMN_E_NOT_OPEN;
    m_collector->Reset();
    m_ready = false;
    return S_OK;
}

HRESULT CH263Tmn::Reserved() { return E_NOTIMPL; }

HRESULT CH263Tmn::AddData(BYTE* data, ULONG length) {
    if (data == nullptr) return E_POINTER;
    if (m_collector == nullptr) return H263TMN_E_NOT_OPEN;
    m_collector->Add(data, length, [this](const BYTE* picture, int bytes) { decode(picture, bytes); });
    return S_OK;
}

void CH263Tmn::decode(const BYTE* picture, int length) {
    // Source format in the picture header: 1 sub-QCIF, 2 QCIF, 3 CIF. The
    // library gives QCIF or CIF; a sub-QCIF picture is shown as QCIF.
    const int format = length >= 5 ? (picture[4] >> 2) & 7 : 0;
    const int width = format == 3 ? 352 : 176;
    const int height = format == 3 ? 288 : 144;
    m_decoder->SetFormat(width, height);
    std::vector<BYTE> rows(rowBytes(width) * std::size_t(height));
    if (m_decoder->ExpandBuffer(picture, length, rows.data()) == 0) {
        LUMO_TRACE(3, "CH263Tmn: a picture of %d bytes did not decode", length);
        return;
    }
    m_rows = std::move(rows);
    m_width = width;
    m_height = height;
    m_ready = true;
}

HRESULT CH263Tmn::GetImageData(BYTE* picture, ULONG size) {
    if (picture == nullptr) return E_POINTER;
    if (!m_ready) return H263TMN_E_NOT_READY;
    if (size < sizeof(BITMAPINFOHEADER) + m_rows.size()) return H263TMN_E_ROOM;
    BITMAPINFOHEADER header{};
    header.biSize = sizeof header;
    header.biWidth = m_width;
    header.biHeight = m_height;
    header.biPlanes = 1;
    header.biBitCount = 24;
    header.biSizeImage = DWORD(m_rows.size());
    std::memcpy(picture, &header, sizeof header);
    std::memcpy(picture + sizeof header, m_rows.data(), m_rows.size());
    m_ready = false;
    return S_OK;
}
