#include "pelmo/rs_main.h"

#include "common/lumo_deb.h"
#include "common/serial_port_map.h"
#include "platform/ini_file.h"

#include <algorithm>
#include <chrono>
#include <thread>
#include <vector>

namespace pelmo {

bool ByteFifo::add(const BYTE* data, std::size_t size) {
    std::lock_guard lock(m_lock);
    if (size > m_capacity - m_bytes.size()) return false;
    m_bytes.insert(m_bytes.end(), data, data + size);
    return true;
}

std::size_t ByteFifo::addSome(const BYTE* data, std::size_t size) {
    std::lock_guard lock(m_lock);
    const std::size_t n = std::min(size, m_capacity - m_bytes.size());
    m_bytes.insert(m_bytes.end(), data, data + n);
    return n;
}

std::size_t ByteFifo::take(BYTE* data, std::size_t size) {
    std::lock_guard lock(m_lock);
    const std::size_t n = std::min(size, m_bytes.size());
    std::copy_n(m_bytes.begin(), n, data);
    m_bytes.erase(m_bytes.begin(), m_bytes.begin() + static_cast<std::ptrdiff_t>(n));
    return n;
}

std::size_t ByteFifo::size() const {
    std::lock_guard lock(m_lock);
    return m_bytes.size();
}

void ByteFifo::clear() {
    std::lock_guard lock(m_lock);
    m_bytes.clear();
}

PortFileSettings readPortFileSettings(const char* file, const char* section) {
    const std::string f = file && *file ? file : "SERIAL.INI";
    const std::string s = section && *section ? section : "Serial";
    PortFileSettings p;
    auto read = [&](const char* key, auto& value) {
        if (auto text = platform::iniReadValue(f, s, key)) {
            value = static_cast<std::remove_reference_t<decltype(value)>>(std::strtol(text->c_str(), nullptr, 10));
        }
    };
    read("fOutxCtsFlow", p.fOutxCtsFlow);
    read("fOutxDsrFlow", p.fOutxDsrFlow);
    read("fInX", p.fInX);
    read("fOutX", p.fOutX);
    read("XonChar", p.XonChar);
    read("XoffChar", p.XoffChar);
    read("XonLim", p.XonLim);
    read("XoffLim", p.XoffLim);
    read("fBinary", p.fBinary);
    read("fParity", p.fParity);
    read("fDtrControl", p.fDtrControl);
    read("fRtsControl", p.fRtsControl);
    read("fAbortOnError", p.fAbortOnError);
    read("InIntTimeout", p.InIntTimeout);
    read("InTotMul", p.InTotMul);
    read("InTotConst", p.InTotConst);
    read("OutTotMul", p.OutTotMul);
    read("OutTotConst", p.OutTotConst);
    return p;
}

// A worker thread running one engine round after another, pausing for the
// poll period between rounds (the reader only when nothing came).
class CRSMain::Worker : public CKcThread {
public:
    Worker(CRSMain& engine, bool reader) : m_engine(engine), m_isReader(reader) {}
    ~Worker() override { Destroy(); }
    DWORD Run() override {
        SignalEvent();
        while (!m_stop) {
            bool busy = false;
            if (m_isReader) {
                busy = m_engine.readRound();
            } else {
                m_engine.writeRound();
            }
            if (!busy && !m_stop) WaitEvent(m_engine.PollMs());
        }
        return 0;
    }

private:
    CRSMain& m_engine;
    bool m_isReader;
};

CRSMain::CRSMain() = default;

CRSMain::~CRSMain() { Disconnect(); }

DWORD CRSMain::pollPeriodFor(DWORD baud) {
    const DWORD blocks = baud / 8 / 512;
    return blocks == 0 ? 50 : 1000 / blocks;
}

HRESULT CRSMain::SetConfig(const ZoSerialConfig* config) {
    if (config == nullptr) return ZOSERIAL_E_FAIL;
    std::lock_guard lock(m_state);
    m_port = config->port;
    m_dataBits = config->dataBits;
    m_parity = config->parity;
    m_stopBits = config->stopBits;
    m_baud = config->baudRate;
    return S_OK;
}

HRESULT CRSMain::GetConfig(ZoSerialConfig* config) {
    if (config == nullptr) return ZOSERIAL_E_FAIL;
    std::lock_guard lock(m_state);
    config->portHandle = m_open ? static_cast<DWORD>(m_serial->fd()) : 0xFFFFFFFFu;
    config->port = m_port;
    config->dataBits = m_dataBits;
    config->parity = m_parity;
    config->stopBits = m_stopBits;
    config->baudRate = m_baud;
    return S_OK;
}

int CRSMain::openPort() {
    auto serial = std::make_unique<platform::SerialPort>();
    const DWORD opened = serial->open("COM" + std::to_string(m_port), ReadSerialPortMap());
    LUMO_TRACE(3, "Open com%d return %ld", m_port, static_cast<long>(opened == ERROR_SUCCESS ? 0 : -1));
    if (opened != ERROR_SUCCESS) {
        setError(opened);
        return -1;
    }
    if (DWORD code = serial->setQueueSizes(8192, 1024); code != ERROR_SUCCESS) {
        setError(code);
        return -5;
    }
    platform::SerialSettings s;
    if (DWORD code = serial->getSettings(s); code != ERROR_SUCCESS) {
        setError(code);
        return -2;
    }
    // The line is built from "COM<n>: <baud>,N,<data bits>,<stop bits>": the
    // parity letter is kept for the client but the line has no parity.
    if (m_dataBits < 5 || m_dataBits > 8 || m_baud == 0) {
        setError(ERROR_INVALID_PARAMETER);
        return -2;
    }
    s.baudRate = m_baud;
    s.byteSize = m_dataBits;
    s.parity = 0;
    s.stopBits = m_stopBits == 2 ? 2 : 0;
    const PortFileSettings f = readPortFileSettings("pelmo.ini", "Settings");
    s.ctsOutFlow = f.fOutxCtsFlow != 0;
    s.dsrOutFlow = f.fOutxDsrFlow != 0;
    s.xonXoffIn = f.fInX != 0;
    s.xonXoffOut = f.fOutX != 0;
    s.xonChar = static_cast<BYTE>(f.XonChar);
    s.xoffChar = static_cast<BYTE>(f.XoffChar);
    s.xonLimit = static_cast<WORD>(f.XonLim);
    s.xoffLimit = static_cast<WORD>(f.XoffLim);
    s.parityCheck = f.fParity != 0;
    s.dtrControl = static_cast<platform::DtrControl>(std::clamp(f.fDtrControl, 0, 2));
    s.rtsControl = static_cast<platform::RtsControl>(std::clamp(f.fRtsControl, 0, 3));
    if (DWORD code = serial->setSettings(s); code != ERROR_SUCCESS) {
        setError(code);
        return -3;
    }
    const platform::SerialTimeouts to{static_cast<DWORD>(f.InIntTimeout), static_cast<DWORD>(f.InTotMul),
                                      static_cast<DWORD>(f.InTotConst), static_cast<DWORD>(f.OutTotMul),
                                      static_cast<DWORD>(f.OutTotConst)};
    if (DWORD code = serial->setTimeouts(to); code != ERROR_SUCCESS) {
        setError(code);
        return -4;
    }
    m_serial = std::move(serial);
    return 0;
}

HRESULT CRSMain::Connect() {
    std::lock_guard lock(m_state);
    Disconnect();
    const int code = openPort();
    if (code != 0) {
        LUMO_TRACE(1, "CRSMain::Open() rs_INIT Failed with Error %d", code);
        m_serial.reset();
        return ZOSERIAL_E_FAIL;
    }
    if (m_serial->setDtr(true) != ERROR_SUCCESS) LUMO_TRACE(1, "CRSMain::Open() Set DTR Failed ");
    m_open = true;
    m_pollMs = pollPeriodFor(m_baud);
    m_writer = std::make_unique<Worker>(*this, false);
    m_reader = std::make_unique<Worker>(*this, true);
    m_writer->Create();
    m_reader->Create();
    return S_OK;
}

HRESULT CRSMain::Disconnect() {
    std::lock_guard lock(m_state);
    if (!m_open) return S_OK;
    if (m_serial->setDtr(false) != ERROR_SUCCESS) LUMO_TRACE(1, "CRSMain::Open() Clear DTR Failed ");
    StopReading();
    // What the client queued goes out first, unless the line is stalled.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kDrainLimitMs);
    while (m_writeFifo.size() > 0 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    // A write stalled on the line is woken before the writer is stopped.
    m_serial->cancel();
    if (m_writer) m_writer->Destroy();
    m_writer.reset();
    m_reader.reset();
    {
        std::lock_guard portLock(m_portLock);
        m_serial->close();
        m_serial.reset();
    }
    m_open = false;
    m_pollMs = 50;
    return S_OK;
}

HRESULT CRSMain::SendData(const BYTE* data, ULONG size, ULONG* sent) {
    if (sent) *sent = 0;
    if (data == nullptr && size > 0) return ZOSERIAL_E_FAIL;
    if (!m_writeFifo.add(data, size)) {
        LUMO_TRACE(1, "CRSMain::Write FIFO FULL can't add data");
        setError(ERROR_INSUFFICIENT_BUFFER);
        return ZOSERIAL_E_FAIL;
    }
    if (sent) *sent = size;
    return S_OK;
}

HRESULT CRSMain::ReadData(BYTE* data, ULONG size, ULONG* read) {
    if (read) *read = 0;
    if (data == nullptr && size > 0) return ZOSERIAL_E_FAIL;
    const std::size_t n = m_readFifo.take(data, size);
    if (read) *read = static_cast<ULONG>(n);
    return S_OK;
}

HRESULT CRSMain::GetFIFOSize(ULONG fifo, ULONG* size) {
    if (size == nullptr || fifo > 1) return ZOSERIAL_E_FAIL;
    *size = static_cast<ULONG>(fifo == kZoSerialReadFifo ? m_readFifo.size() : m_writeFifo.size());
    return S_OK;
}

HRESULT CRSMain::GetFIFOSizeLeft(ULONG fifo, ULONG* size) {
    if (size == nullptr || fifo > 1) return ZOSERIAL_E_FAIL;
    const ByteFifo& f = fifo == kZoSerialReadFifo ? m_readFifo : m_writeFifo;
    *size = static_cast<ULONG>(f.capacity() - f.size());
    return S_OK;
}

HRESULT CRSMain::GetMaxFIFOSize(ULONG fifo, ULONG* size) {
    if (size == nullptr || fifo > 1) return ZOSERIAL_E_FAIL;
    *size = static_cast<ULONG>(fifo == kZoSerialReadFifo ? m_readFifo.capacity() : m_writeFifo.capacity());
    return S_OK;
}

HRESULT CRSMain::IsOverflow(ULONG fifo, LONG* overflow) {
    if (overflow == nullptr || fifo > 1) return ZOSERIAL_E_FAIL;
    *overflow = fifo == kZoSerialReadFifo && m_readOverflow ? 1 : 0;
    return S_OK;
}

HRESULT CRSMain::GetLatestError(ULONG* error) {
    if (error == nullptr) return ZOSERIAL_E_FAIL;
    *error = m_lastError.load();
    return S_OK;
}

HRESULT CRSMain::Clean(ULONG fifo) {
    if (fifo > 1) return ZOSERIAL_E_FAIL;
    // Type 0 empties both FIFOs (and forgets a read overflow), type 1 only the
    // write FIFO.
    if (fifo == kZoSerialReadFifo) {
        m_readFifo.clear();
        m_readOverflow = false;
    }
    m_writeFifo.clear();
    return S_OK;
}

HRESULT CRSMain::IsConnected(LONG* connected) {
    if (connected == nullptr) return ZOSERIAL_E_FAIL;
    *connected = m_open ? 1 : 0;
    return S_OK;
}

HRESULT CRSMain::StopReading() {
    std::lock_guard lock(m_state);
    if (m_reader) m_reader->Destroy();
    return S_OK;
}

HRESULT CRSMain::ContinueReading() {
    std::lock_guard lock(m_state);
    if (!m_open) return ZOSERIAL_E_FAIL;
    if (!m_reader) m_reader = std::make_unique<Worker>(*this, true);
    return m_reader->Create() ? S_OK : ZOSERIAL_E_FAIL;
}

HRESULT CRSMain::IsDSROn(LONG* on) {
    if (on == nullptr) return ZOSERIAL_E_FAIL;
    *on = 0;
    std::lock_guard lock(m_portLock);
    DWORD status = 0;
    if (m_open && m_serial && m_serial->modemStatus(status) == ERROR_SUCCESS && (status & platform::MS_DSR_ON)) *on = 1;
    return S_OK;
}

bool CRSMain::readRound() {
    platform::SerialPort* port = m_serial.get();
    if (port == nullptr) return false;
    // Wait for the line outside the port lock, so the writer is not held up.
    if (!port->waitReadable(500)) return false;
    BYTE buffer[kChunk];
    DWORD got = 0;
    DWORD code;
    {
        std::lock_guard lock(m_portLock);
        code = port->readAvailable(buffer, kChunk, got);
    }
    if (got == 0) {
        if (code == ERROR_READ_FAULT) {
            DWORD errors = 0;
            platform::SerialQueueCounts counts;
            port->clearErrors(errors, counts);
            LUMO_TRACE(1, "[E] Serial Error(%08X) Status=%02X, cbInQue=%ld, cbOutQue=%ld", errors, 0u,
                       static_cast<long>(counts.inQueue), static_cast<long>(counts.outQueue));
        }
        return false;
    }
    if (m_readFifo.addSome(buffer, got) < got) {
        // What found no room is lost: the client learns it from IsOverflow.
        LUMO_TRACE(1, "CRSReader::FifoAddData FIFO FULL can't add data ");
        m_readOverflow = true;
        setError(ERROR_INSUFFICIENT_BUFFER);
    }
    return true;
}

void CRSMain::writeRound() {
    platform::SerialPort* port = m_serial.get();
    if (port == nullptr) return;
    BYTE buffer[kChunk];
    const std::size_t n = m_writeFifo.take(buffer, kChunk);
    if (n == 0) return;
    DWORD written = 0;
    DWORD code;
    {
        std::lock_guard lock(m_portLock);
        code = port->write(buffer, static_cast<DWORD>(n), written);
    }
    LUMO_TRACE(5, "CRSWriter::Write CRSWriter::Write %d ", static_cast<int>(written));
    if (code != ERROR_SUCCESS || written == 0) {
        LUMO_TRACE(1, "CRSWriter::WriteData() Write() failed nRet = %d ", static_cast<int>(code));
        setError(code != ERROR_SUCCESS ? code : ERROR_WRITE_FAULT);
    }
}

}  // namespace pelmo
