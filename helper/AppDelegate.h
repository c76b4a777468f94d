#pragma once
// Kelvara Helper's start-up.

class AppDelegate {
public:
    AppDelegate();
    void applicationDidFinishLaunching();
};
