#pragma once
// Points HOME at a fresh temporary folder for the life of a test, so the
// virtual SMC, the container and every other per-user file are the test's own.
#include <QByteArray>
#include <QString>
#include <QTemporaryDir>
#include <cstdlib>

class TestHome {
public:
    TestHome()
        : m_previous(qgetenv("HOME"))
    {
        qputenv("HOME", m_dir.path().toLocal8Bit());
    }
    ~TestHome()
    {
        qputenv("HOME", m_previous);
    }
    TestHome(const TestHome&) = delete;
    TestHome& operator=(const TestHome&) = delete;

    QString path() const { return m_dir.path(); }
    std::string virtualSMCState() const { return (m_dir.path() + "/.local/state/kelvara/virtual-smc").toStdString(); }

private:
    QByteArray m_previous;
    QTemporaryDir m_dir;
};
