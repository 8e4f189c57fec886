#include "tavicore/ui/ui_resources.h"

#include "tavicore/ui/testing/ui_test_support.h"

TEST(LanguageLibrary, MissingLibraryOrExportIsRefusedAndLeavesNothingInstalled) {
    struct Case {
        const char* file;
        int result;
    } cases[] = {
        {"NOSUCHLANG.DLL", 0},
        {"velmoor_platform.dll", 0},  // a library, but without lngSetResourceDLL
        {"GLOSSEL.DLL", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        EXPECT_EQ(UiInstallLanguageLibrary(c.file), c.result);
        EXPECT_EQ(UiIsLanguageInstalled(), c.result != 0);
        EXPECT_EQ(UiString(59406).empty(), c.result == 0);
    }
    UiFreeLanguageLibrary();
    EXPECT_TRUE(UiString(10000).empty());
    EXPECT_EQ(UiString(10000, "fallback"), "fallback");
    EXPECT_TRUE(UiBitmap(129).isNull());
}

TEST(LanguageLibrary, ServesStringsDialogTextsAndBitmaps) {
    uitest::installLanguage();
    EXPECT_EQ(UiString(65120), "This is not allowed for your user.");
    EXPECT_TRUE(UiString(1).empty());
    EXPECT_EQ(UiDialogText(103, 1), "OK");
    EXPECT_EQ(UiDialogText(103, 4242, "none"), "none");
    // The toolbar strip holds at least 24 images of 16 x 15.
    const QPixmap strip = UiBitmap(129);
    EXPECT_GE(strip.width(), 24 * 16);
    EXPECT_EQ(strip.height(), 15);
    // Every bitmap the panels and dialogs name is there.
    for (UINT id : {114u, 115u, 116u, 167u, 168u, 170u, 171u, 172u, 174u, 324u, 366u, 367u, 368u, 369u, 370u,
                    371u, 372u, 373u, 374u, 375u, 376u, 377u, 379u, 388u, 389u, 397u, 399u, 400u, 463u, 464u,
                    465u, 493u, 496u, 497u, 502u}) {
        EXPECT_FALSE(UiBitmap(id).isNull()) << id;
    }
    EXPECT_TRUE(UiBitmap(398).isNull());  // the frame-rate meter has no tenth bitmap
    const QImage masked = UiMaskedBitmap(171).toImage();
    EXPECT_EQ(qAlpha(masked.pixel(0, 0)), 0);  // the magenta corner is transparent
}

TEST(LanguageLibrary, LengthsTheLibraryReportsAreKeptToWhatItCopied) {
    // The library copies "short" but reports a length beyond the room it got,
    // and a bitmap larger than it holds.
    ASSERT_EQ(UiInstallLanguageLibrary("OVERLONG_LANGUAGE.DLL"), 1);
    EXPECT_EQ(UiString(59406), "short");
    EXPECT_EQ(UiDialogText(103, 1), "short");
    EXPECT_TRUE(UiBitmap(129).isNull());
    UiFreeLanguageLibrary();
}
