// The command-line tool's system calls: terminals, binary streams, files beside files,
// atomic replacement and clean-up on interruption, for POSIX systems and Windows.
#include "cli/platform.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#if defined(_WIN32)
#ifndef NOMINMAX
#define NOMINMAX
#endif
#define WIN32_LEAN_AND_MEAN
#include <io.h>
#include <process.h>
#include <windows.h>
#else
#include <sys/ioctl.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

// A signal handler may not allocate, so the path waits in fixed storage.
char pendingRemoval[4096];
volatile std::sig_atomic_t removalArmed = 0;
bool handlersInstalled = false;

extern "C" void RemoveAndReraise(int signalNumber) {
    if (removalArmed != 0) {
#if defined(_WIN32)
        _unlink(pendingRemoval);
#else
        unlink(pendingRemoval);
#endif
    }
    std::signal(signalNumber, SIG_DFL);
    std::raise(signalNumber);
}

// "dir/.name.ciphrel-" for a destination "dir/name": hidden where dot names are hidden,
// and in the destination's own folder so that the final rename never crosses devices.
std::string SiblingPrefix(const std::string& destination) {
    fs::path path(destination);
    fs::path folder = path.parent_path();
    std::string name = ".";     // appended, not concatenated: g++ 12 warns wrongly on that
    name += path.filename().string();
    name += ".ciphrel-";
    return folder.empty() ? name : (folder / name).string();
}

}  // namespace

bool IsTerminal(FILE* stream) {
#if defined(_WIN32)
    return _isatty(_fileno(stream)) != 0;
#else
    return isatty(fileno(stream)) != 0;
#endif
}

int TerminalWidth([[maybe_unused]] FILE* stream) {
#if defined(_WIN32)
    CONSOLE_SCREEN_BUFFER_INFO info;
    HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    if (!GetConsoleScreenBufferInfo(handle, &info)) return 0;
    return info.srWindow.Right - info.srWindow.Left + 1;
#else
    struct winsize size;
    if (ioctl(fileno(stream), TIOCGWINSZ, &size) != 0) return 0;
    return size.ws_col;
#endif
}

PathKind KindOfPath(const std::string& path) {
    std::error_code error;
    fs::file_status status = fs::status(path, error);
    if (status.type() == fs::file_type::not_found) return PathKind::Missing;
    return status.type() == fs::file_type::regular ? PathKind::Regular : PathKind::Other;
}

int LinkCount(const std::string& path) {
    std::error_code error;
    uintmax_t count = fs::hard_link_count(path, error);
    return error ? 1 : static_cast<int>(count);
}

bool SeekTo(FILE* stream, int64_t offset) {
#if defined(_WIN32)
    return _fseeki64(stream, offset, SEEK_SET) == 0;
#else
    return fseeko(stream, static_cast<off_t>(offset), SEEK_SET) == 0;
#endif
}

void UseBinaryMode([[maybe_unused]] FILE* stream) {
#if defined(_WIN32)
    _setmode(_fileno(stream), _O_BINARY);
#endif
}

FILE* CreateFileBeside(const std::string& destination, std::string* created) {
    const std::string prefix = SiblingPrefix(destination);
#if defined(_WIN32)
    // No mkstemp here: exclusive creation under a name made of the process id and a count.
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = prefix + std::to_string(_getpid()) + "-" + std::to_string(attempt);
        int fd = _open(name.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY,
                       _S_IREAD | _S_IWRITE);
        if (fd >= 0) {
            FILE* stream = _fdopen(fd, "wb");
            if (stream == nullptr) {
                _close(fd);
                _unlink(name.c_str());
                return nullptr;
            }
            *created = name;
            return stream;
        }
        if (errno != EEXIST) return nullptr;
    }
    return nullptr;
#else
#if defined(O_TMPFILE)
    // Unnamed until it is complete; /proc gives the way to name it then.
    fs::path folder = fs::path(destination).parent_path();
    int unnamed = open(folder.empty() ? "." : folder.c_str(), O_TMPFILE | O_WRONLY, 0600);
    if (unnamed >= 0 && access("/proc/self/fd", X_OK) == 0) {
        FILE* stream = fdopen(unnamed, "wb");
        if (stream != nullptr) {
            created->clear();
            return stream;
        }
    }
    if (unnamed >= 0) close(unnamed);
#endif
    std::vector<char> name(prefix.begin(), prefix.end());
    for (char c : std::string("XXXXXX")) name.push_back(c);
    name.push_back('\0');
    int fd = mkstemp(name.data());
    if (fd < 0) return nullptr;
    FILE* stream = fdopen(fd, "wb");
    if (stream == nullptr) {
        close(fd);
        unlink(name.data());
        return nullptr;
    }
    *created = name.data();
    return stream;
#endif
}

void MatchPermissions([[maybe_unused]] const std::string& model,
                      [[maybe_unused]] FILE* stream) {
#if !defined(_WIN32)
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
#endif
}

bool IsWritable(const std::string& path) {
#if defined(_WIN32)
    return _access(path.c_str(), 2) == 0;
#else
    // Root may write anywhere; a file without any write bit was still meant to stay.
    struct stat status;
    if (stat(path.c_str(), &status) == 0 && (status.st_mode & 0222) == 0) {
        errno = EACCES;
        return false;
    }
    return access(path.c_str(), W_OK) == 0;
#endif
}

bool CloseAndReplace(FILE* stream, const std::string& from, const std::string& to) {
    std::string name = from;
#if !defined(_WIN32)
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
#endif
    // Windows renames no file that is still open, so it closes first everywhere.
    std::error_code error;
    if (std::fclose(stream) != 0) {
        error = std::error_code(errno, std::generic_category());
    } else {
        fs::rename(name, to, error);
    }
    if (error) {
        std::remove(name.c_str());
        errno = error.value();
    }
    return !error;
}

int64_t RegularFileSize(FILE* stream) {
#if defined(_WIN32)
    struct _stati64 status;
    if (_fstati64(_fileno(stream), &status) != 0 || (status.st_mode & _S_IFREG) == 0) return -1;
#else
    struct stat status;
    if (fstat(fileno(stream), &status) != 0 || !S_ISREG(status.st_mode)) return -1;
#endif
    return static_cast<int64_t>(status.st_size);
}

std::string ResolveLink(const std::string& path) {
    std::error_code error;
    if (!fs::is_symlink(path, error)) return path;
    fs::path target = fs::canonical(path, error);
    return error ? path : target.string();
}

void RemoveOnInterrupt(const std::string& path) {
    removalArmed = 0;
    if (path.empty() || path.size() >= sizeof pendingRemoval) return;
    std::memcpy(pendingRemoval, path.c_str(), path.size() + 1);
    removalArmed = 1;
    if (!handlersInstalled) {
        std::signal(SIGINT, RemoveAndReraise);
        std::signal(SIGTERM, RemoveAndReraise);
#if !defined(_WIN32)
        std::signal(SIGHUP, RemoveAndReraise);
        std::signal(SIGPIPE, RemoveAndReraise);
#endif
        handlersInstalled = true;
    }
}

void ForgetOnInterrupt() { removalArmed = 0; }

void RemovePendingFile() {
    if (removalArmed != 0) std::remove(pendingRemoval);
    removalArmed = 0;
}
