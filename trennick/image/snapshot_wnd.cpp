#include "trennick/image/snapshot_wnd.h"

#include "common/lumo_deb.h"
#include "trennick/image/image_wnd.h"

#include <QFileDialog>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace {

// The largest picture shown at its own size; larger ones are scaled down.
constexpr int kMaxShownWidth = 352;
constexpr int kMaxShownHeight = 288;

}  // namespace

CSnapshotWnd::CSnapshotWnd(QWidget* parent) : QWidget(parent, Qt::Tool) {
    setWindowTitle("Snapshot");
    setStyleSheet("background-color: rgb(192, 192, 192);");
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(2, 2, 2, 2);
    m_image = new CImageWnd(kMaxShownWidth, kMaxShownHeight, this);
    m_image->SetStampIntoImage(FALSE);
    m_image->setMinimumSize(176, 144);
    m_text = new QLabel(this);
    m_save = new QPushButton("Save as bitmap", this);
    column->addWidget(m_image, 1);
    column->addWidget(m_text);
    column->addWidget(m_save);
    connect(m_save, &QPushButton::clicked, this, [this] { OnSaveAsBitmap(); });
    resize(176 + 4, 144 + 64);
}

CSnapshotWnd::~CSnapshotWnd() = default;

BOOL CSnapshotWnd::ShowSnapshot(const std::string& bitmapFile, const std::string& title, const std::string& textLine) {
    m_file = bitmapFile;
    m_text->setText(QString::fromLocal8Bit(textLine.c_str()));
    setWindowTitle(QString::fromLocal8Bit(title.c_str()));
    const BOOL ok = m_image->LoadImageFile(bitmapFile.c_str(), FALSE);
    if (ok) {
        m_image->setMinimumSize(std::min(m_image->ImageWidth(), kMaxShownWidth),
                                std::min(m_image->ImageHeight(), kMaxShownHeight));
        adjustSize();
    }
    show();
    return ok;
}

std::string CSnapshotWnd::TextLine() const { return m_text->text().toLocal8Bit().toStdString(); }

bool CSnapshotWnd::SaveAs(const std::string& target, std::string& why) {
    if (m_file.empty()) {
        why = "no snapshot is shown";
        return false;
    }
    std::error_code error;
    fs::rename(m_file, target, error);
    if (error) {
        // Another file system: copy, and drop the original only once the copy is whole.
        std::error_code copyError;
        fs::copy_file(m_file, target, fs::copy_options::overwrite_existing, copyError);
        if (copyError) {
            why = target + ": " + copyError.message();
            std::error_code ignored;
            fs::remove(target, ignored);
            return false;
        }
        fs::remove(m_file, error);
    }
    m_file = target;
    return true;
}

void CSnapshotWnd::OnSaveAsBitmap() {
    std::string chosen;
    if (m_choose) {
        chosen = m_choose(m_file);
    } else {
        chosen = QFileDialog::getSaveFileName(this, "Save snapshot as bitmap", QString::fromLocal8Bit(m_file.c_str()),
                                              "Bitmap Files (*.bmp);;All Files (*.*)")
                     .toLocal8Bit()
                     .toStdString();
        if (!chosen.empty() && fs::path(chosen).extension().empty()) chosen += ".bmp";
    }
    if (chosen.empty() || chosen == "*.*") return;
    std::string why;
    if (!SaveAs(chosen, why)) {
        LUMO_TRACE(1, "CSnapshotWnd: the snapshot was not saved: %s", why.c_str());
        if (m_report) m_report("The snapshot was not saved: " + why);
        return;
    }
    m_text->setToolTip(QString::fromLocal8Bit(m_file.c_str()));
}
