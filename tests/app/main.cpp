// Kelvara's screens are real widgets: one QApplication, offscreen unless the
// caller chose a platform, made before any test runs. Each test case runs in a
// process of its own (ctest), with a home and session bus of its own.
#include <QApplication>
#include <gtest/gtest.h>

#include "NSBundle.h"

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    NSBundle::setMainBundlePathForTesting(QStringLiteral(KELVARA_APP_DIR));
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
