#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "ApplesmcBackend.h"
#include "SMCServices.h"
#include "TestHome.h"
#include "VirtualSMC.h"

namespace {

using namespace smc;
using Bytes = std::vector<uint8_t>;

struct ToolRun {
    int exitCode = -1;
    QByteArray out, err;
};

ToolRun runTool(const TestHome& home, const QStringList& args)
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", home.path());
    process.setProcessEnvironment(env);
    process.start(QStringLiteral(KELVARA_SMC_TOOL), args);
    ToolRun run;
    if (!process.waitForFinished(10000) || process.exitStatus() != QProcess::NormalExit) {
        ADD_FAILURE() << "the tool did not finish normally: " << process.errorString().toStdString();
        return run;
    }
    run.exitCode = process.exitCode();
    run.out = process.readAllStandardOutput();
    run.err = process.readAllStandardError();
    return run;
}

std::string fileText(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

Bytes readBytes(VirtualSMC& smc, const std::string& key)
{
    SMCKeyInfo info;
    if (smc.keyInfo(keyCode(key), info) != kSMCSuccess)
        return {};
    SMCBytes out{};
    EXPECT_EQ(smc.readKey(keyCode(key), info.dataSize, out), kSMCSuccess) << key;
    return Bytes(out.begin(), out.begin() + info.dataSize);
}

void expectOneErrorLine(const ToolRun& run)
{
    EXPECT_TRUE(run.out.isEmpty()) << run.out.toStdString();
    EXPECT_EQ(run.err.count('\n'), 1) << run.err.toStdString();
    EXPECT_TRUE(run.err.endsWith('\n')) << run.err.toStdString();
}

class KelvaraSMCToolTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        // With the kernel driver present the tool would write to the real fans.
        if (ApplesmcBackend::isPresent(kApplesmcDevicePath))
            GTEST_SKIP() << "a real SMC driver is present";
    }

    TestHome home;
};

TEST_F(KelvaraSMCToolTest, MalformedArgumentsExitTwoWithOneLineAndTouchNothing)
{
    const QString tooLong(66, QChar('a'));
    const std::vector<std::pair<const char*, QStringList>> cases{
        {"no arguments", {}},
        {"key only", {"-k", "F0Md"}},
        {"missing value", {"-k", "F0Md", "-w"}},
        {"swapped order", {"-w", "01", "-k", "F0Md"}},
        {"wrong key flag", {"-K", "F0Md", "-w", "01"}},
        {"long flag", {"--key", "F0Md", "-w", "01"}},
        {"wrong write flag", {"-k", "F0Md", "-r", "01"}},
        {"extra argument", {"-k", "F0Md", "-w", "01", "02"}},
        {"three-character key", {"-k", "F0M", "-w", "01"}},
        {"five-character key", {"-k", "F0Mdx", "-w", "01"}},
        {"empty key", {"-k", "", "-w", "01"}},
        {"tab in key", {"-k", "F0\tM", "-w", "01"}},
        {"escape in key", {"-k", QString("F0M") + QChar(0x1B), "-w", "01"}},
        {"delete in key", {"-k", QString("F0M") + QChar(0x7F), "-w", "01"}},
        {"non-ASCII key, four bytes", {"-k", QString("F0") + QChar(0xE9), "-w", "01"}},
        {"odd digit count", {"-k", "F0Md", "-w", "012"}},
        {"single digit", {"-k", "F0Md", "-w", "1"}},
        {"non-hex digits", {"-k", "F0Md", "-w", "0g"}},
        {"hex prefix", {"-k", "F0Md", "-w", "0x01"}},
        {"space in value", {"-k", "F0Tg", "-w", "00 0fa44"}},
        {"empty value", {"-k", "F0Md", "-w", ""}},
        {"33 bytes", {"-k", "F0Md", "-w", tooLong}},
    };
    const std::filesystem::path stateDir = std::filesystem::path(home.path().toStdString()) / ".local";
    for (const auto& [name, args] : cases) {
        SCOPED_TRACE(name);
        const ToolRun run = runTool(home, args);
        EXPECT_EQ(run.exitCode, 2);
        expectOneErrorLine(run);
        EXPECT_FALSE(std::filesystem::exists(stateDir));
    }
}

TEST_F(KelvaraSMCToolTest, ForcedModeAndTargetReachAnotherProgram)
{
    VirtualSMC other{home.virtualSMCState()};
    ASSERT_TRUE(other.setLoad(0.2));
    EXPECT_EQ(readBytes(other, "F0Md"), Bytes{0});

    ToolRun run = runTool(home, {"-k", "F0Md", "-w", "01"});
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_TRUE(run.out.isEmpty());
    EXPECT_TRUE(run.err.isEmpty());
    EXPECT_EQ(readBytes(other, "F0Md"), Bytes{1});

    run = runTool(home, {"-k", "F0Tg", "-w", "0000fa44"});
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_EQ(readBytes(other, "F0Tg"), (Bytes{0x00, 0x00, 0xFA, 0x44}));
    EXPECT_DOUBLE_EQ(other.fanTarget(0), 2000);
    EXPECT_DOUBLE_EQ(other.load(), 0.2) << "the tool must keep what others wrote";
    EXPECT_EQ(readBytes(other, "F1Md"), Bytes{0});

    run = runTool(home, {"-k", "F0Tg", "-w", "00803B45"});  // 3000.0f, upper-case digits
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_DOUBLE_EQ(other.fanTarget(0), 3000);
}

TEST_F(KelvaraSMCToolTest, WellFormedWritesTheSMCRefusesExitOneAndChangeNothing)
{
    VirtualSMC other{home.virtualSMCState()};
    ASSERT_TRUE(other.setLoad(0.5));
    const std::string before = fileText(home.virtualSMCState());

    const std::vector<std::pair<const char*, QStringList>> cases{
        {"key the SMC lacks", {"-k", "ZZZZ", "-w", "01"}},
        {"key with a space this profile lacks", {"-k", "FS! ", "-w", "0001"}},
        {"32 bytes to a missing key", {"-k", "ZZZZ", "-w", QString(64, QChar('f'))}},
        {"value too long for the key", {"-k", "F0Md", "-w", "0101"}},
        {"value too short for the key", {"-k", "F0Tg", "-w", "fa44"}},
        {"read-only key", {"-k", "TC0P", "-w", "2a80"}},
        {"read-only fan key", {"-k", "F0Ac", "-w", "0000fa44"}},
    };
    for (const auto& [name, args] : cases) {
        SCOPED_TRACE(name);
        const ToolRun run = runTool(home, args);
        EXPECT_EQ(run.exitCode, 1);
        expectOneErrorLine(run);
        EXPECT_EQ(fileText(home.virtualSMCState()), before);
    }
    EXPECT_EQ(readBytes(other, "F0Md"), Bytes{0});
}

TEST_F(KelvaraSMCToolTest, KeysWithASpaceAreAccepted)
{
    VirtualSMC other{home.virtualSMCState()};
    ASSERT_TRUE(other.setProfile("MacBookPro11,3"));
    const ToolRun run = runTool(home, {"-k", "FS! ", "-w", "0003"});
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_EQ(readBytes(other, "FS! "), (Bytes{0x00, 0x03}));
}

TEST_F(KelvaraSMCToolTest, InstallModePutsItselfInPlaceForRootOnly)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "installing gives files to root";
    // Every user may pass through, so another user can start the installed copy.
    ASSERT_EQ(::chmod(home.path().toLocal8Bit().constData(), 0755), 0);
    const QString installed = home.path() + "/Kelvara SMC";
    const QString group = QString::fromLocal8Bit(getgrgid(0)->gr_name);
    const ToolRun run = runTool(home, {"--install", installed, group});
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    struct stat st;
    ASSERT_EQ(::lstat(QFile::encodeName(installed).constData(), &st), 0);
    EXPECT_EQ(st.st_uid, 0u);
    EXPECT_EQ(st.st_gid, 0u);
    EXPECT_EQ(st.st_mode & 07777, 06555u);
    EXPECT_EQ(fileText(installed.toStdString()), fileText(KELVARA_SMC_TOOL));

    // That copy runs as root for anyone: it must not install anything for them.
    const QString elsewhere = home.path() + "/elsewhere";
    QProcess process;
    process.start("/usr/bin/setpriv", {"--reuid=65534", "--regid=65534", "--clear-groups", installed, "--install",
                                       elsewhere, group});
    ASSERT_TRUE(process.waitForFinished(10000));
    EXPECT_EQ(process.exitCode(), 2);
    EXPECT_TRUE(process.readAllStandardError().contains("only root"));
    EXPECT_FALSE(QFile::exists(elsewhere));
}

}  // namespace
