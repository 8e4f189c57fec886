// The snapshot dialog: what the stored settings and the site's capability
// make of the controls, what OK stores, and that an untouched dialog closes
// itself without changing the registry.

#include "common/kc_reg.h"
#include "tavicore/product_key.h"
#include "tavicore/ui/testing/ui_test_support.h"
#include "trennick/panels/receive_snapshot.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QCoreApplication>
#include <QLineEdit>
#include <QRadioButton>
#include <QSlider>

#include <chrono>
#include <thread>

using namespace trennick;

namespace {

void store(DWORD resolution, DWORD compression, DWORD quality, DWORD fast) {
    CKcReg reg = ProductKey("SnapShot");
    const DWORD values[] = {resolution, compression, quality, fast};
    const char* names[] = {"Snapshot Resolution", "JPEG Compresion", "JPEG Quality", "FastSnapShot"};
    for (int i = 0; i < 4; ++i) reg.SetDword("SnapShot", names[i], &values[i]);
}

bool checked(const CReceiveSnapshot& d, int id) { return static_cast<QAbstractButton*>(d.Control(id))->isChecked(); }
bool enabled(const CReceiveSnapshot& d, int id) { return d.Control(id)->isEnabled(); }

}  // namespace

TEST(ReceiveSnapshot, StoredSettingsAndCapabilityShapeTheControls) {
    struct Case {
        const char* what;
        DWORD resolution, compression, quality, fast, mode;
        int shownRadio;
        bool compressOn, compressEnabled, largeEnabled, qualityEnabled;
        int shownQuality;
    };
    const Case cases[] = {
        {"plain peer, stored as is", 2, 0, 55, 0, 0, kSnapRes2, false, true, true, false, 55},
        {"a quality of 0 reads 70", 0, 1, 0, 0, 0, kSnapRes0, true, true, true, true, 70},
        {"a quality of 150 reads 70", 1, 1, 150, 0, 0, kSnapRes1, true, true, true, true, 70},
        {"no large picture, compression forced", 2, 0, 40, 0, 3, kSnapRes1, true, false, false, true, 40},
        {"compression forced, large allowed", 2, 0, 40, 0, 1, kSnapRes2, true, false, true, true, 40},
        {"fast: everything else off", 1, 1, 80, 1, 0, kSnapRes1, true, false, false, false, 80},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        store(c.resolution, c.compression, c.quality, c.fast);
        CReceiveSnapshot dialog(nullptr, c.mode);
        EXPECT_TRUE(checked(dialog, c.shownRadio));
        EXPECT_EQ(checked(dialog, kSnapCompress), c.compressOn);
        EXPECT_EQ(enabled(dialog, kSnapCompress), c.compressEnabled);
        EXPECT_EQ(enabled(dialog, kSnapRes2), c.largeEnabled);
        EXPECT_EQ(enabled(dialog, kSnapQuality), c.qualityEnabled);
        EXPECT_EQ(enabled(dialog, kSnapSlider), c.qualityEnabled);
        EXPECT_EQ(static_cast<QSlider*>(dialog.Control(kSnapSlider))->value(), c.shownQuality);
        EXPECT_EQ(checked(dialog, kSnapFast), c.fast != 0);
        EXPECT_EQ(checked(dialog, kSnapRemote), c.fast == 0);
    }
}

TEST(ReceiveSnapshot, OkStoresTheChoiceAndABadQualityKeepsTheDialogOpen) {
    uitest::installLanguage();
    store(1, 1, 70, 0);
    CReceiveSnapshot dialog(nullptr, 0);
    dialog.show();
    static_cast<QRadioButton*>(dialog.Control(kSnapRes0))->setChecked(true);
    static_cast<QSlider*>(dialog.Control(kSnapSlider))->setValue(35);
    EXPECT_EQ(static_cast<QLineEdit*>(dialog.Control(kSnapQuality))->text(), "35");  // the slider writes the edit
    uitest::saveScreenshot(&dialog, "snapshot_request_dialog");
    static_cast<QLineEdit*>(dialog.Control(kSnapQuality))->setText("0");
    dialog.accept();
    EXPECT_TRUE(dialog.isVisible()) << "a quality of 0 is refused";
    EXPECT_EQ(ReadSnapshotChoice().quality, 70);
    static_cast<QLineEdit*>(dialog.Control(kSnapQuality))->setText("35");
    static_cast<QRadioButton*>(dialog.Control(kSnapFast))->setChecked(true);
    dialog.accept();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    const SnapshotChoice stored = ReadSnapshotChoice();
    EXPECT_EQ(stored.resolution, 0);
    EXPECT_EQ(stored.quality, 35);
    EXPECT_EQ(stored.compression, 1u);
    EXPECT_EQ(stored.fast, 1u);
}

TEST(ReceiveSnapshot, AnUntouchedDialogClosesItselfAndChangesNothing) {
    store(2, 0, 90, 0);
    CReceiveSnapshot dialog(nullptr, 0);
    dialog.show();
    EXPECT_TRUE(dialog.CloseTimer().isActive());
    EXPECT_EQ(dialog.CloseTimer().interval(), kSnapshotTimeoutMs);
    static_cast<QCheckBox*>(dialog.Control(kSnapCompress))->setChecked(true);  // changed, never confirmed
    dialog.CloseTimer().start(5);  // the 90 seconds, shortened
    const auto guard = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (dialog.isVisible() && std::chrono::steady_clock::now() < guard) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    EXPECT_FALSE(dialog.CloseTimer().isActive());
    const SnapshotChoice stored = ReadSnapshotChoice();
    EXPECT_EQ(stored.resolution, 2);
    EXPECT_EQ(stored.compression, 0u);
    EXPECT_EQ(stored.quality, 90);
}
