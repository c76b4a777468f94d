#include "Install.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <string>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kInstallError = 1;
constexpr int kInstallUsageError = 2;

int fail(const char* what, int error)
{
    std::fprintf(stderr, "Kelvara SMC: cannot install: %s: %s\n", what, std::strerror(error));
    return kInstallError;
}

bool groupId(const char* name, gid_t& gid)
{
    const long suggested = sysconf(_SC_GETGR_R_SIZE_MAX);
    std::vector<char> buffer(suggested > 0 ? static_cast<size_t>(suggested) : 1024);
    group entry;
    group* found = nullptr;
    int status = 0;
    while ((status = getgrnam_r(name, &entry, buffer.data(), buffer.size(), &found)) == ERANGE &&
           buffer.size() < (1u << 20))
        buffer.resize(buffer.size() * 2);
    if (status != 0 || !found)
        return false;
    gid = found->gr_gid;
    return true;
}

bool copyAll(int from, int to)
{
    char buffer[1 << 16];
    for (;;) {
        const ssize_t got = read(from, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return got == 0;
        for (ssize_t done = 0; done < got;) {
            const ssize_t put = write(to, buffer + done, static_cast<size_t>(got - done));
            if (put < 0 && errno == EINTR)
                continue;
            if (put < 0)
                return false;
            done += put;
        }
    }
}

// The folder is the user's: a name in it that we did not create ourselves just
// now may be anything, so the new file is made with O_EXCL under a random name.
int createFresh(int folder, const std::string& name, std::string& fresh)
{
    for (int attempt = 0; attempt < 16; ++attempt) {
        unsigned char random[8];
        if (getrandom(random, sizeof random, 0) != static_cast<ssize_t>(sizeof random))
            return -1;
        char suffix[2 * sizeof random + 1];
        for (size_t i = 0; i < sizeof random; ++i)
            std::snprintf(suffix + 2 * i, 3, "%02x", random[i]);
        fresh = "." + name + "." + suffix;
        const int file = openat(folder, fresh.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (file >= 0 || errno != EEXIST)
            return file;
    }
    errno = EEXIST;
    return -1;
}

class Descriptor {
public:
    explicit Descriptor(int fd)
        : m_fd(fd)
    {
    }
    ~Descriptor()
    {
        if (m_fd >= 0)
            close(m_fd);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

}  // namespace

int installSelf(const char* destination, const char* groupName)
{
    if (getuid() != 0 || geteuid() != 0) {
        std::fprintf(stderr, "Kelvara SMC: only root can install the tool\n");
        return kInstallUsageError;
    }
    const std::string path(destination);
    const size_t slash = path.rfind('/');
    const std::string name = slash == std::string::npos ? std::string() : path.substr(slash + 1);
    if (path.empty() || path[0] != '/' || name.empty() || name == "." || name == "..") {
        std::fprintf(stderr, "Kelvara SMC: the installed path must be absolute and name a file\n");
        return kInstallUsageError;
    }
    const std::string folderPath = slash == 0 ? std::string("/") : path.substr(0, slash);
    gid_t gid = 0;
    if (!groupId(groupName, gid)) {
        std::fprintf(stderr, "Kelvara SMC: no group named %s\n", groupName);
        return kInstallUsageError;
    }

    const Descriptor self(open("/proc/self/exe", O_RDONLY | O_CLOEXEC));
    if (self.get() < 0)
        return fail("/proc/self/exe", errno);
    const Descriptor folder(open(folderPath.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (folder.get() < 0)
        return fail(folderPath.c_str(), errno);
    std::string fresh;
    const Descriptor file(createFresh(folder.get(), name, fresh));
    if (file.get() < 0)
        return fail(folderPath.c_str(), errno);
    // Owner first: a change of owner clears the set-id bits.
    if (!copyAll(self.get(), file.get()) || fchown(file.get(), 0, gid) != 0 || fchmod(file.get(), 06555) != 0 ||
        fsync(file.get()) != 0) {
        const int error = errno;
        unlinkat(folder.get(), fresh.c_str(), 0);
        return fail(path.c_str(), error);
    }
    // rename replaces a link at the name itself, never what it points to.
    if (renameat(folder.get(), fresh.c_str(), folder.get(), name.c_str()) != 0) {
        const int error = errno;
        unlinkat(folder.get(), fresh.c_str(), 0);
        return fail(path.c_str(), error);
    }
    // The new name is only on disk once the folder is (a file system that
    // cannot sync folders says so with EINVAL and has nothing to sync).
    if (fsync(folder.get()) != 0 && errno != EINVAL)
        return fail(path.c_str(), errno);
    // The fresh name could have been swapped before the rename; say so if what
    // now lies at the path is not the file written here.
    struct stat written, placed;
    if (fstat(file.get(), &written) != 0 || fstatat(folder.get(), name.c_str(), &placed, AT_SYMLINK_NOFOLLOW) != 0 ||
        written.st_dev != placed.st_dev || written.st_ino != placed.st_ino) {
        std::fprintf(stderr, "Kelvara SMC: cannot install: %s was changed during the installation\n", path.c_str());
        return kInstallError;
    }
    return 0;
}
