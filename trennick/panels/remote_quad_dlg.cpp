#include "trennick/panels/remote_quad_dlg.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QSpinBox>
#include <QVBoxLayout>

#include <algorithm>

namespace trennick {

CRemoteQuadDlg::CRemoteQuadDlg(QWidget* parent, const QuadDialogValues& values) : QDialog(parent), m_values(values) {
    setWindowTitle("Camera sequence");
    m_values.inCycle.resize(m_values.cameras.size(), false);
    m_values.maxSeconds = std::max(m_values.maxSeconds, m_values.minSeconds);
    auto* column = new QVBoxLayout(this);
    column->addWidget(new QLabel("Cameras", this));
    m_list = new QListWidget(this);
    for (std::size_t i = 0; i < m_values.cameras.size(); ++i) {
        auto* item = new QListWidgetItem(QString::fromLocal8Bit(m_values.cameras[i].c_str()), m_list);
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(m_values.inCycle[i] ? Qt::Checked : Qt::Unchecked);
    }
    column->addWidget(m_list);
    column->addWidget(new QLabel("Seconds between cameras", this));
    m_delay = new QSpinBox(this);
    m_delay->setRange(int(m_values.minSeconds), int(m_values.maxSeconds));
    m_delay->setValue(int(std::clamp(m_values.delaySeconds, m_values.minSeconds, m_values.maxSeconds)));
    column->addWidget(m_delay);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    column->addWidget(buttons);
}

void CRemoteQuadDlg::accept() {
    const int seconds = m_delay->value();
    if (seconds < int(m_values.minSeconds) || seconds > int(m_values.maxSeconds)) return;
    m_values.delaySeconds = DWORD(seconds);
    for (int i = 0; i < m_list->count(); ++i) {
        m_values.inCycle[std::size_t(i)] = m_list->item(i)->checkState() == Qt::Checked;
    }
    QDialog::accept();
}

}  // namespace trennick
