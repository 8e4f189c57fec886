#pragma once
// CStatistics: the dialog in which the main window shows the figures of the
// current connection: the site's name and phone, the line speed, the sizes and
// rates of the files being transferred, and the received video's frame rate,
// average frame size and line use. User-interface thread only; figures that
// cannot be formed (no time elapsed, no line speed) show 0.

#include "platform/types.h"

#include <QDialog>
#include <string>

class QLabel;

namespace trennick {

class CPacketConnection;

inline constexpr int kStatSiteName = 353, kStatSitePhone = 1193, kStatLineSpeed = 1276;
inline constexpr int kStatSendSize = 1280, kStatReceiveSize = 1285, kStatSendRate = 1144, kStatReceiveRate = 1146;
inline constexpr int kStatSendFrameRate = 1277, kStatSendFrameSize = 1278, kStatReceiveFrameRate = 1281;
inline constexpr int kStatReceiveFrameSize = 1282, kStatSendLineUse = 1279, kStatReceiveLineUse = 1284;

// Bytes per second over `elapsedMs`; 0 before a second has passed or without bytes.
ULONGLONG StatisticsRate(ULONGLONG bytes, DWORD elapsedMs);
// Frames per second in hundredths.
DWORD FrameRateHundredths(DWORD frames, DWORD elapsedMs);
// "12.05": the whole frames and two decimals.
std::string FrameRateText(DWORD hundredths);
// Percent of the line that frames of `averageBytes` at the rate use; at most
// 100, 0 without a line speed.
DWORD LineUsePercent(DWORD averageBytes, DWORD rateHundredths, DWORD lineBitsPerSecond);

class CStatistics : public QDialog {
public:
    CStatistics(QWidget* parent, CPacketConnection& link);

    void SetLineSpeed(DWORD bitsPerSecond) { m_lineSpeed = bitsPerSecond; }
    void SetSite(const std::string& name, const std::string& phone);
    // The received video's figures: elapsed time, frames and bytes.
    void SetVideoStatistics(DWORD elapsedMs, DWORD frames, DWORD bytes);
    // Fills the texts from the link (the initial texts stay while it is down).
    void Fill();
    std::string Text(int control) const;

private:
    void set(int control, const std::string& text, int limit);

    CPacketConnection& m_link;
    DWORD m_lineSpeed = 0;
    std::string m_siteName, m_sitePhone;
    DWORD m_videoMs = 0, m_videoFrames = 0, m_videoBytes = 0;
};

}  // namespace trennick
