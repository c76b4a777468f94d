// Kelvara's screens are real widgets: one QApplication, offscreen unless the
// caller chose a platform, made before any test runs. ctest runs each test case
// in a process of its own; run directly, all cases share one process, with one
// home and session bus (AppTestSession.h).
#include <QApplication>
#include <gtest/gtest.h>

#include "NSAlert.h"
#include "NSBundle.h"
#include "QtApplication.h"

namespace {

// Run in one process, a case must not see what the case before it left queued:
// its work still on the main queue, or the alerts it did not read.
class CaseBoundary : public ::testing::EmptyTestEventListener {
    void OnTestStart(const ::testing::TestInfo&) override
    {
        drainMainQueue();
        while (NSAlert::takeAskedForTesting()) {
        }
    }
};

}  // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    NSBundle::setMainBundlePathForTesting(QStringLiteral(KELVARA_APP_DIR));
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::UnitTest::GetInstance()->listeners().Append(new CaseBoundary);
    return RUN_ALL_TESTS();
}
