#include "ranvic/zocodec_binding.h"

#include "common/lumo_deb.h"
#include "platform/dll_interface.h"

#include <string>

ZoCodecBinding::ZoCodecBinding() { bind("zocodec.dll"); }

ZoCodecBinding::ZoCodecBinding(const char* folder) {
    const std::string file = std::string(folder != nullptr ? folder : "") + "\\zocodec.dll";
    bind(file.c_str());
}

void ZoCodecBinding::bind(const char* file) {
    char text[kDllErrorTextBytes] = {};
    m_api = static_cast<IZoCodecApi*>(LoadDllInterface(file, &m_module, kZoCodecApiVersion, text));
    if (m_api == nullptr) {
        LUMO_TRACE(1, "CTMNExpand: %s %s", file, text);
    }
}

ZoCodecBinding::~ZoCodecBinding() {
    if (m_api != nullptr) {
        m_api->Release();
        m_api = nullptr;
    }
    FreeDllInterface(&m_module);
}

int ZoCodecBinding::ExpandBuffer(const BYTE* picture, int length, BYTE* output) {
    if (m_api == nullptr) {
        return 0;
    }
    try {
        return m_api->Decode(picture, length, output) != 0 ? 1 : 0;
    } catch (...) {
        LUMO_TRACE(5, "ERROR:CTMNExpand::ExpandBuffer->Unknown Exception");
        return 0;
    }
}

int ZoCodecBinding::SetFormat(int width, int height) {
    if (m_api == nullptr) {
        return 0;
    }
    return m_api->SetFormat(width == 352 && height == 288 ? kZoCodecCif : kZoCodecQcif);
}
