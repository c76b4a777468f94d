#pragma once
// A session bus of the test's own, so that notices of tests running at the same
// time never reach each other. Make it before anything in the process uses the bus.
// It starts no services, whatever the machine has installed.
#include <QProcess>
#include <QtGlobal>
#include <csignal>
#include <sys/prctl.h>

class PrivateBus {
public:
    PrivateBus()
    {
        m_daemon.setStandardErrorFile(QProcess::nullDevice());
        // Gone with the test process however that ends: a crash or a timeout's kill runs no destructor.
        m_daemon.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
        m_daemon.start(QStringLiteral("dbus-daemon"),
                       {QStringLiteral("--config-file=" KELVARA_TEST_BUS_CONFIG), QStringLiteral("--nofork"), QStringLiteral("--print-address")});
        if (m_daemon.waitForStarted(5000) && m_daemon.waitForReadyRead(5000))
            qputenv("DBUS_SESSION_BUS_ADDRESS", m_daemon.readLine().trimmed());
    }
    ~PrivateBus()
    {
        m_daemon.terminate();
        m_daemon.waitForFinished(2000);
    }
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

private:
    QProcess m_daemon;
};
