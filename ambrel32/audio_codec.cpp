#include "ambrel32/audio_codec.h"

#include "common/lumo_deb.h"

namespace {
constexpr const char* kCodecLibrary = "sx5363s.dll";

template <class Fn>
bool bind(HMODULE library, const char* name, Fn& fn) {
    fn = reinterpret_cast<Fn>(platform::librarySymbol(library, name));
    if (fn == nullptr) {
        LUMO_TRACE(1, "CAudioCodec::Open() Error function binding %s", name);
        return false;
    }
    return true;
}
}  // namespace

bool CAudioCodec::Open() {
    Close();
    m_library = platform::loadLibrary(kCodecLibrary);
    if (m_library == nullptr) {
        LUMO_TRACE(1, "BOOL CWaveOut::OpenDecoder() Error Opening Audio Codec LIB %s", kCodecLibrary);
        return false;
    }
    if (!bind(m_library, "SX5363_Open", m_open) || !bind(m_library, "SX5363_Close", m_close) ||
        !bind(m_library, "SX5363_InitEncod", m_initEncod) || !bind(m_library, "SX5363_InitDecod", m_initDecod) ||
        !bind(m_library, "SX53_SpeechEncode", m_encode53) || !bind(m_library, "SX63_SpeechEncode", m_encode63) ||
        !bind(m_library, "SX5363_SpeechDecode", m_decode)) {
        Close();
        return false;
    }
    if (m_open(&m_handle) != 0 || m_handle == nullptr) {
        LUMO_TRACE(1, "CAudioCodec::Open() Codec failed to open");
        m_handle = nullptr;
        Close();
        return false;
    }
    return true;
}

void CAudioCodec::Close() {
    if (m_handle != nullptr && m_close != nullptr) {
        m_close(&m_handle);
    }
    m_handle = nullptr;
    platform::freeLibrary(m_library);
    m_library = nullptr;
    m_open = nullptr;
    m_close = nullptr;
    m_initEncod = m_initDecod = nullptr;
    m_encode53 = m_encode63 = m_decode = nullptr;
}

bool CAudioCodec::Encode(const BYTE* pcm, BYTE* frame, DWORD& produced) {
    produced = 0;
    return m_handle != nullptr && m_encode63(m_handle, kSx5363Mode, pcm, frame, &produced) == 0;
}

bool CAudioCodec::Decode(const BYTE* frame, BYTE* pcm, DWORD& used) {
    used = 0;
    const LONG result = m_handle != nullptr ? m_decode(m_handle, kSx5363Mode, frame, pcm, &used) : -1;
    if (result != 0) {
        LUMO_TRACE(1, "CAudioCodec::Decode sxResult=%ld BytesUsed =%ld ", long(result), long(used));
        return false;
    }
    return true;
}
