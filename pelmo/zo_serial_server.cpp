// The in-process server: coclass ZoSerial (CZoSerial), a thin shell that
// forwards every method of IZoSerial to its engine.

#include "common/lumo_deb.h"
#include "common/version_stamp.h"
#include "pelmo/rs_main.h"
#include "pelmo/zo_serial.h"
#include "platform/com/com_server.h"
#include "platform/com/dispatch.h"
#include "platform/com/guarded.h"

#include <new>

namespace {

// Threads: apartment-threaded, used on the thread that created it. Every
// method returns 0x80040001 when the engine could not be created.
class CZoSerial : public platform::com::ComObject<CZoSerial, platform::com::DispatchImpl<CZoSerial, IZoSerial>> {
public:
    CZoSerial() : m_engine(new (std::nothrow) pelmo::CRSMain) {}

    static std::span<const platform::com::DispatchMember<CZoSerial>> dispatchMembers() {
        using platform::com::dispatchMethod;
        static const platform::com::DispatchMember<CZoSerial> table[] = {
            {"SetConfig", 1, &dispatchMethod<&CZoSerial::SetConfig>},
            {"GetConfig", 2, &dispatchMethod<&CZoSerial::GetConfig>},
            {"Connect", 3, &dispatchMethod<&CZoSerial::Connect>},
            {"Disconnect", 4, &dispatchMethod<&CZoSerial::Disconnect>},
            {"GetFIFOSize", 7, &dispatchMethod<&CZoSerial::GetFIFOSize>},
            {"GetFIFOSizeLeft", 8, &dispatchMethod<&CZoSerial::GetFIFOSizeLeft>},
            {"GetMaxFIFOSize", 9, &dispatchMethod<&CZoSerial::GetMaxFIFOSize>},
            {"IsOverflow", 10, &dispatchMethod<&CZoSerial::IsOverflow>},
            {"Clean", 11, &dispatchMethod<&CZoSerial::Clean>},
            {"GetLatestError", 12, &dispatchMethod<&CZoSerial::GetLatestError>},
            {"IsConnected", 13, &dispatchMethod<&CZoSerial::IsConnected>},
            {"StopReading", 14, &dispatchMethod<&CZoSerial::StopReading>},
            {"ContinueReading", 15, &dispatchMethod<&CZoSerial::ContinueReading>},
            {"IsDSROn", 16, &dispatchMethod<&CZoSerial::IsDSROn>},
        };
        return table;
    }

    HRESULT SetConfig(LONG* info) override {
        return platform::com::guarded("CZoSerial::SetConfig", [&] {
            return m_engine ? m_engine->SetConfig(reinterpret_cast<const ZoSerialConfig*>(info)) : ZOSERIAL_E_FAIL;
        });
    }
    HRESULT GetConfig(LONG* info) override {
        return platform::com::guarded("CZoSerial::GetConfig", [&] {
            return m_engine ? m_engine->GetConfig(reinterpret_cast<ZoSerialConfig*>(info)) : ZOSERIAL_E_FAIL;
        });
    }
    HRESULT Connect() override {
        return platform::com::guarded("CZoSerial::Connect", [&] { return m_engine ? m_engine->Connect() : ZOSERIAL_E_FAIL; });
    }
    HRESULT Disconnect() override {
        return platform::com::guarded("CZoSerial::Disconnect", [&] { return m_engine ? m_engine->Disconnect() : ZOSERIAL_E_FAIL; });
    }
    HRESULT SendData(BYTE* data, ULONG size, ULONG* sent) override {
        return platform::com::guarded("CZoSerial::SendData", [&] {
            return m_engine ? m_engine->SendData(data, size, sent) : ZOSERIAL_E_FAIL;
        });
    }
    HRESULT ReadData(BYTE* data, ULONG size, ULONG* read) override {
        return platform::com::guarded("CZoSerial::ReadData", [&] {
            return m_engine ? m_engine->ReadData(data, size, read) : ZOSERIAL_E_FAIL;
        });
    }
    HRESULT GetFIFOSize(ULONG fifo, ULONG* size) override {
        return platform::com::guarded("CZoSerial::GetFIFOSize", [&] {
            return m_engine ? m_engine->GetFIFOSize(fifo, size) : ZOSERIAL_E_FAIL;
        });
    }
    HRESULT GetFIFOSizeLeft(ULONG fifo, ULONG* size) override {
        return platform::com::guarded("CZoSerial::GetFIFOSizeLeft", [&] {
            return m_engine ? m_engine->GetFIFOSizeLeft(fifo, size) : ZOSERIAL_E_FAIL;
        });
    }
    HRESULT GetMaxFIFOSize(ULONG fifo, ULONG* size) override {
        return platform::com::guarded("CZoSerial::GetMaxFIFOSize", [&] {
            return m_engine ? m_engine->GetMaxFIFOSize(fifo, size) : ZOSERIAL_E_FAIL;
        });
    }
    HRESULT IsOverflow(ULONG fifo, LONG* overflow) override {
        return platform::com::guarded("CZoSerial::IsOverflow", [&] {
            return m_engine ? m_engine->IsOverflow(fifo, overflow) : ZOSERIAL_E_FAIL;
        });
    }
    HRESULT Clean(ULONG fifo) override {
        return platform::com::guarded("CZoSerial::Clean", [&] { return m_engine ? m_engine->Clean(fifo) : ZOSERIAL_E_FAIL; });
    }
    HRESULT GetLatestError(ULONG* error) override {
        return platform::com::guarded("CZoSerial::GetLatestError", [&] {
            return m_engine ? m_engine->GetLatestError(error) : ZOSERIAL_E_FAIL;
        });
    }
    HRESULT IsConnected(LONG* connected) override {
        return platform::com::guarded("CZoSerial::IsConnected", [&] {
            return m_engine ? m_engine->IsConnected(connected) : ZOSERIAL_E_FAIL;
        });
    }
    HRESULT StopReading() override {
        return platform::com::guarded("CZoSerial::StopReading", [&] { return m_engine ? m_engine->StopReading() : ZOSERIAL_E_FAIL; });
    }
    HRESULT ContinueReading() override {
        return platform::com::guarded("CZoSerial::ContinueReading", [&] { return m_engine ? m_engine->ContinueReading() : ZOSERIAL_E_FAIL; });
    }
    HRESULT IsDSROn(LONG* on) override {
        return platform::com::guarded("CZoSerial::IsDSROn", [&] { return m_engine ? m_engine->IsDSROn(on) : ZOSERIAL_E_FAIL; });
    }

private:
    std::unique_ptr<pelmo::CRSMain> m_engine;
};

const platform::com::ServerClass kClasses[] = {
    platform::com::serverClass<CZoSerial>(CLSID_ZoSerial, kZoSerialProgId, kZoSerialViProgId, "ZoSerial Class"),
};

// The module's own trace object, from the same trace configuration as every
// other module of the process: built before the first object and deleted
// when the library goes. The version stamp is written at the same moment.
struct ModuleTrace {
    ModuleTrace() {
        LumoDebCreate(kLumoDebFromFile);
        gpLumoDeb->SetPrefix("PELMO: ");
    }
    ~ModuleTrace() { LumoDebDestroy(); }
};

void startModule() {
    static ModuleTrace trace;
    static const bool stamped =
        (RecordModuleVersion("Pelmo", reinterpret_cast<const void*>(&startModule)), true);
    (void)stamped;
}

}  // namespace

VELMOOR_COM_SERVER_INIT(kClasses, startModule)
