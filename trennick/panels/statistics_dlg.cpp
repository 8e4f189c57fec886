#include "trennick/panels/statistics_dlg.h"

#include "tavicore/ui/ui_window.h"
#include "trennick/link/packet_connection.h"

#include <QFormLayout>
#include <QLabel>
#include <QPushButton>
#include <cstdio>

namespace trennick {

ULONGLONG StatisticsRate(ULONGLONG bytes, DWORD elapsedMs) {
    if (elapsedMs < 1000 || bytes == 0) return 0;
    return bytes * 1000 / elapsedMs;
}

DWORD FrameRateHundredths(DWORD frames, DWORD elapsedMs) {
    if (frames == 0 || elapsedMs == 0) return 0;
    return static_cast<DWORD>(static_cast<ULONGLONG>(frames) * 100000 / elapsedMs);
}

std::string FrameRateText(DWORD hundredths) {
    // Two decimals always: 5.05 frames per second must not read "5.5".
    char text[32];
    std::snprintf(text, sizeof text, "%u.%02u", hundredths / 100, hundredths % 100);
    return text;
}

DWORD LineUsePercent(DWORD averageBytes, DWORD rateHundredths, DWORD lineBitsPerSecond) {
    if (lineBitsPerSecond == 0) return 0;
    const ULONGLONG bits = static_cast<ULONGLONG>(averageBytes) * rateHundredths * 8 / 100;
    return static_cast<DWORD>(std::min<ULONGLONG>(bits * 100 / lineBitsPerSecond, 100));
}

CStatistics::CStatistics(QWidget* parent, CPacketConnection& link) : QDialog(parent), m_link(link) {
    setWindowTitle("Link statistics");
    auto* form = new QFormLayout(this);
    struct Row {
        int id;
        const char* label;
        const char* initial;
    };
    constexpr Row kRows[] = {
        {kStatSiteName, "Site", ""},
        {kStatSitePhone, "Phone", ""},
        {kStatLineSpeed, "Line speed", "0 bps"},
        {kStatSendSize, "Sending file size", "0"},
        {kStatReceiveSize, "Receiving file size", "0"},
        {kStatSendRate, "Send rate (bytes/s)", "0"},
        {kStatReceiveRate, "Receive rate (bytes/s)", "0"},
        {kStatSendFrameRate, "Sent frames per second", "0"},
        {kStatSendFrameSize, "Average sent frame", "0"},
        {kStatReceiveFrameRate, "Received frames per second", "0"},
        {kStatReceiveFrameSize, "Average received frame", "0"},
        {kStatSendLineUse, "Send line use (%)", "0"},
        {kStatReceiveLineUse, "Receive line use (%)", "0"},
    };
    for (const Row& row : kRows) form->addRow(row.label, UiSetControlId(new QLabel(row.initial, this), row.id));
    auto* ok = UiSetControlId(new QPushButton("OK", this), IDOK);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    form->addRow(ok);
}

void CStatistics::SetSite(const std::string& name, const std::string& phone) {
    m_siteName = name;
    m_sitePhone = phone;
}

void CStatistics::SetVideoStatistics(DWORD elapsedMs, DWORD frames, DWORD bytes) {
    m_videoMs = elapsedMs;
    m_videoFrames = frames;
    m_videoBytes = bytes;
}

void CStatistics::set(int control, const std::string& text, int limit) {
    if (auto* label = UiControl<QLabel>(this, control)) {
        label->setText(QString::fromStdString(limit > 0 ? text.substr(0, static_cast<std::size_t>(limit)) : text));
    }
}

std::string CStatistics::Text(int control) const {
    const auto* label = UiControl<QLabel>(this, control);
    return label != nullptr ? label->text().toStdString() : std::string();
}

void CStatistics::Fill() {
    if (!m_link.IsLinkUp()) return;
    set(kStatLineSpeed, std::to_string(m_lineSpeed) + " bps", 20);
    set(kStatSiteName, m_siteName, 60);
    set(kStatSitePhone, m_sitePhone, 28);
    ULONGLONG sentSize = 0, receivedSize = 0;
    m_link.GetTransferSizes(sentSize, receivedSize);
    set(kStatSendSize, std::to_string(sentSize), 10);
    set(kStatReceiveSize, std::to_string(receivedSize), 0);
    for (int side = 0; side < 2; ++side) {
        ULONGLONG bytes = 0;
        DWORD elapsedMs = 0;
        m_link.GetTransferProgress(side, bytes, elapsedMs);
        set(side == 0 ? kStatSendRate : kStatReceiveRate, std::to_string(StatisticsRate(bytes, elapsedMs)),
            side == 0 ? 10 : 0);
    }
    // The send side has no frame count: its figures stay 0.
    const DWORD average = m_videoFrames != 0 && m_videoMs != 0 ? m_videoBytes / m_videoFrames : 0;
    const DWORD rate = FrameRateHundredths(m_videoFrames, m_videoMs);
    set(kStatReceiveFrameRate, FrameRateText(rate), 10);
    set(kStatReceiveFrameSize, std::to_string(average), 10);
    set(kStatReceiveLineUse, std::to_string(LineUsePercent(average, rate, m_lineSpeed)), 10);
}

}  // namespace trennick
