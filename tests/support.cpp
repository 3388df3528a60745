#include "support.h"

#include "io/failure.h"

#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>


namespace {
char g_dir[64];

void remove_dir() { std::system((std::string("rm -rf ") + g_dir).c_str()); }

std::string temp_dir() {
    if (!g_dir[0]) {
        std::strcpy(g_dir, "/tmp/preassign-test-XXXXXX");
        if (!mkdtemp(g_dir)) std::abort();
        std::atexit(remove_dir);
    }
    return g_dir;
}
}  // namespace

std::string testdata(const std::string& rel) { return std::string(PREASSIGN_TESTDATA) + "/" + rel; }

std::string read_file(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

std::string temp_file(const std::string& content) {
    static int n = 0;
    std::string path = temp_dir() + "/f" + std::to_string(getpid()) + "_" + std::to_string(n++);
    std::ofstream(path, std::ios::binary) << content;
    return path;
}

std::string temp_case(const std::string& sim, const std::string& obs) {
    static int n = 0;
    std::string dir = temp_dir() + "/case" + std::to_string(n++);
    mkdir(dir.c_str(), 0755);
    std::ofstream(dir + "/sim.txt", std::ios::binary) << sim;
    std::ofstream(dir + "/obs.txt", std::ios::binary) << obs;
    return dir;
}

Proc run_binary(const std::vector<std::string>& args, const std::string& stdout_path, const std::string& cwd,
                const std::string& stderr_path) {
    std::string out = stdout_path.empty() ? temp_file("") : stdout_path;
    std::string err = stderr_path.empty() ? temp_file("") : stderr_path;
    pid_t pid = fork();
    if (pid == 0) {
        int o = open(out.c_str(), O_WRONLY | O_TRUNC);
        int e = open(err.c_str(), O_WRONLY | O_TRUNC);
        dup2(o, 1);
        dup2(e, 2);
        if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(126);
        std::vector<char*> argv{const_cast<char*>(PREASSIGN_BIN)};
        for (auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(PREASSIGN_BIN, argv.data());
        _exit(127);
    }
    int ws = 0;
    waitpid(pid, &ws, 0);
    Proc p;
    p.status = WIFEXITED(ws) ? WEXITSTATUS(ws) : 128 + WTERMSIG(ws);
    if (stdout_path.empty()) p.out = read_file(out);
    if (stderr_path.empty()) p.err = read_file(err);
    return p;
}

std::string failure(const std::function<void()>& body) {
    try {
        body();
    } catch (const Failure& f) {
        return f.message;
    }
    return "no failure";
}
