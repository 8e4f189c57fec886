#pragma once
// CReceiveSnapshot: the dialog in which the operator chooses how a still of the
// connected site's current camera is taken: asked of the site in one of three
// resolutions, JPEG-compressed at a quality or not, or taken "fast" from the
// picture this station already shows. The choice is kept in the registry
// section "SnapShot" and read again by the snapshot command that runs without
// the dialog. The dialog closes itself as cancelled 90 seconds after it opened,
// so it never waits for ever.
//
// Thread: the user-interface thread. Failure: stored values out of range are
// shown with their defaults; nothing throws.

#include "platform/types.h"

#include <QDialog>
#include <QTimer>

class QCheckBox;
class QLabel;
class QLineEdit;
class QRadioButton;
class QSlider;

namespace trennick {

// The snapshot settings as the registry keeps them.
struct SnapshotChoice {
    WORD resolution = 1;    // 0, 1 or 2
    DWORD compression = 1;  // compress the picture as JPEG
    WORD quality = 70;      // 1-100
    DWORD fast = 0;         // take this station's picture instead of asking the site
};

// The stored choice with its defaults (a quality of 0 or above 100 reads 70).
// Nothing is written.
SnapshotChoice ReadSnapshotChoice();
void WriteSnapshotChoice(const SnapshotChoice& choice);

// Capability modes: bit 1 forbids resolution 2, bit 0 forces compression on.
inline constexpr DWORD kSnapshotModeNoLarge = 2;
inline constexpr DWORD kSnapshotModeCompressOnly = 1;

// Control ids of the dialog.
inline constexpr int kSnapRes0 = 1485, kSnapRes1 = 1486, kSnapRes2 = 1487, kSnapCompress = 1488;
inline constexpr int kSnapSlider = 1489, kSnapQuality = 1493, kSnapCompressLabel = 1053;
inline constexpr int kSnapFast = 1514, kSnapRemote = 1515;
inline constexpr int kSnapshotTimeoutMs = 90000;

class CReceiveSnapshot : public QDialog {
public:
    CReceiveSnapshot(QWidget* parent, DWORD mode);

    // The choice after OK (also in the registry then).
    const SnapshotChoice& Choice() const { return m_choice; }
    // The controls, by their ids (tests press them as the operator would).
    QWidget* Control(int id) const;
    QTimer& CloseTimer() { return m_closeTimer; }

    void accept() override;
    void done(int result) override;

private:
    void refresh();

    DWORD m_mode;
    SnapshotChoice m_choice;
    QRadioButton* m_res[3];
    QRadioButton* m_fast;
    QRadioButton* m_remote;
    QCheckBox* m_compress;
    QLabel* m_compressLabel;
    QLineEdit* m_quality;
    QSlider* m_slider;
    QLabel* m_qualityLabels[2];
    QTimer m_closeTimer;
};

}  // namespace trennick
