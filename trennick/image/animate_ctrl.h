#pragma once
// CAnimateCtrl: the animation control that plays a silent AVI clip
// (CAviClip) in its place, centred, on a timer at the clip's frame period.
// Open loads a clip; Play runs frames from..to (-1: the last) a number of
// times (-1: for ever); Stop holds the frame shown; Close lets the clip go.
// Without a clip it is a plain label: its text shows, and comes back when
// the clip is closed.
//
// Thread: the user-interface thread. Failure: Open returns false with the
// reason and the control keeps no clip; nothing throws.

#include "trennick/image/avi_clip.h"

#include <QLabel>
#include <QTimer>

#include <string>

class CAnimateCtrl : public QLabel {
public:
    explicit CAnimateCtrl(QWidget* parent = nullptr);

    bool Open(const std::string& path, std::string* why = nullptr);
    void Close();
    bool Play(int from, int to, int repeat);
    void Stop();

    bool IsOpen() const { return m_clip.IsOpen(); }
    bool IsPlaying() const { return m_timer.isActive(); }
    int CurrentFrame() const { return m_frame; }
    // Frames shown since the clip was opened.
    DWORD FramesShown() const { return m_shown; }
    const CAviClip& Clip() const { return m_clip; }

private:
    void step();
    void showFrame(int index);

    CAviClip m_clip;
    QTimer m_timer;
    int m_from = 0;
    int m_to = 0;
    int m_repeat = 0;  // passes left; -1 for ever
    int m_frame = -1;
    DWORD m_shown = 0;
    bool m_showsClip = false;
    QString m_notice;  // the label's text while no clip shows
};
