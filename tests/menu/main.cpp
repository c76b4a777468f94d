// Kelvara Menu's widgets are real: one QApplication, offscreen unless the
// caller chose a platform. The main bundle is the built Kelvara Menu inside
// Kelvara.app, so the settings behave as that program's. Each test case runs
// in a process of its own (ctest), with a home and session bus of its own.
#include <QApplication>
#include <gtest/gtest.h>

#include "NSBundle.h"

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    NSBundle::setMainBundlePathForTesting(QStringLiteral(KELVARA_APP_DIR "/Contents/Components/Kelvara Menu.app"));
    QApplication app(argc, argv);
    app.setQuitOnLastWindowClosed(false);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
