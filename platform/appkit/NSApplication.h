#pragma once
// The running program itself, for what it does to itself: come to the front, quit.
class NSApplication {
public:
    static NSApplication& sharedApplication();

    // Raises and activates the program's shown windows; a program without
    // windows has nothing to raise.
    void activateIgnoringOtherApps(bool flag);
    // Ends the event loop from the event loop, so the current work finishes first.
    void terminate();
};
