// Kelvara Menu's widgets are real: one QApplication, offscreen unless the
// caller chose a platform. The main bundle is the built Kelvara Menu inside
// Kelvara.app, so the settings behave as that program's. The process has a
// home and a session bus of its own, made before anything opens the store or
// the bus; ctest runs each case in a process of its own, and the cases also
// pass together in one (each fixture starts afresh, see FreshState.h).
#include <QApplication>
#include <gtest/gtest.h>

#include "NSBundle.h"
#include "PrivateBus.h"
#include "TestHome.h"

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    NSBundle::setMainBundlePathForTesting(QStringLiteral(KELVARA_APP_DIR "/Contents/Components/Kelvara Menu.app"));
    QApplication app(argc, argv);
    app.setQuitOnLastWindowClosed(false);
    TestHome home;
    PrivateBus bus;
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
