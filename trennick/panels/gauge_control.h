#pragma once
// CGaugeControl: the progress gauge of the transfer panels and of the transfer
// status bar. A progress bar that remembers its position and a caption, answers
// its tool tip with the caption and the percentage, and paints a light grey
// background. User-interface thread only; never fails.

#include "platform/types.h"

#include <QProgressBar>
#include <cstddef>
#include <string>

namespace trennick {

// Characters a tool tip's text buffer holds, its terminator included.
inline constexpr std::size_t kTipTextChars = 80;
inline constexpr std::size_t kGaugeCaptionChars = 555;

class CGaugeControl : public QProgressBar {
public:
    explicit CGaugeControl(QWidget* owner = nullptr);

    // Places the gauge in its owner at the rectangle, hidden and disabled, at 0.
    void Create(QWidget* owner, const QRect& rect, int id);
    void ShowGauge();
    void HideGauge();
    void SetRange(SHORT low, SHORT high);
    // Keeps at most 555 characters of the caption.
    void SetCaption(const std::string& caption);
    // A position equal to the stored one (other than 0) changes nothing.
    void SetPos(LONG position);
    LONG GetPos() const { return m_position; }
    const std::string& Caption() const { return m_caption; }
    int Id() const { return m_id; }
    // "<caption> <position>%", cut to a buffer of `bufferChars` with its terminator.
    std::string GetTipText(std::size_t bufferChars = kTipTextChars) const;

protected:
    bool event(QEvent* event) override;

private:
    LONG m_position = 0;
    QWidget* m_owner = nullptr;
    int m_id = 0;
    std::string m_caption;
};

}  // namespace trennick
