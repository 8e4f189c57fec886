#pragma once
// What the TCP link asks of the main frame besides its owner window's
// messages: the connection window and the news that a link dropped. The main
// frame implements it; tests record the calls. Called on the link's thread
// (the main frame's).

namespace trennick {

class InetFrameHooks {
public:
    virtual ~InetFrameHooks() = default;
    // An incoming call was accepted: show the connection window.
    virtual void showConnectionWindow() {}
    // Listening for calls that this station did not place: hide it.
    virtual void hideConnectionWindow() {}
    // The read pass failed and the link is gone.
    virtual void linkDropped() {}
};

}  // namespace trennick
