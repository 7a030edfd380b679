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
#include <io.h>
#include <process.h>
#else
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
    std::string name = "." + path.filename().string() + ".ciphrel-";
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
#endif
}

bool IsWritable(const std::string& path) {
#if defined(_WIN32)
    return _access(path.c_str(), 2) == 0;
#else
    return access(path.c_str(), W_OK) == 0;
#endif
}

bool ReplaceFile(const std::string& from, const std::string& to) {
    std::error_code error;
    fs::rename(from, to, error);
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
