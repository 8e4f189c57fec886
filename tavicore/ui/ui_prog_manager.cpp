#include "tavicore/ui/ui_prog_manager.h"

#include "common/lumo_deb.h"
#include "platform/named_lock.h"
#include "platform/process.h"
#include "tavicore/ui/ui_resources.h"
#include "tavicore/ui/ui_window.h"

#include <QButtonGroup>
#include <QDesktopServices>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QPushButton>
#include <QRadioButton>
#include <QUrl>
#include <QVBoxLayout>
#include <cstring>
#include <filesystem>
#include <string>
#include <unistd.h>

CProgManager::CProgManager(const char* folder, const char* traceName) {
    const std::string prefix = std::string("TAVICORE") + (traceName != nullptr ? traceName : "") + " :";
    gpLumoDeb->SetPrefix(prefix.c_str());
    if (folder != nullptr) {
        std::strncpy(m_folder, folder, sizeof m_folder - 1);
    }
}

CProgManager::~CProgManager() = default;

CProgManager::CProgManager(const CProgManager& other) = default;
CProgManager& CProgManager::operator=(const CProgManager& other) = default;

int CProgManager::IsSecondInstance() {
    auto mutex = std::make_shared<platform::NamedMutex>("MxSecondInstance");
    if (!mutex->isOpen()) {
        return 0;
    }
    if (mutex->alreadyExisted()) {
        return 1;  // another copy holds the name; ours is dropped
    }
    // Taken and given back at once: only the name matters, and it lives as long
    // as this object keeps it open.
    if (mutex->tryLock()) {
        mutex->release();
    }
    m_mutex = std::move(mutex);
    return 0;
}

int CProgManager::FindFile(const char* path) {
    std::error_code error;
    if (path == nullptr || !std::filesystem::is_regular_file(path, error)) {
        return 0;
    }
    LUMO_TRACE(3, "CProgManager: %s file detected!", std::filesystem::path(path).filename().c_str());
    return 1;
}

WORD CProgManager::GetInstalledModes() {
    // The folder text and the file name are joined as they are (the folder ends
    // in its separator). Our programs carry no ".exe": either form counts.
    auto present = [this](const char* program) {
        const std::string base = std::string(m_folder) + program;
        return FindFile((base + ".exe").c_str()) != 0 || FindFile(base.c_str()) != 0;
    };
    WORD modes = 0;
    if (present("pallomar")) {
        modes |= kModeDayRecorder;
    }
    if (present("trennick")) {
        modes |= kModeMainRecorder;
    }
    return modes;
}

int CProgManager::LaunchApp(platform::HWND, const char* file) {
    if (file == nullptr || file[0] == '\0') {
        return 0;
    }
    std::error_code error;
    const std::filesystem::path path(file);
    if (std::filesystem::is_regular_file(path, error) && ::access(file, X_OK) == 0) {
        platform::Process process = platform::Process::start(file);
        if (!process.valid()) {
            return 0;
        }
        process.release();
        return 1;
    }
    return QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromLocal8Bit(file))) ? 1 : 0;
}

COptions::COptions(int first, int second, platform::HWND parentWindow, QWidget* parent)
    : QDialog(parent), m_parentWindow(parentWindow) {
    setWindowTitle(UiDialogText(kDialogId, 0, "Options"));
    auto* layout = new QVBoxLayout(this);
    auto group = [this, layout](int onId, int offId, bool on) {
        auto* box = new QGroupBox(this);
        auto* row = new QHBoxLayout(box);
        auto* onButton = UiSetControlId(new QRadioButton(UiDialogText(kDialogId, onId, "On"), box), onId);
        auto* offButton = UiSetControlId(new QRadioButton(UiDialogText(kDialogId, offId, "Off"), box), offId);
        row->addWidget(onButton);
        row->addWidget(offButton);
        (on ? onButton : offButton)->setChecked(true);
        layout->addWidget(box);
        return onButton;
    };
    m_firstOn = group(1005, 1043, first > 0);
    m_secondOn = group(1138, 1139, second > 0);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    auto* ok = UiSetControlId(new QPushButton(UiDialogText(kDialogId, IDOK, "OK"), this), IDOK);
    auto* cancel = UiSetControlId(new QPushButton(UiDialogText(kDialogId, IDCANCEL, "Cancel"), this), IDCANCEL);
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    layout->addLayout(buttons);
    connect(ok, &QPushButton::clicked, this, [this] { OnOK(); });
    connect(cancel, &QPushButton::clicked, this, [this] { done(IDCANCEL); });
}

void COptions::OnOK() {
    platform::PostMessage(m_parentWindow, kChoicesMessage, m_firstOn->isChecked() ? 1 : 0,
                          m_secondOn->isChecked() ? 1 : 0);
    done(IDOK);
}
