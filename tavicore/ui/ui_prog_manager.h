#pragma once
// CProgManager: knows the folder the suite is installed in, which of its
// recorder programs are there, guards against a second running copy and starts
// other programs of the suite. COptions: the library's small two-choice options
// dialog.
//
// Threads: one owner thread. Failures are answered by result (0), never thrown.

#include "platform/message_window.h"
#include "platform/types.h"
#include "tavicore/ui/tavicore_ui_api.h"

#include <QDialog>
#include <memory>
#include <string>

namespace platform {
class NamedMutex;
}
class CLumora;
class CDBLumo;
class QRadioButton;

// Installed-modes bits.
inline constexpr WORD kModeDayRecorder = 1;   // "pallomar.exe" is in the folder
inline constexpr WORD kModeMainRecorder = 2;  // "trennick.exe" is in the folder

class TAVICORE_UI_API CProgManager {
public:
    // Sets the engine library's trace prefix to "TAVICORE" + traceName + " :" and
    // keeps the folder (at most 259 characters; it ends in a separator).
    CProgManager(const char* folder, const char* traceName);
    ~CProgManager();
    CProgManager(const CProgManager& other);
    CProgManager& operator=(const CProgManager& other);

    // 1 when another copy holds the name "MxSecondInstance"; else 0, and this
    // object keeps the name alive while it lives.
    int IsSecondInstance();
    WORD GetInstalledModes();
    // 1 when a file matches the path, else 0.
    int FindFile(const char* path);
    // Opens the file as the desktop would (a program is started); 1 on success.
    int LaunchApp(platform::HWND owner, const char* file);
    int DoVideoSource(CLumora* /*capture*/, CDBLumo* /*database*/, WORD /*adapter*/, QWidget* /*parent*/) { return 1; }
    int DoCameraProperties(CDBLumo* /*database*/, CLumora* /*capture*/, WORD /*adapter*/, QWidget* /*parent*/, WORD /*camera*/) {
        return 1;
    }

    const char* folder() const { return m_folder; }

private:
    std::shared_ptr<platform::NamedMutex> m_mutex;  // held name; null when none
    char m_folder[260] = {};
};

// The two-choice options dialog (resource 1403). OK posts message 23081 to the
// parent window with the two choices (1 or 0) in wParam and lParam.
class TAVICORE_UI_API COptions : public QDialog {
public:
    static constexpr UINT kDialogId = 1403;
    static constexpr UINT kChoicesMessage = 23081;

    COptions(int first, int second, platform::HWND parentWindow, QWidget* parent = nullptr);
    int DoModal() { return exec(); }

private:
    void OnOK();

    platform::HWND m_parentWindow;
    QRadioButton* m_firstOn = nullptr;
    QRadioButton* m_secondOn = nullptr;
};
