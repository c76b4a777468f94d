#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "NSBundle.h"
#include "NSWorkspace.h"

namespace {

const QString kApp = QStringLiteral(KELVARA_APP_DIR);
const QString kHelperBundle = kApp + "/Contents/Components/Kelvara Helper.app";
const QString kMenuBundle = kApp + "/Contents/Components/Kelvara Menu.app";

class WorkspaceTest : public ::testing::Test {
protected:
    void TearDown() override { NSBundle::setMainBundlePathForTesting({}); }
};

TEST_F(WorkspaceTest, EachProgramFindsAllThreeInsideTheEnclosingApplication)
{
    auto& workspace = NSWorkspace::sharedWorkspace();
    for (const QString& bundle : {kApp, kHelperBundle, kMenuBundle}) {
        SCOPED_TRACE(bundle.toStdString());
        NSBundle::setMainBundlePathForTesting(bundle);
        const QString kelvara = workspace.executablePathForBundleIdentifier("com.orvane.kelvara");
        const QString helper = workspace.executablePathForBundleIdentifier("com.orvane.kelvara.helper");
        const QString menu = workspace.executablePathForBundleIdentifier("com.orvane.kelvara.menu");
        EXPECT_EQ(kelvara, kApp + "/Contents/MacOS/Kelvara");
        EXPECT_EQ(helper, kHelperBundle + "/Contents/MacOS/Kelvara Helper");
        EXPECT_EQ(menu, kMenuBundle + "/Contents/MacOS/Kelvara Menu");
        for (const QString& path : {kelvara, helper, menu})
            EXPECT_TRUE(QFileInfo(path).isExecutable()) << path.toStdString();
        EXPECT_EQ(workspace.executablePathForBundleIdentifier("com.orvane.other"), QString());
        EXPECT_EQ(workspace.executablePathForBundleIdentifier(""), QString());
    }
}

TEST_F(WorkspaceTest, NothingIsFoundOrLaunchedOutsideABundleOrFromUnusableFiles)
{
    const QTemporaryDir dir;
    NSBundle::setMainBundlePathForTesting(dir.path());
    auto& workspace = NSWorkspace::sharedWorkspace();
    EXPECT_EQ(workspace.executablePathForBundleIdentifier("com.orvane.kelvara.helper"), QString());
    EXPECT_FALSE(workspace.launchApplicationWithBundleIdentifier("com.orvane.kelvara.helper"));

    QFile plain(dir.filePath("not-executable"));
    ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
    plain.write("#!/bin/true\n");
    plain.close();
    plain.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    EXPECT_FALSE(workspace.launchApplicationAtPath(plain.fileName()));
    EXPECT_FALSE(workspace.launchApplicationAtPath(dir.filePath("missing")));
    // A folder is executable but is no program.
    EXPECT_FALSE(workspace.launchApplicationAtPath(dir.path()));
}

}  // namespace
