#include "OwnFile.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <optional>
#include <random>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

namespace OwnFile {

namespace {

long long nanoseconds(const struct timespec& t)
{
    return static_cast<long long>(t.tv_sec) * 1000000000LL + t.tv_nsec;
}

Stamp stampFrom(const struct stat& st)
{
    return {st.st_ino, nanoseconds(st.st_mtim), static_cast<long long>(st.st_size)};
}

std::string errorText(int error)
{
    return std::strerror(error);
}

// Opens without waiting on a pipe's other end, then checks what was opened.
int openChecked(const std::string& path, int flags, mode_t mode, Links links, struct stat* st, std::string* reason,
                bool* refused, int* error)
{
    *refused = false;
    const int fd = ::open(path.c_str(), flags | O_NONBLOCK | O_CLOEXEC | (links == Links::Refuse ? O_NOFOLLOW : 0), mode);
    if (fd < 0) {
        *error = errno;
        // O_NOFOLLOW's answer for a link; a pipe with no reader answers ENXIO to a writer.
        if (errno == ELOOP || errno == ENXIO || errno == EISDIR) {
            *refused = true;
            *reason = errno == ELOOP ? "is a link" : "is not a regular file";
        } else {
            *reason = "cannot be opened (" + errorText(errno) + ")";
        }
        return -1;
    }
    if (::fstat(fd, st) != 0) {
        *error = errno;
        *reason = "cannot be opened (" + errorText(errno) + ")";
        ::close(fd);
        return -1;
    }
    if (!S_ISREG(st->st_mode)) {
        *refused = true;
        *reason = "is not a regular file";
        ::close(fd);
        return -1;
    }
    // Reads and writes of a regular file block as usual from here on.
    const int status = ::fcntl(fd, F_GETFL);
    if (status != -1)
        ::fcntl(fd, F_SETFL, status & ~O_NONBLOCK);
    return fd;
}

std::string sizeText(long long bytes)
{
    return bytes >= 1024 * 1024 ? std::to_string(bytes / (1024 * 1024)) + " MiB" : std::to_string(bytes) + " bytes";
}

// The order of a name setAside gave, "<time>" or "<time>-<n>" after ".damaged-";
// nothing for names of another form, which are not ours to remove.
std::optional<std::pair<std::string, int>> setAsideOrder(const std::string& suffix)
{
    constexpr std::size_t kTime = 19;  // YYYYMMDD-HHMMSS-mmm
    if (suffix.size() < kTime || suffix.size() > kTime + 3)
        return std::nullopt;
    for (std::size_t i = 0; i < suffix.size(); ++i) {
        const bool dash = i == 8 || i == 15 || i == kTime;
        if (dash ? suffix[i] != '-' : !(suffix[i] >= '0' && suffix[i] <= '9'))
            return std::nullopt;
    }
    if (suffix.size() == kTime + 1)
        return std::nullopt;
    return std::make_pair(suffix.substr(0, kTime), suffix.size() > kTime ? std::stoi(suffix.substr(kTime + 1)) : 1);
}

// Keeps the newest kSetAsideKept names set aside for `path`, `made` (just set
// aside) among them; over a long use they would pile up.
void pruneSetAside(const std::string& path, const std::string& made)
{
    const std::size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    const std::string prefix = (slash == std::string::npos ? path : path.substr(slash + 1)) + ".damaged-";
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return;
    // Bounded: whatever is past the bound goes at a later setting aside.
    constexpr std::size_t kMostSeen = 4096;
    std::vector<std::pair<std::pair<std::string, int>, std::string>> found;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name.compare(0, prefix.size(), prefix) != 0 || name == made)
            continue;
        if (const auto order = setAsideOrder(name.substr(prefix.size())))
            found.emplace_back(*order, name);
        if (found.size() >= kMostSeen)
            break;
    }
    if (found.size() > static_cast<std::size_t>(kSetAsideKept - 1)) {
        std::sort(found.begin(), found.end());
        found.resize(found.size() - (kSetAsideKept - 1));
        for (const auto& [order, name] : found) {
            // A folder goes only when empty: what someone put in it is never thrown away.
            if (::unlinkat(::dirfd(dir), name.c_str(), 0) != 0 && errno == EISDIR)
                ::unlinkat(::dirfd(dir), name.c_str(), AT_REMOVEDIR);
        }
    }
    ::closedir(dir);
}

}  // namespace

Contents read(const std::string& path, std::size_t limit, Links links)
{
    Contents result;
    struct stat st {};
    bool refused = false;
    const int fd = openChecked(path, O_RDONLY, 0, links, &st, &result.reason, &refused, &result.error);
    if (fd < 0) {
        result.outcome = result.error == ENOENT ? Contents::Outcome::Missing
                         : refused              ? Contents::Outcome::Refused
                                                : Contents::Outcome::Failed;
        return result;
    }
    result.stamp = stampFrom(st);
    const std::string tooLarge = "is larger than " + sizeText(static_cast<long long>(limit));
    if (static_cast<unsigned long long>(st.st_size) > limit) {
        ::close(fd);
        result.outcome = Contents::Outcome::TooLarge;
        result.reason = tooLarge;
        return result;
    }
    result.bytes.resize(static_cast<std::size_t>(st.st_size) + 1);
    std::size_t got = 0;
    // One byte past the limit tells a file that grew meanwhile.
    while (got <= limit) {
        if (got == result.bytes.size())
            result.bytes.resize(std::min(limit + 1, result.bytes.size() * 2 + 4096));
        const ssize_t n = ::read(fd, result.bytes.data() + got, result.bytes.size() - got);
        if (n == 0)
            break;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            result.error = errno;
            result.reason = "cannot be read (" + errorText(errno) + ")";
            result.bytes.clear();
            ::close(fd);
            return result;
        }
        got += static_cast<std::size_t>(n);
    }
    ::close(fd);
    if (got > limit) {
        result.bytes.clear();
        result.bytes.shrink_to_fit();
        result.outcome = Contents::Outcome::TooLarge;
        result.reason = tooLarge;
        return result;
    }
    result.bytes.resize(got);
    result.outcome = Contents::Outcome::Read;
    return result;
}

int openForAppend(const std::string& path, long long limit, mode_t mode, std::string* reason, bool* refused)
{
    struct stat st {};
    int error = 0;
    const int fd = openChecked(path, O_WRONLY | O_APPEND | O_CREAT, mode, Links::Refuse, &st, reason, refused, &error);
    if (fd < 0)
        return -1;
    if (st.st_size > limit) {
        ::close(fd);
        *refused = true;
        *reason = "is larger than " + sizeText(limit);
        return -1;
    }
    return fd;
}

bool replace(const std::string& path, const std::string& bytes, mode_t mode, std::string* reason, long long laterThanNs)
{
    const std::size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    std::random_device entropy;
    for (int attempt = 0; attempt < 16; ++attempt) {
        // A name nobody can have laid a link at beforehand, made only where nothing stands.
        const std::string temp = folder + "." + name + ".new-" + std::to_string(entropy()) + std::to_string(entropy());
        const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        if (fd < 0 && errno == EEXIST)
            continue;
        if (fd < 0) {
            *reason = errorText(errno);
            return false;
        }
        bool done = true;
        for (std::size_t written = 0; done && written < bytes.size();) {
            const ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
            if (n < 0 && errno == EINTR)
                continue;
            done = n > 0;
            written += done ? static_cast<std::size_t>(n) : 0;
        }
        done = done && ::fsync(fd) == 0;
        struct stat st {};
        if (done && laterThanNs >= 0 && ::fstat(fd, &st) == 0 && nanoseconds(st.st_mtim) <= laterThanNs) {
            // The new file may get the inode just freed; with a coarse clock and
            // the same size, only a strictly later time tells it apart.
            const long long later = laterThanNs + 1;
            const timespec times[2] = {{0, UTIME_OMIT}, {later / 1000000000LL, later % 1000000000LL}};
            done = ::futimens(fd, times) == 0;
        }
        if (!done)
            *reason = errorText(errno ? errno : EIO);
        done = ::close(fd) == 0 && done;
        if (done && ::rename(temp.c_str(), path.c_str()) != 0) {
            int error = errno;
            // A folder in the way is set aside, as anything else standing where a file of ours belongs.
            if (error == EISDIR && setAsideAndSay(path, "the file", "is a folder", "the new file is written in its place"))
                error = ::rename(temp.c_str(), path.c_str()) == 0 ? 0 : errno;
            if (error != 0) {
                *reason = errorText(error);
                done = false;
            }
        }
        if (!done)
            ::unlink(temp.c_str());
        return done;
    }
    *reason = "no free name for a new file beside it";
    return false;
}

std::string setAside(const std::string& path)
{
    struct timespec now {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    struct tm utc {};
    ::gmtime_r(&now.tv_sec, &utc);
    char when[32];
    std::snprintf(when, sizeof when, "%04d%02d%02d-%02d%02d%02d-%03ld", utc.tm_year + 1900, utc.tm_mon + 1,
                  utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, now.tv_nsec / 1000000);
    const std::string stamp = path + ".damaged-" + when;
    // Never over an earlier file set aside in the same millisecond.
    std::string aside = stamp;
    int moved;
    for (int n = 2;
         (moved = ::renameat2(AT_FDCWD, path.c_str(), AT_FDCWD, aside.c_str(), RENAME_NOREPLACE)) != 0 && errno == EEXIST &&
         n < 100;
         ++n)
        aside = stamp + "-" + std::to_string(n);
    if (moved != 0 && errno == EINVAL)  // a file system without the flag
        moved = ::rename(path.c_str(), aside.c_str());
    if (moved != 0)
        return {};
    pruneSetAside(path, aside.substr(aside.rfind('/') + 1));
    return aside;
}

int openLock(const std::string& path, const char* what)
{
    for (int attempt = 0;; ++attempt) {
        struct stat st {};
        std::string reason;
        bool refused = false;
        int error = 0;
        const int fd = openChecked(path, O_RDWR | O_CREAT, 0600, Links::Refuse, &st, &reason, &refused, &error);
        if (fd >= 0)
            return fd;
        // Once set aside, what stands there now is another program's new lock, or nothing.
        if (!refused || attempt > 0 || !setAsideAndSay(path, what, reason, "a new one is made")) {
            errno = error ? error : EINVAL;
            return -1;
        }
    }
}

bool lockWithin(int fd, int waitMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(0, waitMs));
    auto pause = std::chrono::milliseconds(2);
    for (;;) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
            return true;
        if (errno == EINTR)
            continue;
        if (errno != EWOULDBLOCK)
            return false;
        const auto left = deadline - std::chrono::steady_clock::now();
        if (left <= std::chrono::steady_clock::duration::zero()) {
            errno = EWOULDBLOCK;
            return false;
        }
        std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(pause, left));
        pause = std::min(pause * 2, std::chrono::milliseconds(100));
    }
}

Stamp stampOf(const std::string& path)
{
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 ? stampFrom(st) : Stamp{};
}

bool setAsideAndSay(const std::string& path, const char* what, const std::string& reason, const char* then)
{
    const std::string aside = setAside(path);
    // Another program may have set it aside first: then it has said so.
    if (aside.empty() && errno == ENOENT)
        return true;
    if (!aside.empty())
        std::fprintf(stderr, "%s: %s %s %s; it was kept as %s and %s.\n", program_invocation_short_name, what,
                     path.c_str(), reason.c_str(), aside.c_str(), then);
    else
        std::fprintf(stderr, "%s: %s %s %s; it could not be set aside (%s), it is ignored and %s.\n",
                     program_invocation_short_name, what, path.c_str(), reason.c_str(), std::strerror(errno), then);
    std::fflush(stderr);
    return !aside.empty();
}

}  // namespace OwnFile
