// Temporary files are registered where a signal handler can reach them
// without allocating: a signal that ends the run removes them, then ends
// the run as that signal would have, so the exit status stays the same.
#include "io/output_file.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "io/failure.h"

namespace {

[[noreturn]] void fail(const std::string& path, int e) {
    throw Failure{kStatusInput, path + ": " + std::strerror(e)};
}

// The temporary files of the run, for the signal handler.
constexpr int kMostTemps = 8;
char g_temps[kMostTemps][PATH_MAX];
volatile sig_atomic_t g_used[kMostTemps];

extern "C" void remove_temps_and_reraise(int sig) {
    for (int i = 0; i < kMostTemps; ++i)
        if (g_used[i]) ::unlink(g_temps[i]);
    std::signal(sig, SIG_DFL);
    std::raise(sig);
}

int register_temp(const std::string& path) {
    static bool handlers = false;
    if (!handlers) {
        for (int sig : {SIGINT, SIGTERM, SIGPIPE, SIGHUP}) {
            struct sigaction sa {};
            sa.sa_handler = remove_temps_and_reraise;
            sigemptyset(&sa.sa_mask);
            sigaction(sig, &sa, nullptr);
        }
        handlers = true;
    }
    for (int i = 0; i < kMostTemps; ++i)
        if (!g_used[i] && path.size() < PATH_MAX) {
            std::memcpy(g_temps[i], path.c_str(), path.size() + 1);
            g_used[i] = 1;
            return i;
        }
    return -1;
}

void unregister_temp(const std::string& path) {
    for (int i = 0; i < kMostTemps; ++i)
        if (g_used[i] && path == g_temps[i]) g_used[i] = 0;
}

std::string dir_of(const std::string& p) {
    const size_t slash = p.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : p.substr(0, slash);
}

std::string base_of(const std::string& p) {
    const size_t slash = p.rfind('/');
    return slash == std::string::npos ? p : p.substr(slash + 1);
}

// The path with its folder resolved; the file itself need not exist.
std::string resolved(const std::string& p) {
    char buf[PATH_MAX];
    if (::realpath(p.c_str(), buf)) return buf;
    if (::realpath(dir_of(p).c_str(), buf)) return std::string(buf) + "/" + base_of(p);
    return p;
}

}  // namespace

bool same_file(const std::string& a, const std::string& b) {
    struct stat sa, sb;
    if (::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0)
        return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
    return resolved(a) == resolved(b);
}

int standard_stream(const std::string& path) {
    struct stat st, own;
    if (::stat(path.c_str(), &st) == 0)
        for (int s : {STDOUT_FILENO, STDERR_FILENO})
            if (::fstat(s, &own) == 0 && own.st_dev == st.st_dev && own.st_ino == st.st_ino) return s;
    return -1;
}

OutputFile::OutputFile(std::string p) : path(std::move(p)), target(path) {
    struct stat st;
    // A temporary file renamed over the shell's file would drop what it held
    // and what the run printed there.
    stream = standard_stream(path);
    if (stream >= 0) {
        fd = ::fcntl(stream, F_DUPFD_CLOEXEC, 3);
        if (fd < 0) fail(path, errno);
        return;
    }
    if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
        fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
        if (fd < 0) fail(path, errno);
        return;
    }
    // Replace the file a symbolic link points at, not the link.
    char buf[PATH_MAX];
    if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode) && ::realpath(path.c_str(), buf)) target = buf;
    // The permissions a new file would get: 0666 less the umask.
    for (int attempt = 0; fd < 0; ++attempt) {
        temp = dir_of(target) + "/." + base_of(target) + ".preassign-" + std::to_string(::getpid()) + "-" +
               std::to_string(attempt);
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && (errno != EEXIST || attempt > 100)) {
            const int e = errno;
            temp.clear();
            fail(path, e);
        }
    }
    register_temp(temp);
}

OutputFile::~OutputFile() {
    if (fd >= 0) ::close(fd);
    if (!temp.empty()) {
        ::unlink(temp.c_str());
        unregister_temp(temp);
    }
}

bool OutputFile::write(const void* data, size_t n) noexcept {
    const char* p = static_cast<const char*>(data);
    if (stream >= 0 && error == 0) {
        try {
            held.append(p, n);
        } catch (...) {
            error = ENOMEM;
        }
        return error == 0;
    }
    while (error == 0 && n > 0) {
        const ssize_t w = ::write(fd, p, n);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) {
            error = w < 0 ? errno : EIO;
            break;
        }
        p += w;
        n -= size_t(w);
    }
    return error == 0;
}

void OutputFile::close() {
    const bool regular = !temp.empty();
    if (stream >= 0 && error == 0) {
        stream = -1;  // written from here on
        write(held.data(), held.size());
        held.clear();
    }
    int e = error;
    if (e == 0 && regular && ::fsync(fd) != 0) e = errno;
    if (::close(fd) != 0 && e == 0) e = errno;
    fd = -1;
    if (e == 0 && regular && ::rename(temp.c_str(), target.c_str()) != 0) e = errno;
    if (regular) {
        if (e != 0) ::unlink(temp.c_str());
        unregister_temp(temp);
        temp.clear();
    }
    if (e != 0) fail(path, e);
}
