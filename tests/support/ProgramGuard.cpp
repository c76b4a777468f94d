// Compiled into every test executable: no program of the build that a test
// started, directly or through the code under test (a companion launched
// detached, a job started at load), outlives that test. The test process
// marks its environment, which every program it starts inherits; after each
// test, and again when the process ends, every program of the build that
// carries the mark and does not end by itself within a second is asked to stop
// (SIGTERM), waited for, and killed if it will not go. A program ended this way
// is named on standard error.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr const char* kMarkName = "KELVARA_TEST_OWNER";

std::string& mark()
{
    static std::string value;
    return value;
}

std::string readFile(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

struct ProcessState {
    unsigned long long startTime = 0;
    char state = 0;
};

// Start time and state from /proc/<pid>/stat; the name in parentheses may hold anything.
bool processState(pid_t pid, ProcessState& out)
{
    const std::string stat = readFile("/proc/" + std::to_string(pid) + "/stat");
    const size_t close = stat.rfind(')');
    if (close == std::string::npos || close + 2 >= stat.size())
        return false;
    out.state = stat[close + 2];
    // Fields after the name: state is the 3rd field, start time the 22nd.
    size_t at = close + 2;
    for (int field = 3; field < 22; ++field) {
        at = stat.find(' ', at);
        if (at == std::string::npos)
            return false;
        ++at;
    }
    out.startTime = std::strtoull(stat.c_str() + at, nullptr, 10);
    return true;
}

struct Leftover {
    pid_t pid;
    unsigned long long startTime;
    std::string program;
};

// Programs of the build that carry this process's mark, other than this process.
std::vector<Leftover> leftovers()
{
    std::vector<Leftover> found;
    const std::string wanted = std::string(kMarkName) + "=" + mark();
    DIR* proc = ::opendir("/proc");
    if (!proc)
        return found;
    while (const dirent* entry = ::readdir(proc)) {
        char* end = nullptr;
        const long pid = std::strtol(entry->d_name, &end, 10);
        if (pid <= 0 || *end || pid == ::getpid())
            continue;
        const std::string dir = std::string("/proc/") + entry->d_name;
        char exe[4096];
        const ssize_t length = ::readlink((dir + "/exe").c_str(), exe, sizeof exe - 1);
        if (length <= 0)
            continue;
        const std::string program(exe, size_t(length));
        if (program.rfind(KELVARA_BUILD_DIR "/", 0) != 0)
            continue;
        const std::string environment = readFile(dir + "/environ");
        bool marked = false;
        for (size_t at = 0; at < environment.size() && !marked;) {
            const size_t next = environment.find('\0', at);
            marked = environment.compare(at, (next == std::string::npos ? environment.size() : next) - at, wanted) == 0;
            at = next == std::string::npos ? environment.size() : next + 1;
        }
        ProcessState state;
        if (marked && processState(pid_t(pid), state) && state.state != 'Z')
            found.push_back({pid_t(pid), state.startTime, program.substr(program.rfind('/') + 1)});
    }
    ::closedir(proc);
    return found;
}

bool gone(const Leftover& process)
{
    ProcessState state;
    return !processState(process.pid, state) || state.startTime != process.startTime || state.state == 'Z';
}

bool waitGone(const Leftover& process, std::chrono::milliseconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!gone(process)) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

void endLeftovers(const std::string& after)
{
    // A run started last thing (a detached fan write, a companion asked to quit)
    // may be ending by itself: it gets a moment first.
    std::vector<Leftover> found = leftovers();
    const auto settled = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    while (!found.empty() && std::chrono::steady_clock::now() < settled) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        found = leftovers();
    }
    for (const Leftover& process : found) {
        std::fprintf(stderr, "Kelvara tests: %s (pid %d) was still running after %s; ending it.\n",
                     process.program.c_str(), int(process.pid), after.c_str());
        if (!gone(process))
            ::kill(process.pid, SIGTERM);
        if (!waitGone(process, std::chrono::seconds(3)) && !gone(process)) {
            ::kill(process.pid, SIGKILL);
            waitGone(process, std::chrono::seconds(2));
        }
    }
}

class ProgramGuard : public ::testing::EmptyTestEventListener {
    void OnTestEnd(const ::testing::TestInfo& test) override
    {
        endLeftovers(std::string(test.test_suite_name()) + "." + test.name());
    }
    void OnTestProgramEnd(const ::testing::UnitTest&) override { endLeftovers("the tests"); }
};

[[maybe_unused]] const bool g_installed = [] {
    mark() = std::to_string(::getpid());
    ::setenv(kMarkName, mark().c_str(), 1);
    ::testing::UnitTest::GetInstance()->listeners().Append(new ProgramGuard);
    return true;
}();

}  // namespace
