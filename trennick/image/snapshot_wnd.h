#pragma once
// CSnapshotWnd: the floating window that shows a still received from the
// connected site (or taken from the picture shown here): the picture, a text
// line with the date and time it arrived, and a button that saves it as a
// bitmap file elsewhere (the picture file is moved there). A save that could
// not be written is reported to the owner, never lost in silence.
//
// Thread: the user-interface thread. Failure: a picture file that cannot be
// read leaves the window empty; a failed save leaves the picture where it was.

#include "platform/types.h"

#include <QWidget>

#include <functional>
#include <string>

class CImageWnd;
class QLabel;
class QPushButton;

class CSnapshotWnd : public QWidget {
public:
    explicit CSnapshotWnd(QWidget* parent = nullptr);
    ~CSnapshotWnd() override;

    // Shows the bitmap file with its title and text line; FALSE when it cannot be read.
    BOOL ShowSnapshot(const std::string& bitmapFile, const std::string& title, const std::string& textLine);
    // Command 1234: asks where to save (the chooser) and moves the picture
    // file there. An empty answer or "*.*" does nothing.
    void OnSaveAsBitmap();
    // Moves the picture file to `target`; false with the reason on failure.
    bool SaveAs(const std::string& target, std::string& why);

    // Who picks the file name (default: a save-file dialog) and who hears of
    // a save that failed (default: a trace only).
    void SetPathChooser(std::function<std::string(const std::string& current)> chooser) {
        m_choose = std::move(chooser);
    }
    void SetFailureReporter(std::function<void(const std::string&)> report) { m_report = std::move(report); }

    const std::string& CurrentFile() const { return m_file; }
    std::string TextLine() const;
    CImageWnd* ImageWindow() const { return m_image; }

    static constexpr int kSaveCommand = 1234;

private:
    CImageWnd* m_image;
    QLabel* m_text;
    QPushButton* m_save;
    std::string m_file;
    std::function<std::string(const std::string&)> m_choose;
    std::function<void(const std::string&)> m_report;
};
