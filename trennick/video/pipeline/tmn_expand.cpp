#include "trennick/video/pipeline/tmn_expand.h"

#include "common/lumo_deb.h"

CTMNExpand::CTMNExpand() { createDecoder(); }

void CTMNExpand::createDecoder() {
    if (CoCreateInstance(CLSID_H263Tmn, nullptr, CLSCTX_INPROC_SERVER, IID_IH263Tmn, m_pIDecoder.putVoid()) != S_OK) {
        m_pIDecoder.reset();
        LUMO_TRACE(3, "CTMNExpand::CTMNExpand() CoCreateInstance( CLSID_H263Tmn ) Failed ");
    }
}

CTMNExpand::~CTMNExpand() {
    LUMO_TRACE(3, "ENTER %s", "CTMNExpand::~CTMNExpand()");
    m_pIDecoder.reset();
    LUMO_TRACE(3, "LEAVE %s", "CTMNExpand::~CTMNExpand()");
}

BOOL CTMNExpand::Open() {
    LUMO_TRACE(3, "ENTER %s", "CTMNExpand::Open()");
    BOOL result = FALSE;
    // A component that could not be created at the start (not yet registered,
    // say) is asked for again at each opening.
    if (!m_pIDecoder) createDecoder();
    if (m_pIDecoder) {
        m_open = SUCCEEDED(m_pIDecoder->Open());
        result = m_open ? TRUE : FALSE;
    }
    if (m_open) {
        m_openFailureReported = false;
    } else if (!m_openFailureReported) {
        // The decoder stays unusable until the next open: say so once, not
        // at every frame of the stream.
        m_openFailureReported = true;
        LUMO_TRACE(1, "CTMNExpand::Open() Failed");
    }
    LUMO_TRACE(3, "LEAVE %s", "CTMNExpand::Open()");
    return result;
}

BOOL CTMNExpand::Close() {
    LUMO_TRACE(3, "ENTER %s", "CTMNExpand::Close()");
    BOOL result = FALSE;
    if (m_pIDecoder) {
        m_pIDecoder->Close();
        result = TRUE;
    }
    m_open = false;
    m_openFailureReported = false;
    LUMO_TRACE(3, "LEAVE %s", "CTMNExpand::Close()");
    return result;
}

BOOL CTMNExpand::SetAttribute(int, int) {
    if (!m_pIDecoder || !m_open) return FALSE;
    if (FAILED(m_pIDecoder->SetAttribute(kH263TmnAttrNewStream, 0, 0, 0))) {
        LUMO_TRACE(1, "CTMNExpand::SetAttribute Failed");
        return FALSE;
    }
    return TRUE;
}

SHORT CTMNExpand::ExpandBuffer(const BYTE* data, DWORD length, BYTE* picture, DWORD pictureBytes) {
    // A decoder that did not open was reported by Open.
    if (!m_pIDecoder || !m_open) return 0;
    HRESULT hr = m_pIDecoder->AddData(const_cast<BYTE*>(data), length);
    if (FAILED(hr)) {
        LUMO_TRACE(1, "CTMNExpand::ExpandBuffer m_pIDecoder->AddData return Error %d", int(hr & 0xFFFF));
        return 0;
    }
    hr = m_pIDecoder->GetImageData(picture, pictureBytes);
    if (SUCCEEDED(hr)) return 1;
    if ((hr & 0xFFFF) == 8) {
        LUMO_TRACE(3, "CTMNExpand::ExpandBuffer Frame not ready in decoder");
    } else {
        LUMO_TRACE(1, "CTMNExpand::ExpandBuffer m_pIDecoder->GetImageData return Error %d", int(hr & 0xFFFF));
    }
    return 0;
}
