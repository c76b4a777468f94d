#pragma once
// The real Kelvara Helper in a temporary home on a session bus of the test's
// own, against the virtual SMC with frozen readings, over a catalogue that the
// core built in this process. The test reads the same store and hears the
// helper's notices.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <csignal>
#include <memory>

#include "KLCoreDataHelper.h"
#include "KLDataManager.h"
#include "NSBundle.h"
#include "NSDistributedNotificationCenter.h"
#include "PrivateBus.h"
#include "ProgramBusName.h"
#include "QtApplication.h"
#include "TestHome.h"
#include "VirtualSMC.h"

inline const char* kHelperExecutable =
    KELVARA_APP_DIR "/Contents/Components/Kelvara Helper.app/Contents/MacOS/Kelvara Helper";

class HelperProcess {
public:
    // Freezes the simulated Mac's clock and load, so readings only change when a test sets them.
    HelperProcess()
    {
        testApplication();
        NSBundle::setMainBundlePathForTesting(KELVARA_APP_DIR);
        smc::VirtualSMC smc;
        smc.freezeClock(1.8e9);
        smc.setLoad(0.5);
    }
    ~HelperProcess()
    {
        NSDistributedNotificationCenter::defaultCenter().removeObserver(this);
        stop();
        NSBundle::setMainBundlePathForTesting({});
    }
    HelperProcess(const HelperProcess&) = delete;
    HelperProcess& operator=(const HelperProcess&) = delete;

    // The catalogue, built and saved by the core as the main program does at its start.
    void buildCatalogue()
    {
        KLDataManager::sharedInstance().setupDatabase();
        drainMainQueue();
    }

    // The test stands in for Kelvara, so the helper takes its notices.
    void start()
    {
        ownProgramBusName(QStringLiteral("com.orvane.kelvara"));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", home.path());
        const QString runtime = home.path() + "/run";
        QDir().mkpath(runtime);
        QFile::setPermissions(runtime, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        env.insert("XDG_RUNTIME_DIR", runtime);
        process.setProcessEnvironment(env);
        process.start(QString::fromUtf8(kHelperExecutable), {});
        process.waitForStarted(5000);
    }

    // SIGTERM and wait; true when the helper ended normally with status 0.
    bool stop()
    {
        if (process.state() == QProcess::NotRunning)
            return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
        ::kill(static_cast<pid_t>(process.processId()), SIGTERM);
        return process.waitForFinished(5000) && process.exitStatus() == QProcess::NormalExit &&
               process.exitCode() == 0;
    }

    // Counts the helper's poll notices as they reach this process.
    int ticks = 0;
    void countTicks()
    {
        NSDistributedNotificationCenter::defaultCenter().addObserver(
            this, QString::fromLatin1(KLKelvaraTempDidChangeNotification), [this](const NSNotification&) { ++ticks; });
    }
    bool waitForTicks(int count, int timeoutMs = 30000)
    {
        return waitUntil([&] { return ticks >= count; }, timeoutMs);
    }

    PrivateBus bus;  // first: everything after it uses this bus
    TestHome home;
    QProcess process;
};
