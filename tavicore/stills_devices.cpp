#include "tavicore/stills_devices.h"

#include "common/lumo_deb.h"
#include "qel/qel.h"
#include "platform/dll_interface.h"

#include <cstdio>
#include <cstring>
#include <new>

// The source name the stills texts carry.
#define STILLS_SOURCE "stillsdev"
#define STILLS_ERROR(object, code) (object)._Error_((code), STILLS_SOURCE, __LINE__)

const char* const gszStillsErrorMessages[11] = {
    "",
    "Unsupported Stills format or method",
    "Service not available due to previous error detected",
    "Stills Compression hardware assisted codec not responding, board may be missing",
    "ActiveX component not found",
    "Not enough memory to perform operation",
    "Stills component not found",
    "Can not start processing due to a device error",
    "Failed calling an Stills device service",
    "Unknown error",
    "Invalid Image format",
};

TAVICORE_API const char* StillsErrorMessage(int32_t code) {
    if (code < 0 || code > 10) {
        return "Unknown error";
    }
    return gszStillsErrorMessages[code];
}

// ---- CStillsBase

CStillsBase::CStillsBase() : m_error(STILLS_NO_ERROR) { std::memset(m_errorText, 0, sizeof m_errorText); }

tagSTILLSERROR CStillsBase::_Error_(tagSTILLSERROR code, const char* sourcePath, int line,
                                   const char* extra) {
    m_error = code;
    if (code == STILLS_NO_ERROR) {
        m_errorText[0] = '\0';
        return code;
    }
    const char* file = sourcePath != nullptr ? sourcePath : "";
    for (const char* p = file; *p != '\0'; ++p) {
        if (*p == '/' || *p == '\\') {
            file = p + 1;
        }
    }
    if (extra != nullptr) {
        std::snprintf(m_errorText, sizeof m_errorText, "%s %s (%s, line %d)",
                      StillsErrorMessage(code), extra, file, line);
    } else {
        std::snprintf(m_errorText, sizeof m_errorText, "%s (%s, line %d)", StillsErrorMessage(code),
                      file, line);
    }
    return code;
}

char* CStillsBase::GetLastError(char* buffer, int size) const {
    if (buffer == nullptr) {
        return nullptr;
    }
    if (size > 0) {
        std::snprintf(buffer, std::size_t(size), "%s", m_errorText);
    }
    return buffer;
}

void CStillsBase::InheritError(const CStillsBase* other) {
    if (other != nullptr && other != this) {
        m_error = other->m_error;
        std::memcpy(m_errorText, other->m_errorText, sizeof m_errorText);
    }
}

// ---- CStillsCodecQel

CStillsCodecQel::~CStillsCodecQel() { RemoveInterface(); }

tagSTILLSERROR CStillsCodecQel::InitDevice() { return CreateInterface(); }

tagSTILLSERROR CStillsCodecQel::CreateInterface() {
    if (m_api != nullptr) {
        return STILLS_ERROR(*this, STILLS_NO_ERROR);
    }
    char text[kDllErrorTextBytes + 16] = {};
    m_api = static_cast<IQelApi*>(LoadDllInterface(kLibraryName, &m_module, kQelApiVersion, text));
    if (m_api == nullptr) {
        std::strncat(text, kLibraryName, sizeof text - std::strlen(text) - 1);
        LUMO_TRACE(5, "%s", text);
        return STILLS_ERROR(*this, STILLS_ERROR_NOT_AVAILABLE);
    }
    return STILLS_ERROR(*this, STILLS_NO_ERROR);
}

tagSTILLSERROR CStillsCodecQel::RemoveInterface() {
    if (m_api != nullptr) {
        m_api->Release();
        m_api = nullptr;
    }
    FreeDllInterface(&m_module);
    return STILLS_ERROR(*this, STILLS_NO_ERROR);
}

tagSTILLSERROR CStillsCodecQel::QueryFormats(tagSTILLFORMAT* formats, int* count) {
    if (formats != nullptr) {
        formats[0] = STILLFORMAT_JPEG;
    }
    if (count != nullptr) {
        *count = 1;
    }
    return STILLS_ERROR(*this, STILLS_NO_ERROR);
}

tagSTILLSERROR CStillsCodecQel::ReadDIB(const char* path, BITMAPINFOHEADER* image) {
    if (m_api == nullptr) {
        return STILLS_ERROR(*this, STILLS_ERROR_NOT_AVAILABLE);
    }
    if (m_api->ReadDIB(path, image) == 0) {
        LUMO_TRACE(5, "CStillsCodecQel::ReadDIB->QEL Error while reading DIB");
        return STILLS_ERROR(*this, STILLS_ERROR_SERVICE_FAILED);
    }
    return STILLS_ERROR(*this, STILLS_NO_ERROR);
}

tagSTILLSERROR CStillsCodecQel::SaveDIB(const char* path, BITMAPINFOHEADER* image) {
    if (m_api == nullptr) {
        return STILLS_ERROR(*this, STILLS_ERROR_NOT_AVAILABLE);
    }
    if (m_api->SaveDIB(path, image) == 0) {
        LUMO_TRACE(5, "CStillsCodecQel::SaveDIB->QEL Error while saving DIB");
        return STILLS_ERROR(*this, STILLS_ERROR_SERVICE_FAILED);
    }
    return STILLS_ERROR(*this, STILLS_NO_ERROR);
}

tagSTILLSERROR CStillsCodecQel::GetInfo(const char* path, BITMAPINFOHEADER* info) {
    if (m_api == nullptr) {
        return STILLS_ERROR(*this, STILLS_ERROR_NOT_AVAILABLE);
    }
    char* text = nullptr;
    if (m_api->GetJPGInfo(path, info, &text) == 0) {
        LUMO_TRACE(5, "CStillsCodecQel::GetInfo->QEL error %s", text != nullptr ? text : "");
        return STILLS_ERROR(*this, STILLS_ERROR_SERVICE_FAILED);
    }
    return STILLS_ERROR(*this, STILLS_NO_ERROR);
}

tagSTILLSERROR CStillsCodecQel::Decompress(BITMAPINFOHEADER* source, BITMAPINFOHEADER* target) {
    if (m_api == nullptr) {
        return STILLS_ERROR(*this, STILLS_ERROR_NOT_AVAILABLE);
    }
    char* text = nullptr;
    if (m_api->Decompress(source, target, &text) == 0) {
        LUMO_TRACE(5, "CStillsCodecQel::Decompress->%s\n", text != nullptr ? text : "");
        return STILLS_ERROR(*this, STILLS_ERROR_SERVICE_FAILED);
    }
    return STILLS_ERROR(*this, STILLS_NO_ERROR);
}

tagSTILLSERROR CStillsCodecQel::Compress(BITMAPINFOHEADER* source, BITMAPINFOHEADER* target,
                                         int quality) {
    if (m_api == nullptr) {
        return STILLS_ERROR(*this, STILLS_ERROR_NOT_AVAILABLE);
    }
    char* text = nullptr;
    if (m_api->Compress(source, target, &text, quality) == 0) {
        LUMO_TRACE(5, "CStillsCodecQel::Compress->%s", text != nullptr ? text : "");
        return STILLS_ERROR(*this, STILLS_ERROR_SERVICE_FAILED);
    }
    return STILLS_ERROR(*this, STILLS_NO_ERROR);
}

tagSTILLSERROR CStillsCodecQel::Draw(BITMAPINFOHEADER* image, StillCanvas* window) {
    if (m_api == nullptr) {
        return STILLS_ERROR(*this, STILLS_ERROR_NOT_AVAILABLE);
    }
    if (window != nullptr) {
        QelCanvas canvas{window->pixels, window->width, window->height, window->stride};
        m_api->Draw(image, &canvas);
    }
    return STILLS_ERROR(*this, STILLS_NO_ERROR);
}

tagSTILLSERROR CStillsCodecQel::AddHuffman(const char* source, const char* target) {
    if (m_api == nullptr) {
        return STILLS_ERROR(*this, STILLS_ERROR_NOT_AVAILABLE);
    }
    if (m_api->AddHuffman(source, target) == 0) {
        LUMO_TRACE(5, "CStillsCodecQel::AddHuffman->QEL Error");
        return STILLS_ERROR(*this, STILLS_ERROR_SERVICE_FAILED);
    }
    return STILLS_ERROR(*this, STILLS_NO_ERROR);
}

// ---- CStillsCodecCollection

CStillsCodecCollection::~CStillsCodecCollection() {
    for (int kind = 0; kind < kStillCodecKinds; ++kind) {
        if (m_byKind[kind] != nullptr) {
            Remove(tagSTILLCODEC(kind));
        }
    }
}

CStillsCodecInterface* CStillsCodecCollection::Add(tagSTILLCODEC kind) {
    if (kind != STILLCODEC_JPEG) {
        STILLS_ERROR(*this, STILLS_ERROR_UNSUPPORTED);
        return nullptr;
    }
    if (m_byKind[kind] != nullptr) {
        STILLS_ERROR(*this, STILLS_NO_ERROR);
        return m_byKind[kind];  // one codec per kind: never a second, unowned one
    }
    auto* codec = new (std::nothrow) CStillsCodecQel();
    if (codec == nullptr) {
        STILLS_ERROR(*this, STILLS_ERROR_NO_MEMORY);
        return nullptr;
    }
    m_byKind[kind] = codec;
    tagSTILLFORMAT formats[kStillFormats] = {};
    int count = 0;
    codec->QueryFormats(formats, &count);
    for (int i = 0; i < count && i < kStillFormats; ++i) {
        if (formats[i] >= 0 && formats[i] < kStillFormats) {
            m_byFormat[formats[i]] = codec;
        }
    }
    STILLS_ERROR(*this, STILLS_NO_ERROR);
    return codec;
}

void CStillsCodecCollection::Remove(tagSTILLCODEC kind) {
    if (int(kind) < 0 || int(kind) >= kStillCodecKinds || m_byKind[kind] == nullptr) {
        return;
    }
    CStillsCodecInterface* codec = m_byKind[kind];
    tagSTILLFORMAT formats[kStillFormats] = {};
    int count = 0;
    codec->QueryFormats(formats, &count);
    for (int i = 0; i < count && i < kStillFormats; ++i) {
        if (formats[i] >= 0 && formats[i] < kStillFormats && m_byFormat[formats[i]] == codec) {
            m_byFormat[formats[i]] = nullptr;
        }
    }
    m_byKind[kind] = nullptr;
    if (kind == STILLCODEC_JPEG) {
        delete static_cast<CStillsCodecQel*>(codec);
    }
}

CStillsCodecInterface* CStillsCodecCollection::operator[](tagSTILLCODEC kind) const {
    return int(kind) >= 0 && int(kind) < kStillCodecKinds ? m_byKind[kind] : nullptr;
}

CStillsCodecInterface* CStillsCodecCollection::operator[](tagSTILLFORMAT format) const {
    return int(format) >= 0 && int(format) < kStillFormats ? m_byFormat[format] : nullptr;
}

// ---- CStillsDevices

tagSTILLSERROR CStillsDevices::InitDevices(const tagSTILLCODEC* kinds, int count) {
    if (kinds == nullptr) {
        return STILLS_ERROR(m_devicesError, STILLS_NO_ERROR);
    }
    tagSTILLSERROR failure = STILLS_NO_ERROR;
    for (int i = 0; i < count; ++i) {
        if ((*this)[kinds[i]] != nullptr) {
            continue;
        }
        CStillsCodecInterface* codec = Add(kinds[i]);
        if (codec == nullptr) {
            m_devicesError.InheritError(this);
            failure = m_devicesError.GetLastErrorCode();
            break;
        }
        if (codec->InitDevice() != STILLS_NO_ERROR) {
            m_devicesError.InheritError(codec);
            failure = m_devicesError.GetLastErrorCode();
            break;
        }
    }
    if (failure != STILLS_NO_ERROR) {
        for (int i = 0; i < count; ++i) {
            if ((*this)[kinds[i]] != nullptr) {
                Remove(kinds[i]);
            }
        }
        return failure;
    }
    return STILLS_ERROR(m_devicesError, STILLS_NO_ERROR);
}

tagSTILLSERROR CStillsDevices::EnumerateDevices(tagSTILLCODEC* kinds, int* count) const {
    if (kinds != nullptr && count != nullptr) {
        int n = 0;
        for (int kind = 0; kind < kStillCodecKinds; ++kind) {
            if (m_byKind[kind] != nullptr) {
                kinds[n++] = tagSTILLCODEC(kind);
            }
        }
        *count = n;
    }
    return STILLS_NO_ERROR;
}
