#pragma once
// The one way the programs read, append to and replace a file of their own in
// the user's home. Anyone who can write there can put a pipe, a device, a link
// or a huge file in its place, so an open never blocks (non-blocking, cleared
// once the file is known to be regular), only a regular file is taken, a link
// is not followed unless the caller allows it, and a file larger than its
// caller's limit is not read. Whatever is refused is set aside (or ignored) by
// the caller with one line on standard error, and the program goes on with its
// defaults. Lock files are files of ours as well. Plain C++: the setuid SMC
// tool uses it too.
#include <cstddef>
#include <string>
#include <sys/types.h>

namespace OwnFile {

// Follow only where the file is read and never written in place.
enum class Links { Refuse, Follow };

// Which file was read: a reader compares it with the file there now.
struct Stamp {
    ino_t inode = 0;
    long long mtimeNs = -1;
    long long size = -1;
    bool operator==(const Stamp&) const = default;
};

struct Contents {
    enum class Outcome {
        Read,
        Missing,   // nothing there
        Refused,   // a pipe, device, folder or (unless followed) link
        TooLarge,  // a regular file past the limit: nothing of it is kept
        Failed,    // open or read failed (permissions, I/O): left alone
    };
    Outcome outcome = Outcome::Failed;
    std::string bytes;
    Stamp stamp;         // of the file opened, when it was opened
    int error = 0;       // errno, when Missing or Failed
    std::string reason;  // why it was not read, for a message
};

Contents read(const std::string& path, std::size_t limit, Links links = Links::Refuse);

// A descriptor open for appending to `path` (made with `mode` when missing), or
// -1 with `reason` set; `refused` tells that what stands there is no file of
// ours to add to (a link, not a regular file, or past `limit` bytes already).
int openForAppend(const std::string& path, long long limit, mode_t mode, std::string* reason, bool* refused);

// Writes a new file beside `path` and renames it over `path`: a link there is
// replaced, never written through, and a folder there is set aside (one line on
// standard error) to make room. Its modification time is made later than
// `laterThanNs` (when given) so readers that compare stamps see the change.
bool replace(const std::string& path, const std::string& bytes, mode_t mode, std::string* reason,
             long long laterThanNs = -1);

// Renames `path` to "<path>.damaged-<UTC time>" without replacing anything
// there; the new name, or empty with errno set. Only the newest few set aside
// for a path are kept: older ones are removed (a folder only when empty).
std::string setAside(const std::string& path);
inline constexpr int kSetAsideKept = 3;

// A lock file of ours, open for flock (made 0600 when missing): a link, pipe,
// folder or device standing there is never opened through but set aside with
// one line (`what` names it) and a new file made. -1 with errno set otherwise.
int openLock(const std::string& path, const char* what);

// An exclusive flock on `fd`, tried again after growing pauses for up to
// `waitMs`: a stopped or hung holder never stops the caller for longer. False
// with errno EWOULDBLOCK when it is still held then.
bool lockWithin(int fd, int waitMs);

// The name the file would be read under now, without following a link.
Stamp stampOf(const std::string& path);

// Sets aside what `read` or `openForAppend` refused and says so in one line:
// "<what> <path> <reason>; it was kept as <name> and <then>." (or "it is ignored").
// True when nothing stands there any more (moved here, or by another program).
bool setAsideAndSay(const std::string& path, const char* what, const std::string& reason, const char* then);

}  // namespace OwnFile
