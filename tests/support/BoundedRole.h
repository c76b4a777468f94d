#pragma once
// Runs this test binary again in one role: a global test environment that sees
// its variable, does its work and exits before any test. The child gets a time
// limit and an address-space limit, so code that would hang or eat memory fails
// the test instead of stalling or starving the machine. A role ends with
// `exitWithPeak()`, which tells the parent the child's peak resident memory.
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <fcntl.h>
#include <filesystem>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

struct RoleRun {
    bool finished = false;  // false: still running at the time limit, and killed
    int exitCode = -1;      // -1 when it crashed
    long peakKiB = -1;      // as the role reported it
    std::string said;       // its standard error
};

inline RoleRun runRole(const QString& variable, const QString& value, int timeoutMs = 20000, int memoryMiB = 2048)
{
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(variable, value);
    child.setProcessEnvironment(env);
    child.setChildProcessModifier([memoryMiB] {
        const rlimit limit{rlim_t(memoryMiB) << 20, rlim_t(memoryMiB) << 20};
        ::setrlimit(RLIMIT_AS, &limit);
    });
    child.start(QFile::symLinkTarget("/proc/self/exe"), {});
    RoleRun run;
    if (!child.waitForStarted(10000))
        return run;
    run.finished = child.waitForFinished(timeoutMs);
    if (!run.finished) {
        child.kill();
        child.waitForFinished(10000);
    }
    if (run.finished && child.exitStatus() == QProcess::NormalExit)
        run.exitCode = child.exitCode();
    run.said = child.readAllStandardError().toStdString();
    const QByteArray out = child.readAllStandardOutput();
    const qsizetype at = out.indexOf("peak ");
    if (at >= 0)
        run.peakKiB = out.mid(at + 5).split('\n').first().toLong();
    return run;
}

// Ends a role: "peak <VmHWM in KiB>" on standard output, exit status 0.
[[noreturn]] inline void exitWithPeak()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0)
            std::printf("peak %ld\n", std::strtol(line.c_str() + 6, nullptr, 10));
    std::fflush(stdout);
    std::fflush(stderr);
    std::_Exit(0);
}

// What a local program can put in place of a file of ours.
inline const char* const kHostileShapes[] = {"a link to /dev/zero", "a pipe", "a 400 MB file"};

inline bool layHostile(const std::string& path, const std::string& shape)
{
    std::error_code error;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), error);
    if (shape == kHostileShapes[0])
        return ::symlink("/dev/zero", path.c_str()) == 0;
    if (shape == kHostileShapes[1])
        return ::mkfifo(path.c_str(), 0600) == 0;
    // Sparse: it costs no disk, only whoever reads it.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
    const bool made = fd >= 0 && ::ftruncate(fd, 400LL << 20) == 0;
    if (fd >= 0)
        ::close(fd);
    return made;
}

// The names "<path>.damaged-*" beside `path`.
inline int setAsideCount(const std::string& path)
{
    const std::filesystem::path file(path);
    const std::string prefix = file.filename().string() + ".damaged-";
    int count = 0;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(file.parent_path(), error))
        count += entry.path().filename().string().rfind(prefix, 0) == 0;
    return count;
}

// Lays `shape` at `path`, runs the role and checks that it ended in time, within
// 100 MB, and set the thing aside once with one line, leaving the path free.
inline void expectSetAsideOnce(const std::string& path, const char* shape, const QString& variable, const QString& value)
{
    std::filesystem::remove(path);
    ASSERT_TRUE(layHostile(path, shape));
    const int before = setAsideCount(path);
    const RoleRun run = runRole(variable, value);
    ASSERT_TRUE(run.finished) << "still reading at the time limit";
    EXPECT_EQ(run.exitCode, 0) << run.said;
    EXPECT_GT(run.peakKiB, 0);
    EXPECT_LT(run.peakKiB, 100 * 1024);
    EXPECT_EQ(std::count(run.said.begin(), run.said.end(), '\n'), 1) << run.said;
    EXPECT_NE(run.said.find("it was kept as"), std::string::npos) << run.said;
    EXPECT_EQ(setAsideCount(path), before + 1);
}
