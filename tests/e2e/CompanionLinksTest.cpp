// Only Kelvara takes `kelvara://` links. Its companions refuse them over the
// bus, so a flood of large ones leaves them as they were.
#include <QFile>
#include <gtest/gtest.h>

#include "KelvaraInHome.h"
#include "NSRunningApplication.h"

namespace {

qint64 residentKilobytes(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    return -1;
}

struct Companion {
    const char* identifier;
    const QString* program;
};

class CompanionLinksTest : public ::testing::TestWithParam<Companion> {};

TEST_P(CompanionLinksTest, RefusesLinksAndKeepsItsMemory)
{
    KelvaraInHome kelvara;
    QProcess& program = kelvara.start({}, *GetParam().program);
    const QString identifier = QString::fromLatin1(GetParam().identifier);
    QList<NSRunningApplication> running;
    ASSERT_TRUE(waitUntil(
        [&] {
            running = NSRunningApplication::runningApplicationsWithBundleIdentifier(identifier);
            return !running.isEmpty();
        },
        10000))
        << kelvara.output(0).constData();
    ASSERT_EQ(running.first().processIdentifier(), program.processId());

    const QString link = QStringLiteral("kelvara://fan_rule/1?") + QString(100 * 1024, QLatin1Char('a'));
    // The first few settle the bus buffers; what counts is what the rest add:
    // 6 MB were they kept, a few hundred kB at most when they are not.
    int taken = 0;
    for (int i = 0; i < 10; ++i)
        taken += running.first().openURL(link);
    const qint64 before = residentKilobytes(program.processId());
    for (int i = 0; i < 60; ++i)
        taken += running.first().openURL(link);
    const qint64 after = residentKilobytes(program.processId());

    EXPECT_EQ(taken, 0);
    ASSERT_GT(before, 0);
    EXPECT_LT(after - before, 3 * 1024) << before << " kB before, " << after << " kB after";
    // Still answering.
    EXPECT_TRUE(running.first().activateAndWait());
}

INSTANTIATE_TEST_SUITE_P(Programs, CompanionLinksTest,
                         ::testing::Values(Companion{"com.orvane.kelvara.helper", &kHelperProgram},
                                           Companion{"com.orvane.kelvara.menu", &kMenuProgram}),
                         [](const auto& info) {
                             return std::string(info.param.identifier).substr(19) == "helper" ? "Helper" : "Menu";
                         });

}  // namespace
