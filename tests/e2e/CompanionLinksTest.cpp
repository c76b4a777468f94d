// Only Kelvara takes `kelvara://` links. Its companions refuse them over the
// bus, so a flood of large ones leaves them as they were.
#include <QFile>
#include <gtest/gtest.h>

#include "KelvaraInHome.h"
#include "NSRunningApplication.h"
#include "ProcessMemory.h"

namespace {

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
    const qint64 before = processKilobytes(program.processId(), "VmRSS");
    for (int i = 0; i < 60; ++i)
        taken += running.first().openURL(link);
    const qint64 after = processKilobytes(program.processId(), "VmRSS");

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
