#pragma once
// The update framework's updater as this build has it: no update feed is
// configured, so a check finds nothing and downloads nothing. The settings are
// kept so the program's choices are honoured (no check runs while automatic
// checks are off).
class SUUpdater {
public:
    static SUUpdater& sharedUpdater();

    bool automaticallyChecksForUpdates() const { return m_checks; }
    void setAutomaticallyChecksForUpdates(bool checks) { m_checks = checks; }
    bool automaticallyDownloadsUpdates() const { return m_downloads; }
    void setAutomaticallyDownloadsUpdates(bool downloads) { m_downloads = downloads; }
    // A quiet check; without a feed it ends at once.
    void checkForUpdatesInBackground() { ++m_backgroundChecks; }
    int backgroundCheckCount() const { return m_backgroundChecks; }

private:
    bool m_checks = false;
    bool m_downloads = false;
    int m_backgroundChecks = 0;
};
