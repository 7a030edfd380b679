// The command-line tool's system calls on POSIX systems: terminals, files beside files,
// atomic replacement that reaches the disk, and clean-up on interruption.
#if !defined(_WIN32)
#include "cli/platform.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A signal handler may not allocate, so the path waits in fixed storage.
char pendingRemoval[4096];
volatile std::sig_atomic_t removalArmed = 0;
bool handlersInstalled = false;

extern "C" void RemoveAndReraise(int signalNumber) {
    if (removalArmed != 0) unlink(pendingRemoval);
    std::signal(signalNumber, SIG_DFL);
    std::raise(signalNumber);
}

// While armed, an interrupt, hang-up or termination signal removes the file first.
void ArmRemoval(const std::string& path) {
    removalArmed = 0;
    if (path.empty() || path.size() >= sizeof pendingRemoval) return;
    std::memcpy(pendingRemoval, path.c_str(), path.size() + 1);
    removalArmed = 1;
    if (!handlersInstalled) {
        // A signal the process was started to ignore (nohup, a background job) stays ignored.
        for (int signalNumber : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) {
            struct sigaction current;
            if (sigaction(signalNumber, nullptr, &current) == 0 && current.sa_handler == SIG_IGN) {
                continue;
            }
            std::signal(signalNumber, RemoveAndReraise);
        }
        handlersInstalled = true;
    }
}

std::string FolderOf(const std::string& path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// A rename is part of the folder; without this a power loss may forget it.
void CommitFolder(const std::string& path) {
    int folder = open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY);
    if (folder < 0) return;
    fsync(folder);
    close(folder);
}

}  // namespace

void WriteMessage(const std::string& utf8) {
    std::fwrite(utf8.data(), 1, utf8.size(), stderr);
}

bool IsTerminal(FILE* stream) { return isatty(fileno(stream)) != 0; }

int TerminalWidth(FILE* stream) {
    struct winsize size;
    if (ioctl(fileno(stream), TIOCGWINSZ, &size) != 0) return 0;
    return size.ws_col;
}

void UseBinaryMode(FILE*) {}

bool TextArgumentBytes(const std::string& utf8, std::string* bytes, std::string*) {
    *bytes = utf8;
    return true;
}

int LastError() { return errno; }
std::string DescribeError(int error) { return std::strerror(error); }
bool IsNoSpace(int error) { return error == ENOSPC || error == EDQUOT; }

FILE* OpenFile(const std::string& path, bool forUpdate) {
    return std::fopen(path.c_str(), forUpdate ? "r+b" : "rb");
}

bool WriteAll(FILE* stream, const void* data, size_t size) {
    return std::fwrite(data, 1, size, stream) == size;
}

size_t ReadSome(FILE* stream, void* data, size_t size, bool* failed) {
    size_t got = std::fread(data, 1, size, stream);
    if (got == 0 && std::ferror(stream)) *failed = true;
    return got;
}

bool CommitToDisk(FILE* stream) {
    return std::fflush(stream) == 0 && fsync(fileno(stream)) == 0;
}

PathKind KindOfPath(const std::string& path) {
    struct stat status;
    if (stat(path.c_str(), &status) != 0) return PathKind::Missing;
    if (S_ISREG(status.st_mode)) return PathKind::Regular;
    return S_ISDIR(status.st_mode) ? PathKind::Folder : PathKind::Other;
}

FileIdentity IdentityOf(const std::string& path) {
    FileIdentity identity;
    struct stat status;
    if (stat(path.c_str(), &status) != 0) return identity;
    identity.device = static_cast<uint64_t>(status.st_dev);
    identity.index = static_cast<uint64_t>(status.st_ino);
    identity.links = static_cast<int>(status.st_nlink);
    identity.known = true;
    return identity;
}

bool ListFolder(const std::string& folder, std::vector<FolderEntry>* entries) {
    DIR* listing = opendir(folder.c_str());
    if (listing == nullptr) return false;
    entries->clear();
    while (dirent* entry = readdir(listing)) {
        std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        std::string path = JoinPath(folder, name);
        struct stat status;
        PathKind kind = PathKind::Other;
        if (lstat(path.c_str(), &status) == 0) {
            if (S_ISREG(status.st_mode)) kind = PathKind::Regular;
            if (S_ISDIR(status.st_mode)) kind = PathKind::Folder;
        }
        entries->push_back({path, kind});
    }
    closedir(listing);
    std::sort(entries->begin(), entries->end(),
              [](const FolderEntry& a, const FolderEntry& b) { return a.path < b.path; });
    return true;
}

// The shell has expanded the patterns already; a '*' left is part of a name.
std::vector<std::string> ExpandFileArgument(const std::string& argument) { return {argument}; }

bool MakeFolders(const std::string& path) {
    for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        std::string part = path.substr(0, slash);
        if (mkdir(part.c_str(), 0777) != 0 && errno != EEXIST) return false;
        if (slash == std::string::npos) return KindOfPath(path) == PathKind::Folder;
    }
}

bool SeekTo(FILE* stream, int64_t offset) {
    return fseeko(stream, static_cast<off_t>(offset), SEEK_SET) == 0;
}

// A run holds a lock on its new file while it lives, and the lock goes with the process:
// a named one without a lock was left by a run that was killed.
FILE* CreateFileBeside(const std::string& destination, std::string* created) {
#if defined(O_TMPFILE)
    // Unnamed until it is complete; /proc gives the way to name it then.
    int unnamed = open(FolderOf(destination).c_str(), O_TMPFILE | O_WRONLY, 0600);
    if (unnamed >= 0 && access("/proc/self/fd", X_OK) == 0) {
        FILE* stream = fdopen(unnamed, "wb");
        if (stream != nullptr) {
            flock(unnamed, LOCK_EX);
            created->clear();
            return stream;
        }
    }
    if (unnamed >= 0) close(unnamed);
#endif
    std::string name;
    int fd = -1;
    for (int attempt = 0; attempt < 10 && fd < 0; ++attempt) {
        name = SiblingPrefix(destination) + "XXXXXX";
        fd = mkstemp(name.data());
        if (fd < 0) return nullptr;
        // Another run may have taken it for a left one before the lock: make another.
        struct stat status;
        if (flock(fd, LOCK_EX) == 0 && fstat(fd, &status) == 0 && status.st_nlink == 0) {
            close(fd);
            fd = -1;
        }
    }
    if (fd < 0) return nullptr;
    FILE* stream = fdopen(fd, "wb");
    if (stream == nullptr) {
        close(fd);
        unlink(name.c_str());
        return nullptr;
    }
    *created = name;
    ArmRemoval(name);
    return stream;
}

std::vector<std::string> RemoveStaleFilesBeside(const std::string& destination) {
    const std::string prefix = SiblingPrefix(destination);
    const std::string start = BaseName(prefix);
    const std::string folder = prefix.substr(0, prefix.size() - start.size());
    std::vector<std::string> removed;
    DIR* listing = opendir(folder.empty() ? "." : folder.c_str());
    if (listing == nullptr) return removed;
    while (dirent* entry = readdir(listing)) {
        std::string name = entry->d_name;
        if (name.compare(0, start.size(), start) != 0 ||
            !IsOwnTemporarySuffix(name.substr(start.size()))) {
            continue;
        }
        std::string path = folder + name;
        int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK);
        struct stat status;
        if (fd < 0) continue;
        if (fstat(fd, &status) == 0 && S_ISREG(status.st_mode) &&
            flock(fd, LOCK_EX | LOCK_NB) == 0 && unlink(path.c_str()) == 0) {
            removed.push_back(path);
        }
        close(fd);
    }
    closedir(listing);
    return removed;
}

void MatchPermissions(const std::string& model, FILE* stream) {
    // mkstemp made the file readable by its owner only.
    struct stat status;
    mode_t mode;
    if (stat(model.c_str(), &status) == 0) {
        mode = status.st_mode & 07777;
    } else {
        mode_t mask = umask(0);
        umask(mask);
        mode = 0666 & ~mask;
    }
    fchmod(fileno(stream), mode);
    // Root replacing another user's file would otherwise make it root's; others cannot
    // give a file away, and keep their own ownership.
    if (stat(model.c_str(), &status) == 0 && fchown(fileno(stream), status.st_uid,
                                                    status.st_gid) == 0) {
        fchmod(fileno(stream), mode);   // a change of owner clears set-user-ID bits
    }
}

bool IsWritable(const std::string& path) {
    // Root may write anywhere; a file without any write bit was still meant to stay.
    struct stat status;
    if (stat(path.c_str(), &status) == 0 && (status.st_mode & 0222) == 0) {
        errno = EACCES;
        return false;
    }
    return access(path.c_str(), W_OK) == 0;
}

bool CloseAndReplace(FILE* stream, const std::string& from, const std::string& to) {
    // The data first: a rename that reaches the disk before the data would leave an empty
    // or partial file under the old name after a power loss.
    if (!CommitToDisk(stream)) {
        int error = errno;
        DiscardNewFile(stream, from);
        errno = error;
        return false;
    }
    std::string name = from;
    if (name.empty()) {
        // Name the unnamed file beside `to` (a name nothing else has) before it closes.
        std::string proc = "/proc/self/fd/" + std::to_string(fileno(stream));
        std::string prefix = SiblingPrefix(to);
        for (int attempt = 0; attempt < 100 && name.empty(); ++attempt) {
            std::string candidate = prefix + std::to_string(getpid()) + "-" +
                                    std::to_string(attempt);
            if (linkat(AT_FDCWD, proc.c_str(), AT_FDCWD, candidate.c_str(),
                       AT_SYMLINK_FOLLOW) == 0) {
                name = candidate;
                ArmRemoval(name);
            } else if (errno != EEXIST) {
                break;
            }
        }
        if (name.empty()) {
            int error = errno;
            std::fclose(stream);
            errno = error;
            return false;
        }
    }
    int error = 0;
    if (std::fclose(stream) != 0 || rename(name.c_str(), to.c_str()) != 0) error = errno;
    removalArmed = 0;
    if (error != 0) {
        unlink(name.c_str());
        errno = error;
        return false;
    }
    CommitFolder(to);
    return true;
}

void DiscardNewFile(FILE* stream, const std::string& created) {
    std::fclose(stream);
    if (!created.empty()) unlink(created.c_str());
    removalArmed = 0;
}

int64_t RegularFileSize(FILE* stream) {
    struct stat status;
    if (fstat(fileno(stream), &status) != 0 || !S_ISREG(status.st_mode)) return -1;
    return static_cast<int64_t>(status.st_size);
}

std::string ResolveLink(const std::string& path) {
    struct stat status;
    if (lstat(path.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) return path;
    char* target = realpath(path.c_str(), nullptr);
    if (target == nullptr) return path;
    std::string resolved = target;
    std::free(target);
    return resolved;
}

void ForgetOnInterrupt() { removalArmed = 0; }

void RemovePendingFile() {
    if (removalArmed != 0) unlink(pendingRemoval);
    removalArmed = 0;
}
#endif
