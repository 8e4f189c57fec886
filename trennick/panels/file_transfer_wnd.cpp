#include "trennick/panels/file_transfer_wnd.h"

#include "common/fixed_text.h"
#include "common/kc_reg.h"
#include "common/lumo_deb.h"
#include "tavicore/product_key.h"
#include "tavicore/ui/ui_resources.h"
#include "tavicore/ui/ui_window.h"
#include "trennick/link/file_transfer.h"
#include "trennick/link/packet_connection.h"
#include "trennick/panels/clipboard_files.h"
#include "trennick/panels/file_history_dlg.h"
#include "trennick/panels/gauge_control.h"
#include "trennick/panels/release_check.h"
#include "trennick/panels/w95_list_view.h"
#include "trennick/panels/w95_status_bar.h"

#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QFontMetrics>
#include <QLabel>
#include <QMenuBar>
#include <QMimeData>
#include <QMimeDatabase>
#include <QPushButton>
#include <QStyle>
#include <QToolBar>
#include <QUrl>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>

namespace trennick {

namespace {

constexpr int kToolBarHeight = 30;
constexpr int kButtonSize = 22;

}  // namespace

LONG SendTypeOfText(const std::string& typeText) {
    if (typeText == kTypeClipboardFile) return kFileKindClipboard;
    return FileKindOfTypeText(typeText);
}

QIcon ShellIcon(const std::string& path) {
    static QFileIconProvider provider;
    return provider.icon(QFileInfo(QString::fromStdString(path)));
}

std::string ShellTypeName(const std::string& path) {
    static QMimeDatabase database;
    const QString comment = database.mimeTypeForFile(QString::fromStdString(path)).comment();
    return comment.isEmpty() ? std::string("File") : comment.toStdString();
}

// One row of the lower band: label, name, percent, rate and stop button, with
// the gauge below.
struct CFileTransfer::Panel {
    Panel(QWidget* parent, bool receive, CFileTransfer& owner) {
        label = new QLabel(receive ? "Receiving:" : "Sending:", parent);
        name = new QLabel(parent);
        percent = new QLabel("0%", parent);
        rate = new QLabel("0 CPS", parent);
        stop = new QPushButton(parent);
        stop->setIcon(owner.styleIcon(QStyle::SP_BrowserStop));
        stop->setToolTip(receive ? "Stop receiving" : "Stop sending");
        UiSetControlId(stop, static_cast<int>(receive ? ID_FT_STOP_RECEIVING : ID_FT_STOP_SENDING));
        gauge = new CGaugeControl(parent);
        gauge->SetRange(0, 100);
        QObject::connect(stop, &QPushButton::clicked, parent, [&owner, receive] {
            owner.OnCommand(receive ? ID_FT_STOP_RECEIVING : ID_FT_STOP_SENDING);
        });
        Reset();
    }
    void Place(int x, int y) {
        label->setGeometry(x, y, 60, kButtonSize);
        name->setGeometry(x + 60, y, 150, kButtonSize);
        percent->setGeometry(x + 210, y, 50, kButtonSize);
        rate->setGeometry(x + 260, y, 60, kButtonSize);
        stop->setGeometry(x + 320, y, kButtonSize, kButtonSize);
        gauge->setGeometry(x + 60, y + kButtonSize + 4, 150, 15);
    }
    void SetVisible(bool on) {
        for (QWidget* w : {static_cast<QWidget*>(label), static_cast<QWidget*>(name), static_cast<QWidget*>(percent),
                           static_cast<QWidget*>(rate), static_cast<QWidget*>(stop), static_cast<QWidget*>(gauge)}) {
            w->setVisible(on);
        }
    }
    void Reset() {
        fullName.clear();
        name->setText(" ");
        percent->setText("0%");
        rate->setText("0 CPS");
        gauge->SetPos(0);
        for (QWidget* w : {static_cast<QWidget*>(label), static_cast<QWidget*>(name), static_cast<QWidget*>(percent),
                           static_cast<QWidget*>(rate), static_cast<QWidget*>(stop), static_cast<QWidget*>(gauge)}) {
            w->setEnabled(false);
        }
    }

    QLabel* label;
    QLabel* name;
    QLabel* percent;
    QLabel* rate;
    QPushButton* stop;
    CGaugeControl* gauge;
    std::string fullName;
    LONG shownPercent = 0;
};

CFileTransfer::CFileTransfer(FileTransferHost& host, CPacketConnection& link) : m_host(host), m_link(link) {
    setObjectName("CFileTransfer");
    setAttribute(Qt::WA_DeleteOnClose, false);
}

CFileTransfer::~CFileTransfer() {
    if (!m_created) return;
    if (m_history != nullptr) m_history->done(IDCANCEL);
    SaveQueue();
    savePlacement();
}

bool CFileTransfer::CreateWnd(bool startMinimised) {
    loadPlacement();
    try {
        buildWindow();
    } catch (...) {
        LUMO_TRACE(1, "CFileTransfer::OnCreate Failed to create toolbar");
        return false;
    }
    m_created = true;
    const bool noPosition = m_placement.left == -1;
    if (noPosition || startMinimised) {
        m_placement.left = 0;
        m_placement.top = 0;
        setGeometry(0, 0, m_placement.width, m_placement.height);
        showMinimized();
    } else {
        setGeometry(m_placement.left, m_placement.top, m_placement.width, m_placement.height);
        show();
    }
    // Queue column widths: stored, or three quarters of the list for the path.
    const int client = std::max(100, m_queue->viewport()->width());
    const int column0 = m_placement.queueColumn1 == -1 ? client * 3 / 4 - 2 : m_placement.queueColumn0;
    const int column1 = m_placement.queueColumn1 == -1 ? client - column0 : m_placement.queueColumn1;
    m_queue->setColumnWidth(0, column0);
    m_queue->setColumnWidth(1, column1);
    loadQueue();
    updateCommands();
    return true;
}

const QIcon& CFileTransfer::styleIcon(QStyle::StandardPixmap which) {
    auto found = m_styleIcons.find(which);
    if (found == m_styleIcons.end()) {
        found = m_styleIcons.emplace(which, QApplication::style()->standardIcon(which)).first;
    }
    return found->second;
}

QAction* CFileTransfer::addCommand(QMenu* menu, const char* text, WPARAM id) {
    QAction* action = menu->addAction(text, this, [this, id] { OnCommand(id); });
    m_actions.emplace_back(id, action);
    return action;
}

void CFileTransfer::buildWindow() {
    setWindowTitle(QString::fromStdString(UiString(kStrTransferTitle, "File transfer")));
    setAcceptDrops(true);
    QPalette grey = palette();
    grey.setColor(QPalette::Window, QColor(192, 192, 192));
    setPalette(grey);
    setMinimumSize(kMinTrackWidth, kMinTrackHeight);

    QMenu* file = menuBar()->addMenu("&File");
    addCommand(file, "&Add files...", ID_FT_ADD_FILES);
    addCommand(file, "&Remove", ID_FT_REMOVE);
    addCommand(file, "&Send queued files", ID_FT_SEND_QUEUED);
    addCommand(file, "&Open", ID_FT_OPEN);
    file->addSeparator();
    addCommand(file, "&Receive", ID_FT_RECEIVE);
    addCommand(file, "Se&nd clipboard contents", ID_FT_SEND_CLIPBOARD);
    file->addSeparator();
    addCommand(file, "Sen&t history", ID_FT_SENT_HISTORY);
    addCommand(file, "Re&ceived history", ID_FT_RECEIVED_HISTORY);
    file->addSeparator();
    addCommand(file, "Op&tions", ID_FT_OPTIONS);
    addCommand(file, "&Close", ID_FT_CLOSE);
    connect(file, &QMenu::aboutToShow, this, [this] { updateCommands(); });

    auto* central = new QWidget(this);
    setCentralWidget(central);
    m_toolBar = new QToolBar(central);
    auto tool = [&](QStyle::StandardPixmap pixmap, const char* tip, WPARAM id) {
        QAction* action = m_toolBar->addAction(styleIcon(pixmap), tip);
        connect(action, &QAction::triggered, this, [this, id] { OnCommand(id); });
        m_actions.emplace_back(id, action);
    };
    tool(QStyle::SP_FileDialogNewFolder, "Add files", ID_FT_ADD_FILES);
    tool(QStyle::SP_TrashIcon, "Remove", ID_FT_REMOVE);
    tool(QStyle::SP_ArrowForward, "Send queued files", ID_FT_SEND_QUEUED);
    tool(QStyle::SP_DialogOpenButton, "Open", ID_FT_OPEN);
    tool(QStyle::SP_FileDialogDetailedView, "Options", ID_FT_OPTIONS);

    m_queue = new CW95ListView(central);
    m_queue->InsertColumn(0, 200, "File");
    m_queue->InsertColumn(1, 100, "Type");
    m_queue->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_queue, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) { showQueueMenu(at); });

    m_statusBar = new CW95StatusBar(central);
    m_statusBar->Create(central);
    m_statusBar->SetupPanes();
    m_collapse = UiSetControlId(new QPushButton("\u25B2", central), static_cast<int>(ID_FT_COLLAPSE));
    m_expand = UiSetControlId(new QPushButton("\u25BC", central), static_cast<int>(ID_FT_EXPAND));
    m_collapse->setToolTip("Show less");
    m_expand->setToolTip("Show more");
    connect(m_collapse, &QPushButton::clicked, this, [this] { OnCommand(ID_FT_COLLAPSE); });
    connect(m_expand, &QPushButton::clicked, this, [this] { OnCommand(ID_FT_EXPAND); });

    m_sending = std::make_unique<Panel>(central, false, *this);
    m_receiving = std::make_unique<Panel>(central, true, *this);
    m_animation = new QLabel(central);
    m_animation->setAlignment(Qt::AlignCenter);
    m_animation->setObjectName("animation");
    if (m_placement.expanded != 0) setMinimumSize(kMinTrackWidth, kMinTrackHeight + kLowerBandHeight);
    layoutChildren();
}

void CFileTransfer::layoutChildren() {
    QWidget* central = centralWidget();
    if (central == nullptr || m_queue == nullptr) return;
    const int w = central->width();
    const int h = central->height();
    const bool expanded = m_placement.expanded != 0;
    m_toolBar->setGeometry(0, 0, w, kToolBarHeight);
    const int band = expanded ? kLowerBandHeight : 0;
    const int listBottom = std::max(kToolBarHeight, h - kStatusBarHeight - band);
    m_queue->setGeometry(0, kToolBarHeight, w, listBottom - kToolBarHeight);
    m_statusBar->setVisible(!expanded);
    m_statusBar->Reposition();
    m_collapse->setGeometry(w - kStatusBarHeight, h - kStatusBarHeight, kStatusBarHeight, kStatusBarHeight);
    m_expand->setGeometry(m_collapse->geometry());
    m_collapse->setVisible(expanded);
    m_expand->setVisible(!expanded);
    m_sending->SetVisible(expanded);
    m_receiving->SetVisible(expanded);
    m_animation->setVisible(expanded);
    if (expanded) {
        m_sending->Place(5, listBottom + 8);
        m_receiving->Place(5, listBottom + 8 + 60);
        m_animation->setGeometry(std::min(w - 70, 360), listBottom + 20, 60, 60);
    }
}

void CFileTransfer::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    layoutChildren();
}

void CFileTransfer::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange) {
        if (!isMinimized()) layoutChildren();
        updateCommands();
    }
}

void CFileTransfer::SetSettings(const BYTE* card, std::size_t bytes) {
    m_card.fill(0);
    if (card != nullptr) std::memcpy(m_card.data(), card, std::min(bytes, m_card.size()));
}

std::string CFileTransfer::stationName() const { return fixed_text::Read(m_card.data() + 8, 64); }

// ---- queue ----

void CFileTransfer::AddFileToQueue(const std::string& path, const std::string& typeText, bool start) {
    // Only files that exist are queued: a switch of a command line that
    // reached here as a name ("/NOSPLASH") or an empty name never is.
    std::error_code error;
    if (path.empty() || !std::filesystem::is_regular_file(path, error)) {
        LUMO_TRACE(3, "CFileTransfer::AddFileToQueue %s is not a file", path.c_str());
        return;
    }
    const int row = m_queue->InsertItemWithIcon(-1, path, ShellIcon(path));
    m_queue->SetItemText(row, 1, typeText.empty() ? ShellTypeName(path) : typeText);
    updateCommands();
    if (m_host.transferSettings().SendOnAdd() && start) OnCommand(ID_FT_SEND_QUEUED);
}

void CFileTransfer::AddFilesToQueue(const std::string& list, const std::string& typeText) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (true) {
        const std::size_t comma = list.find(',', start);
        parts.push_back(list.substr(start, std::min<std::size_t>(259, comma == std::string::npos ? std::string::npos
                                                                                                : comma - start)));
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    for (std::size_t i = 0; i < parts.size(); ++i) {
        const bool last = i + 1 == parts.size();
        if (last && parts[i].empty()) break;
        AddFileToQueue(parts[i], typeText, last);
    }
}

void CFileTransfer::loadQueue() {
    std::ifstream in(m_host.transferSettings().queueFile, std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        if (line.size() > 510) line.resize(510);
        while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
        std::vector<std::string> fields;
        CCommon::SplitFields(line, fields, 2, ';');
        if (fields.empty() || fields[0].empty()) continue;
        std::string path = fields[0].substr(0, 255);
        const int row = m_queue->InsertItemWithIcon(-1, path, ShellIcon(path));
        m_queue->SetItemText(row, 1, ShellTypeName(path));
    }
}

void CFileTransfer::SaveQueue() {
    const TransferSettings settings = m_host.transferSettings();
    std::FILE* out = std::fopen(settings.queueFile.c_str(), "wb");
    if (out == nullptr) {
        const int error = errno;
        if (error == EMFILE || error == ENFILE) message(kStrTooManyOpenFiles, 0, settings.queueFile);
        else if (error == ENOSPC) message(kStrDiskFull, 0, settings.queueFile);
        return;
    }
    if (!settings.ForgetQueue()) {
        for (int r = 0; r < m_queue->GetItemCount(); ++r) {
            const std::string text = m_queue->GetItemText(r, 0) + ";" + m_queue->GetItemText(r, 1) + "\r\n";
            std::fwrite(text.data(), 1, text.size(), out);
        }
    }
    if (std::fclose(out) != 0 && errno == ENOSPC) message(kStrDiskFull, 0, settings.queueFile);
}

void CFileTransfer::appendHistory(const std::string& file, const std::string& path, const std::string& type) {
    std::FILE* out = std::fopen(file.c_str(), "ab");
    if (out == nullptr) {
        const int error = errno;
        if (error == EMFILE || error == ENFILE) message(kStrTooManyOpenFiles, 0, file);
        else if (error == ENOSPC) message(kStrDiskFull, 0, file);
        return;
    }
    const HistoryLine line{path, type, stationName(),
                           CCommon::GetDateTimeStamp(m_host.transferSettings().LongDate())};
    const std::string text = FormatHistoryLine(line);
    const bool written = std::fwrite(text.data(), 1, text.size(), out) == text.size();
    if ((std::fclose(out) != 0 || !written) && errno == ENOSPC) message(kStrDiskFull, 0, file);
}

void CFileTransfer::removeEntry0() {
    if (m_queue->GetItemCount() > 0) m_queue->DeleteItems(0);
    updateCommands();
}

// ---- placement ----

void CFileTransfer::loadPlacement() {
    CKcReg reg = ProductKey("General");
    TransferPlacement stored;
    DWORD size = sizeof stored;
    if (reg.GetBinary(nullptr, kTransferPlacementValue, reinterpret_cast<BYTE*>(&stored), &size) &&
        size == sizeof stored) {
        m_placement = stored;
        m_placement.width = std::max<LONG>(m_placement.width, kMinTrackWidth);
        m_placement.height = std::max<LONG>(m_placement.height, kMinTrackHeight);
    }
}

void CFileTransfer::savePlacement() {
    if (isMinimized()) {
        m_placement.left = -1;
        m_placement.top = -1;
        m_placement.width = 540;
        m_placement.height = 250;
    } else {
        const QRect frame = geometry();
        m_placement.left = frame.x();
        m_placement.top = frame.y();
        m_placement.width = frame.width();
        m_placement.height = frame.height();
    }
    m_placement.queueColumn1 = m_queue->GetColumnWidth(1);
    m_placement.queueColumn0 = m_queue->GetColumnWidth(0);
    CKcReg reg = ProductKey("General");
    reg.SetBinary(nullptr, kTransferPlacementValue, reinterpret_cast<const BYTE*>(&m_placement), sizeof m_placement);
}

// ---- panels and the status bar ----

void CFileTransfer::panelUpdate(bool receive, const std::string& name, LONG percent, LONG rate) {
    Panel& panel = receive ? *m_receiving : *m_sending;
    if (!name.empty()) {
        for (QWidget* w : {static_cast<QWidget*>(panel.label), static_cast<QWidget*>(panel.name),
                           static_cast<QWidget*>(panel.percent), static_cast<QWidget*>(panel.rate),
                           static_cast<QWidget*>(panel.stop), static_cast<QWidget*>(panel.gauge)}) {
            w->setEnabled(true);
        }
        if (panel.fullName.empty()) {
            panel.fullName = name;
            const QFontMetrics metrics(panel.name->font());
            panel.name->setText(QString::fromStdString(CCommon::CompactPathToWindow(
                name, 150, [&](std::string_view t) {
                    return metrics.horizontalAdvance(QString::fromUtf8(t.data(), static_cast<int>(t.size())));
                })));
        }
    }
    if (percent != -1 && percent != panel.shownPercent) {
        panel.shownPercent = percent;
        panel.gauge->SetPos(percent);
        panel.percent->setText(QString::number(percent) + "%");
    }
    if (rate != -1) panel.rate->setText(QString::number(rate) + " CPS");
}

void CFileTransfer::panelReset(bool receive) {
    Panel& panel = receive ? *m_receiving : *m_sending;
    panel.Reset();
    panel.shownPercent = 0;
}

void CFileTransfer::resetSide(bool receive) {
    m_statusBar->EndProgress(receive);
    panelReset(receive);
}

std::string CFileTransfer::PanelName(bool receive) const {
    return (receive ? m_receiving : m_sending)->fullName;
}
std::string CFileTransfer::PanelPercent(bool receive) const {
    return (receive ? m_receiving : m_sending)->percent->text().toStdString();
}
std::string CFileTransfer::PanelRate(bool receive) const {
    return (receive ? m_receiving : m_sending)->rate->text().toStdString();
}

void CFileTransfer::startAnimation(bool on) {
    // The copy animation plays only while the lower band shows.
    const bool play = on && m_placement.expanded != 0;
    if (play) {
        m_flags |= kFlagAnimation;
        static const char* kFrames[] = {"\u25B6    ", " \u25B6   ", "  \u25B6  ", "   \u25B6 ", "    \u25B6"};
        m_animation->setText(kFrames[m_animationFrame++ % 5]);
    } else {
        m_flags &= static_cast<BYTE>(~kFlagAnimation);
        m_animationFrame = 0;
        m_animation->setText(" ");
    }
}

void CFileTransfer::setExpanded(bool expand) {
    if ((m_placement.expanded != 0) == expand) return;
    m_placement.expanded = expand ? 1 : 0;
    setMinimumSize(kMinTrackWidth, kMinTrackHeight + (expand ? kLowerBandHeight : 0));
    if (isMaximized()) {
        layoutChildren();
    } else {
        resize(width(), height() + (expand ? kLowerBandHeight : -kLowerBandHeight));
        layoutChildren();
    }
    startAnimation(expand && TransferActive());
    m_placement.width = width();
    m_placement.height = height();
}

// ---- the transfer step ----

void CFileTransfer::OnTransferStatus(LONG readResult) {
    if (readResult == -1 || readResult == -2) {
        resetSide(false);
        resetSide(true);
    }
    if (m_link.IsLinkUp() && readResult != -3) ProcessTransfer();
}

bool CFileTransfer::isClipboardTemp(const std::string& path) const {
    if (CCommon::GetClipboardFormatOfFile(std::filesystem::path(path).filename().string()) == 0) return false;
    const std::filesystem::path folder = std::filesystem::path(m_host.transferSettings().programFolder) / "Temp";
    return std::filesystem::path(path).parent_path() == folder;
}

void CFileTransfer::deleteClipboardFile(const std::string& path) {
    // A clipboard file is ours to remove once it has gone (or was refused):
    // recognised by its name in the temporary folder, whatever its format.
    if (path.empty() || !isClipboardTemp(path)) return;
    std::error_code error;
    std::filesystem::remove(path, error);
}

void CFileTransfer::stepSending(const TransferSettings& settings, bool& hide) {
    ULONGLONG total = 0, done = 0;
    LONG kind = 0, rate = -1;
    std::string name;
    const LONG sent = m_link.GetSendStatus(&total, &done, &kind, &rate, &name);
    if (kind == kFileKindEvent || kind == kFileKindEventList || kind == kFileKindRemoteSettings) hide = true;
    if (kind != kFileKindCardPicture) {
        switch (sent) {
        case SEND_IDLE:
            if (m_queue->GetItemCount() > 0 && settings.AutoSend()) {
                const std::string path = m_queue->GetItemText(0, 0);
                const std::string type = m_queue->GetItemText(0, 1);
                if (type == kTypeSiteInformation) {
                    removeEntry0();
                    resetSide(false);
                    m_host.postCommand(kMainCmdSendSiteInfo);
                } else if (m_link.SetSendStatus(1, SendTypeOfText(type), path.c_str()) == 1) {
                    // Opened and announced now rather than at the next pass.
                    m_link.ProcessSending();
                    m_statusBar->StartProgress(false, path);
                    panelUpdate(false, path, 0, -1);
                    m_flags |= kFlagActive;
                }
            }
            break;
        case SEND_START:
            m_statusBar->StartProgress(false, name);
            panelUpdate(false, name, -1, -1);
            [[fallthrough]];
        case SEND_SENDING: {
            const LONG percent = total == 0 ? 0 : static_cast<LONG>(std::min<ULONGLONG>(done * 100 / total, 100));
            if (sent == SEND_SENDING && m_statusBar->Gauge(false).isHidden()) m_statusBar->StartProgress(false, name);
            m_statusBar->SetProgress(percent, false);
            panelUpdate(false, name, percent, rate);
            m_flags |= kFlagActive;
            break;
        }
        case SEND_REFUSED:
        case SEND_FAILED:
        case SEND_STOPPED:
            resetSide(false);
            removeEntry0();
            deleteClipboardFile(name);
            readySend();
            m_host.sendEnded(sent, name);
            break;
        case SEND_COMPLETE:
            if (kind == kFileKindAny && m_queue->GetItemCount() > 0) {
                appendHistory(settings.sentFile, m_queue->GetItemText(0, 0), m_queue->GetItemText(0, 1));
            }
            deleteClipboardFile(name);
            removeEntry0();
            resetSide(false);
            readySend();
            if (m_queue->GetItemCount() == 0) hide = true;
            m_host.sendEnded(sent, name);
            break;
        case SEND_USER_DISCONNECTING:
            m_host.postCommand(kMainCmdDisconnect);
            resetSide(false);
            readySend();
            m_inStep = true;
            message(kStrConnectionLostRead, 1, "");
            m_inStep = false;
            SaveQueue();
            break;
        default:
            break;
        }
    }
}

void CFileTransfer::stepReceiving(const TransferSettings& settings, bool& hide, bool& showWindow) {
    ULONGLONG total = 0, done = 0;
    LONG kind = 0, rate = -1;
    std::string name;
    const LONG received = m_link.GetReceiveStatus(&total, &done, &kind, &rate, &name);
    if (kind == kFileKindEvent || kind == kFileKindEventList || kind == kFileKindRemoteSettings) hide = true;
    if (kind >= 0) {
        switch (received) {
        case REC_READY:
            readyReceive(settings.receiveFolder);
            break;
        case REC_RECEIVING: {
            if (done == 0 || m_statusBar->Gauge(true).isHidden()) {
                m_statusBar->StartProgress(true, name);
                panelUpdate(true, name, -1, -1);
            }
            const LONG percent = total == 0 ? 0 : static_cast<LONG>(std::min<ULONGLONG>(done * 100 / total, 100));
            m_statusBar->SetProgress(percent, true);
            panelUpdate(true, name, percent, rate);
            m_flags |= kFlagActive;
            showWindow = true;
            break;
        }
        case REC_COMPLETE: {
            resetSide(true);
            std::string path;
            if (!m_link.GetReceivedFileName(path)) path = settings.receiveFolder + name;
            if (kind == kFileKindAny) {
                appendHistory(settings.receivedFile, path, ShellTypeName(path));
                const int open = settings.OpenReceived();
                if (open == 0) {
                    CCommon::ShellOpen(path);
                } else if (open == 2) {
                    m_inStep = true;
                    const int answer = message(kStrOpenReceived, 1, name);
                    m_inStep = false;
                    if (answer == 512) CCommon::ShellOpen(path);
                }
            } else if (kind == kFileKindClipboard) {
                PutReceivedOnClipboard(path);
            }
            m_host.fileArrived(path, kind);
            readyReceive(settings.receiveFolder);
            break;
        }
        case REC_STOPPED:
        case REC_WAIT_USER:
        case REC_FAILED:
            resetSide(true);
            readyReceive(settings.receiveFolder);
            break;
        case REC_USER_DISCONNECTING:
            m_host.postCommand(kMainCmdDisconnect);
            m_statusBar->EndProgress(true);
            SaveQueue();
            readyReceive(settings.receiveFolder);
            panelReset(true);
            break;
        default:
            break;
        }
    }
}

void CFileTransfer::ProcessTransfer() {
    if (m_inStep) return;
    m_flags &= static_cast<BYTE>(~kFlagActive);
    bool hide = false;
    bool showWindow = false;
    const TransferSettings settings = m_host.transferSettings();

    stepSending(settings, hide);
    stepReceiving(settings, hide, showWindow);

    if (TransferActive() && isMinimized()) {
        m_iconAlternate = !m_iconAlternate;
        setWindowIcon(styleIcon(m_iconAlternate ? QStyle::SP_ArrowUp : QStyle::SP_ArrowDown));
    }
    startAnimation(TransferActive());
    if (hide) {
        if (isVisible()) setVisible(false);
    } else if (showWindow && !isVisible()) {
        setVisible(true);
    }
    updateCommands();
}

// Making a side ready again and stopping it are never refused (a receive is
// made ready only once it no longer receives), so their results go unread.
void CFileTransfer::readySend() { (void)m_link.SetSendStatus(-1, 0, nullptr); }
void CFileTransfer::readyReceive(const std::string& folder) { (void)m_link.SetReceiveStatus(1, folder.c_str()); }
void CFileTransfer::stopSend() { (void)m_link.SetSendStatus(0, 0, nullptr); }
void CFileTransfer::stopReceive() { (void)m_link.SetReceiveStatus(0, nullptr); }

void CFileTransfer::ResetTransfer() {
    stopSend();
    stopReceive();
    resetSide(false);
    resetSide(true);
    m_flags &= static_cast<BYTE>(~kFlagActive);
    startAnimation(false);
    readySend();
    readyReceive(m_host.transferSettings().receiveFolder);
}

int CFileTransfer::CloseFileTransfer(bool hideMessage) {
    const LONG sent = m_link.GetFileSendStatus();
    const LONG received = m_link.GetFileReceiveStatus();
    const bool disconnecting = sent == SEND_USER_DISCONNECTING || received == REC_USER_DISCONNECTING;
    const bool sending = sent == SEND_ANNOUNCED || sent == SEND_SENDING || sent == WAIT_CRC_CONFIRM;
    const bool receiving = received == REC_RECEIVING;
    if (!sending && !receiving) {
        if (disconnecting) ResetTransfer();
        return 1;
    }
    if (!disconnecting) {
        if (hideMessage) {
            LUMO_TRACE(3, "CFileTransfer::CloseFileTransfer bHideMessage = %d", 1);
        } else if (message(kStrCloseWhileTransfer, 2, "") != 512) {
            return 0;
        }
    }
    ResetTransfer();
    return disconnecting ? 1 : 2;
}

void CFileTransfer::closeEvent(QCloseEvent* event) {
    if (CloseFileTransfer(false) == 0) {
        event->ignore();
        return;
    }
    event->accept();
    m_host.windowClosing();
}

// ---- commands ----

bool CFileTransfer::IsCommandEnabled(WPARAM id) const {
    const bool queued = m_queue != nullptr && m_queue->GetItemCount() > 0;
    switch (id) {
    case ID_FT_REMOVE: case ID_FT_REMOVE_CTX:
    case ID_FT_SEND_QUEUED: case ID_FT_SEND_QUEUED_SYS: case ID_FT_SEND_QUEUED_CTX:
    case ID_FT_OPEN: case ID_FT_OPEN_CTX:
        return queued;
    case ID_FT_OPTIONS:
        return !m_link.IsLinkUp();
    case ID_FT_RECEIVE:
        return m_link.IsLinkDown() != FALSE;
    case ID_FT_SEND_CLIPBOARD: {
        const QMimeData* data = QApplication::clipboard()->mimeData();
        return data != nullptr && !data->formats().isEmpty();
    }
    case ID_FT_SENT_HISTORY:
    case ID_FT_RECEIVED_HISTORY: {
        const TransferSettings settings = m_host.transferSettings();
        std::error_code error;
        const auto size = std::filesystem::file_size(id == ID_FT_SENT_HISTORY ? settings.sentFile
                                                                              : settings.receivedFile, error);
        return !error && size > 0;
    }
    default:
        return true;
    }
}

void CFileTransfer::updateCommands() {
    for (auto& [id, action] : m_actions) action->setEnabled(IsCommandEnabled(id));
}

void CFileTransfer::OnCommand(WPARAM id) {
    switch (id) {
    case ID_FT_ADD_FILES:
        addFilesDialog();
        break;
    case ID_FT_REMOVE:
    case ID_FT_REMOVE_CTX:
        m_queue->DeleteItems(-1);
        break;
    case ID_FT_SEND_QUEUED:
    case ID_FT_SEND_QUEUED_SYS:
    case ID_FT_SEND_QUEUED_CTX:
        sendQueued();
        break;
    case ID_FT_OPEN:
    case ID_FT_OPEN_CTX:
        for (int r = m_queue->GetNextSelected(-1); r >= 0; r = m_queue->GetNextSelected(r)) {
            CCommon::ShellOpen(m_queue->GetItemText(r, 0));
        }
        break;
    case ID_FT_OPTIONS:
        m_host.postCommand(kMainCmdOptionsPage4);
        break;
    case ID_FT_RECEIVE:
        m_host.postCommand(kMainCmdListen);
        break;
    case ID_FT_SEND_CLIPBOARD:
        SendClipboardContents();
        break;
    case ID_FT_SENT_HISTORY:
        showHistory(false);
        break;
    case ID_FT_RECEIVED_HISTORY:
        showHistory(true);
        break;
    case ID_FT_CLOSE:
        close();
        break;
    case ID_FT_STOP_SENDING:
        stopSend();
        ProcessTransfer();
        break;
    case ID_FT_STOP_RECEIVING:
        stopReceive();
        ProcessTransfer();
        break;
    case ID_FT_COLLAPSE:
    case ID_FT_COLLAPSE2:
        setExpanded(false);
        break;
    case ID_FT_EXPAND:
    case ID_FT_EXPAND2:
        setExpanded(true);
        break;
    case ID_FT_HELP:
        LUMO_TRACE(3, "CFileTransfer: help");
        break;
    default:
        break;
    }
    updateCommands();
}

void CFileTransfer::sendQueued() {
    if (m_link.IsLinkUp()) return;  // the transfer step sends the queue
    const int count = m_queue->GetItemCount();
    if (count == 0) return;
    if (m_host.transferSettings().ConfirmSend()) {
        const int answer = count == 1 ? message(kStrSendQueuedOne, 2, "") : messageCount(kStrSendQueuedMany, 2, count);
        if (answer != 512) return;
    }
    m_host.postCommand(kMainCmdConnect);
}

void CFileTransfer::addFilesDialog() {
    // Nobody can answer a dialog without a display: nothing is added.
    if (UiUnattended()) {
        LUMO_TRACE(3, "Add File Fail Code: %ld\n", 0L);
        return;
    }
    m_host.activateMain(false);
    const QStringList paths = QFileDialog::getOpenFileNames(this, "Add file(s) to Queue", QString(), "All Files (*)");
    m_host.activateMain(true);
    for (const QString& p : paths) {
        const std::string path = p.toStdString();
        if (path == "*.*") continue;
        if (CheckReleaseFile(path) == 0) AddFileToQueue(path, "", true);
    }
}

int CFileTransfer::CheckReleaseFile(const std::string& path) {
    ReleaseCheckUi ui;
    ui.remote = [this](int& kind, std::string& release) { return m_host.remoteVersion(kind, release); };
    ui.tell = [this](unsigned id, const std::string& image, const std::string& unit) {
        m_common.ShowMessage(id, 1, image.c_str(), unit.c_str());
    };
    ui.ask = [this](unsigned id, const std::string& image, const std::string& unit) {
        return m_common.ShowMessage(id, 2, image.c_str(), unit.c_str()) == 512;
    };
    return trennick::CheckReleaseFile(path, ui);
}

CFileHistory* CFileTransfer::History() const { return m_history; }

void CFileTransfer::showHistory(bool received) {
    if (m_history != nullptr) return;
    const TransferSettings settings = m_host.transferSettings();
    auto* dialog = new CFileHistory(this, received ? settings.receivedFile : settings.sentFile, received, *m_queue,
                                    received ? m_placement.receivedColumns : m_placement.sentColumns);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &QDialog::finished, this, [this] { updateCommands(); });
    m_history = dialog;
    dialog->open();
}

void CFileTransfer::showQueueMenu(const QPoint& at) {
    const int last = m_queue->GetItemCount() - 1;
    if (last < 0 || at.y() > m_queue->GetItemRect(last).bottom()) return;
    QMenu menu;
    menu.addAction("&Remove", this, [this] { OnCommand(ID_FT_REMOVE_CTX); });
    QAction* send = menu.addAction("&Send", this, [this] { OnCommand(ID_FT_SEND_QUEUED_CTX); });
    send->setEnabled(!m_link.IsLinkUp());
    menu.addAction("&Open", this, [this] { OnCommand(ID_FT_OPEN_CTX); });
    menu.exec(m_queue->viewport()->mapToGlobal(at));
}

void CFileTransfer::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void CFileTransfer::dropEvent(QDropEvent* event) {
    for (const QUrl& url : event->mimeData()->urls()) {
        if (!url.isLocalFile()) continue;
        const std::string path = url.toLocalFile().toStdString();
        if (path.size() <= 255) AddFileToQueue(path, "", true);
    }
}

// ---- clipboard ----

void CFileTransfer::SendClipboardContents() {
    sendQueued();
    const QMimeData* data = QApplication::clipboard()->mimeData();
    if (data == nullptr) return;
    const std::string folder = (std::filesystem::path(m_host.transferSettings().programFolder) / "Temp").string();
    const ClipboardWrite written = WriteClipboardFiles(*data, folder);
    for (const std::string& path : written.paths) {
        const int row = m_queue->InsertItemWithIcon(-1, path, windowIcon());
        m_queue->SetItemText(row, 1, kTypeClipboardFile);
    }
    if (written.failedMessage != 0) message(written.failedMessage, 0, written.failedPath);
    updateCommands();
}

void CFileTransfer::PutReceivedOnClipboard(const std::string& path) {
    if (QMimeData* data = ReadClipboardFile(path)) {
        // One file per format: each joins what the clipboard already holds, so
        // a text and a picture sent together both land there.
        if (const QMimeData* held = QApplication::clipboard()->mimeData()) {
            if (held->hasImage() && !data->hasImage()) data->setImageData(held->imageData());
            if (held->hasText() && !data->hasText()) data->setText(held->text());
            for (const QString& format : held->formats()) {
                if (format.startsWith(ClipboardFormatMime(0).chopped(1)) && !data->hasFormat(format)) {
                    data->setData(format, held->data(format));
                }
            }
        }
        QApplication::clipboard()->setMimeData(data);
    } else {
        LUMO_TRACE(3, "CFileTransfer::PutReceivedOnClipboard %s is not put on the clipboard", path.c_str());
    }
}

// ---- messages ----

int CFileTransfer::message(UINT id, int kind, const std::string& argument) {
    return m_common.ShowMessage(id, static_cast<UINT>(kind), argument.c_str());
}

int CFileTransfer::messageCount(UINT id, int kind, int count) {
    return m_common.ShowMessage(id, static_cast<UINT>(kind), count);
}

}  // namespace trennick
