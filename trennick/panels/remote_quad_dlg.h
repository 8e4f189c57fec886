#pragma once
// CRemoteQuadDlg: the quad settings dialog of the remote view. The operator
// ticks the cameras of the current adapter that take part in the camera
// sequence and sets the delay between switches, in seconds, within the
// smallest and largest delay the settings allow. The caller applies the
// values after OK.
//
// Thread: the user-interface thread. Failure: a delay outside the range keeps
// the dialog open.

#include "platform/types.h"

#include <QDialog>

#include <string>
#include <vector>

class QListWidget;
class QSpinBox;

namespace trennick {

struct QuadDialogValues {
    std::vector<std::string> cameras;  // the adapter's camera names
    std::vector<bool> inCycle;         // one per camera
    DWORD delaySeconds = 1;
    DWORD minSeconds = 1;
    DWORD maxSeconds = 10;
};

inline constexpr int kQuadDialogTemplate = 469;
inline constexpr int kQuadCameraList = 1042, kQuadDelayEdit = 1044, kQuadDelaySpin = 1041;

class CRemoteQuadDlg : public QDialog {
public:
    CRemoteQuadDlg(QWidget* parent, const QuadDialogValues& values);

    // The values after OK.
    const QuadDialogValues& Values() const { return m_values; }
    QListWidget* CameraList() const { return m_list; }
    QSpinBox* Delay() const { return m_delay; }

    void accept() override;

private:
    QuadDialogValues m_values;
    QListWidget* m_list;
    QSpinBox* m_delay;
};

}  // namespace trennick
