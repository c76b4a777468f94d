#pragma once
// Kelvara started as a person would start it, in a throwaway home on the test's
// own session bus, offscreen, with its start-up and link diagnostics on. Every
// program started in that home (Kelvara, its companions, copies waiting in line)
// is found through its environment and killed when the test ends.
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QThread>
#include <csignal>
#include <memory>
#include <vector>

#include "NSRunningApplication.h"
#include "PrivateBus.h"
#include "QtApplication.h"
#include "TestHome.h"

inline const QString kKelvaraProgram = QStringLiteral(KELVARA_APP_DIR "/Contents/MacOS/Kelvara");
inline const QString kHelperProgram =
    QStringLiteral(KELVARA_APP_DIR "/Contents/Components/Kelvara Helper.app/Contents/MacOS/Kelvara Helper");
inline const QString kMenuProgram =
    QStringLiteral(KELVARA_APP_DIR "/Contents/Components/Kelvara Menu.app/Contents/MacOS/Kelvara Menu");

// The processes whose HOME is the given folder and whose program is the given one (any, when empty).
inline QList<qint64> processesInHome(const QString& home, const QString& executable = {})
{
    QList<qint64> found;
    const QByteArray homeEntry = "HOME=" + home.toLocal8Bit();
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool isNumber = false;
        const qint64 pid = entry.toLongLong(&isNumber);
        if (!isNumber || pid == QCoreApplication::applicationPid())
            continue;
        QFile environ(QStringLiteral("/proc/%1/environ").arg(pid));
        if (!environ.open(QIODevice::ReadOnly) || !environ.readAll().split('\0').contains(homeEntry))
            continue;
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        // A zombie has ended already.
        if (stat.open(QIODevice::ReadOnly)) {
            const QByteArray line = stat.readAll();
            if (line.mid(line.lastIndexOf(')') + 2, 1) == "Z")
                continue;
        }
        if (executable.isEmpty() || QFileInfo(QStringLiteral("/proc/%1/exe").arg(pid)).symLinkTarget() == executable)
            found.append(pid);
    }
    return found;
}

class KelvaraInHome {
public:
    KelvaraInHome()
    {
        testApplication();
        // Every per-user folder under the throwaway home.
        for (const char* folder : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_STATE_HOME", "XDG_CACHE_HOME"})
            m_env.remove(QString::fromLatin1(folder));
        m_env.insert("HOME", home.path());
        m_env.insert("QT_QPA_PLATFORM", "offscreen");
        m_env.insert("QT_LOGGING_RULES", "kelvara.*.debug=true");
        const QString runtime = home.path() + "/run";
        QDir().mkpath(runtime);
        QFile::setPermissions(runtime, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        m_env.insert("XDG_RUNTIME_DIR", runtime);
    }
    ~KelvaraInHome() { killAll(); }
    KelvaraInHome(const KelvaraInHome&) = delete;
    KelvaraInHome& operator=(const KelvaraInHome&) = delete;

    QProcessEnvironment environment() const { return m_env; }
    // For what starts after: another display, for instance.
    void setEnvironment(const QString& name, const QString& value) { m_env.insert(name, value); }

    // Starts Kelvara (or another program) with the arguments; its standard error is read by output().
    QProcess& start(const QStringList& arguments = {}, const QString& program = kKelvaraProgram)
    {
        auto process = std::make_unique<QProcess>();
        process->setProcessEnvironment(m_env);
        process->start(program, arguments);
        process->waitForStarted(5000);
        m_kelvaras.push_back(std::move(process));
        m_output.emplace_back();
        return *m_kelvaras.back();
    }

    // Everything the Kelvara started i-th has written to standard error so far.
    QByteArray output(size_t i)
    {
        m_output[i] += m_kelvaras[i]->readAllStandardError();
        return m_output[i];
    }

    // Waits (30 s at most: a start on a busy machine takes seconds) until that Kelvara has written every line.
    bool waitForLines(size_t i, const QList<QByteArray>& lines, int timeoutMs = 30000)
    {
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < timeoutMs) {
            const QByteArray text = output(i);
            if (std::all_of(lines.begin(), lines.end(), [&](const QByteArray& line) { return text.contains(line); }))
                return true;
            m_kelvaras[i]->waitForReadyRead(50);
        }
        return false;
    }

    // Kelvara's start has run its delayed checks of both companions.
    bool waitForCompanionChecks(size_t i)
    {
        return waitForLines(i, {"kelvara.startup: com.orvane.kelvara.helper: ", "kelvara.startup: com.orvane.kelvara.menu: "});
    }

    // SIGTERM to that Kelvara; true when it ended with status 0.
    bool stop(size_t i)
    {
        QProcess& process = *m_kelvaras[i];
        if (process.state() != QProcess::NotRunning)
            ::kill(static_cast<pid_t>(process.processId()), SIGTERM);
        return process.waitForFinished(30000) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    }

    // Waits until exactly one of each program runs (copies in line leave within 5 s),
    // and, given its bundle identifier, until that one is the only one on the bus: a
    // copy just started has not asked for its name yet, one leaving has let it go.
    bool waitForExactlyOne(const QString& executable, const QString& bundleIdentifier = {}, int timeoutMs = 30000) const
    {
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < timeoutMs) {
            const QList<qint64> running = processesInHome(home.path(), executable);
            if (running.size() == 1 && (bundleIdentifier.isEmpty() || isOnlyOneOnTheBus(bundleIdentifier, running.first())))
                return true;
            QThread::msleep(50);
        }
        return false;
    }

    QString agentFile(const QString& label) const { return home.path() + "/Library/LaunchAgents/" + label + ".plist"; }
    QString autostartFile(const QString& label) const { return home.path() + "/.config/autostart/" + label + ".desktop"; }

    void killAll()
    {
        for (int round = 0; round < 10; ++round) {
            const QList<qint64> left = processesInHome(home.path());
            if (left.isEmpty())
                break;
            for (const qint64 pid : left)
                ::kill(static_cast<pid_t>(pid), SIGKILL);
            QThread::msleep(50);
        }
        for (auto& process : m_kelvaras)
            process->waitForFinished(2000);
    }

    // Made first, so everything in this test uses its bus.
    const PrivateBus bus;
    const TestHome home;

private:
    static bool isOnlyOneOnTheBus(const QString& bundleIdentifier, qint64 pid)
    {
        const QList<NSRunningApplication> listed = NSRunningApplication::runningApplicationsWithBundleIdentifier(bundleIdentifier);
        return listed.size() == 1 && listed.first().processIdentifier() == pid;
    }

    QProcessEnvironment m_env = QProcessEnvironment::systemEnvironment();
    std::vector<std::unique_ptr<QProcess>> m_kelvaras;
    std::vector<QByteArray> m_output;
};
