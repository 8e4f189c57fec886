#include "trennick/panels/receive_snapshot.h"

#include "common/lumo_deb.h"
#include "tavicore/product_key.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QGridLayout>
#include <QGuiApplication>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSlider>

namespace trennick {

namespace {

constexpr const char* kSection = "SnapShot";

DWORD readValue(CKcReg& reg, const char* name, DWORD fallback) {
    DWORD value = 0;
    return reg.GetDword(kSection, name, &value) ? value : fallback;
}

}  // namespace

SnapshotChoice ReadSnapshotChoice() {
    CKcReg reg = ProductKey(kSection);
    SnapshotChoice c;
    const DWORD resolution = readValue(reg, "Snapshot Resolution", 1);
    c.resolution = WORD(resolution > 2 ? 1 : resolution);
    c.compression = readValue(reg, "JPEG Compresion", 1) != 0 ? 1 : 0;
    const DWORD quality = readValue(reg, "JPEG Quality", 70);
    c.quality = WORD(quality == 0 || quality > 100 ? 70 : quality);
    c.fast = readValue(reg, "FastSnapShot", 0) != 0 ? 1 : 0;
    return c;
}

void WriteSnapshotChoice(const SnapshotChoice& c) {
    CKcReg reg = ProductKey(kSection);
    const DWORD values[] = {c.resolution, c.compression, c.quality, c.fast};
    const char* names[] = {"Snapshot Resolution", "JPEG Compresion", "JPEG Quality", "FastSnapShot"};
    for (int i = 0; i < 4; ++i) reg.SetDword(kSection, names[i], &values[i]);
}

CReceiveSnapshot::CReceiveSnapshot(QWidget* parent, DWORD mode) : QDialog(parent), m_mode(mode) {
    setWindowTitle("Snapshot");
    m_choice = ReadSnapshotChoice();
    auto* grid = new QGridLayout(this);
    m_remote = new QRadioButton("Ask the site for a new picture", this);
    m_fast = new QRadioButton("Fast: keep the picture shown now", this);
    grid->addWidget(m_remote, 0, 0, 1, 3);
    grid->addWidget(m_fast, 1, 0, 1, 3);
    // Two choices of their own: where the picture comes from, and its size.
    auto* source = new QButtonGroup(this);
    source->addButton(m_remote);
    source->addButton(m_fast);
    auto* size = new QButtonGroup(this);
    const char* sizes[] = {"176 x 144", "352 x 288", "704 x 576"};
    for (int r = 0; r < 3; ++r) {
        m_res[r] = new QRadioButton(sizes[r], this);
        size->addButton(m_res[r]);
        grid->addWidget(m_res[r], 2, r);
    }
    m_compress = new QCheckBox("JPEG", this);
    m_compressLabel = new QLabel("Compress the picture", this);
    grid->addWidget(m_compress, 3, 0);
    grid->addWidget(m_compressLabel, 3, 1, 1, 2);
    m_qualityLabels[0] = new QLabel("Quality", this);
    m_slider = new QSlider(Qt::Horizontal, this);
    m_slider->setRange(1, 100);
    m_slider->setPageStep(10);
    m_slider->setSingleStep(1);
    m_quality = new QLineEdit(this);
    m_quality->setValidator(new QIntValidator(1, 100, m_quality));
    m_qualityLabels[1] = new QLabel("1 - 100", this);
    grid->addWidget(m_qualityLabels[0], 4, 0);
    grid->addWidget(m_slider, 4, 1);
    grid->addWidget(m_quality, 4, 2);
    grid->addWidget(m_qualityLabels[1], 5, 2);
    auto* ok = new QPushButton("OK", this);
    auto* cancel = new QPushButton("Cancel", this);
    ok->setDefault(true);
    grid->addWidget(ok, 6, 1);
    grid->addWidget(cancel, 6, 2);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

    // The stored choice: a stored 2 shows as 1 where the large picture is
    // not allowed; compression stays on where it is forced.
    int shown = m_choice.resolution;
    if (shown == 2 && (m_mode & kSnapshotModeNoLarge) != 0) shown = 1;
    m_res[shown]->setChecked(true);
    m_slider->setValue(m_choice.quality);
    m_quality->setText(QString::number(m_choice.quality));
    m_compress->setChecked(m_choice.compression != 0 || (m_mode & kSnapshotModeCompressOnly) != 0);
    (m_choice.fast != 0 ? m_fast : m_remote)->setChecked(true);

    connect(m_slider, &QSlider::valueChanged, this, [this](int v) { m_quality->setText(QString::number(v)); });
    connect(m_quality, &QLineEdit::editingFinished, this, [this] {
        const int v = m_quality->text().toInt();
        if (v >= 1 && v <= 100) m_slider->setValue(v);
    });
    connect(m_compress, &QCheckBox::toggled, this, [this] { refresh(); });
    connect(m_fast, &QRadioButton::toggled, this, [this] { refresh(); });
    refresh();

    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect desk = screen->availableGeometry();
        adjustSize();
        move(desk.center() - rect().center());
    }
    m_closeTimer.setSingleShot(true);
    connect(&m_closeTimer, &QTimer::timeout, this, [this] {
        LUMO_TRACE(5, "CReceiveSnapshot: nobody answered; closed as cancelled");
        reject();
    });
    m_closeTimer.start(kSnapshotTimeoutMs);
}

QWidget* CReceiveSnapshot::Control(int id) const {
    switch (id) {
    case kSnapRes0: return m_res[0];
    case kSnapRes1: return m_res[1];
    case kSnapRes2: return m_res[2];
    case kSnapCompress: return m_compress;
    case kSnapCompressLabel: return m_compressLabel;
    case kSnapSlider: return m_slider;
    case kSnapQuality: return m_quality;
    case kSnapFast: return m_fast;
    case kSnapRemote: return m_remote;
    default: return nullptr;
    }
}

void CReceiveSnapshot::refresh() {
    const bool fast = m_fast->isChecked();
    if ((m_mode & kSnapshotModeCompressOnly) != 0) m_compress->setChecked(true);
    m_compress->setEnabled(!fast && (m_mode & kSnapshotModeCompressOnly) == 0);
    m_compressLabel->setEnabled(!fast);
    const bool quality = !fast && m_compress->isChecked();
    m_quality->setEnabled(quality);
    m_slider->setEnabled(quality);
    for (QLabel* label : m_qualityLabels) label->setEnabled(quality);
    m_res[0]->setEnabled(!fast);
    m_res[1]->setEnabled(!fast);
    m_res[2]->setEnabled(!fast && (m_mode & kSnapshotModeNoLarge) == 0);
}

void CReceiveSnapshot::accept() {
    const int quality = m_quality->text().toInt();
    if (quality < 1 || quality > 100) {
        // Stays open until the quality is one the site can use.
        m_quality->setFocus();
        m_quality->selectAll();
        return;
    }
    m_choice.resolution = m_res[0]->isChecked() ? 0 : m_res[2]->isChecked() ? 2 : 1;
    m_choice.quality = WORD(quality);
    m_choice.compression = m_compress->isChecked() ? 1 : 0;
    m_choice.fast = m_fast->isChecked() ? 1 : 0;
    WriteSnapshotChoice(m_choice);
    QDialog::accept();
}

void CReceiveSnapshot::done(int result) {
    m_closeTimer.stop();
    QDialog::done(result);
}

}  // namespace trennick
