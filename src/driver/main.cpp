// Entry point: runs the job and reports a failure once, at this edge.
#include <csignal>
#include <unistd.h>

#include "driver/run.h"

int main(int argc, char** argv) {
    // Past a file size limit (ulimit -f) a write then fails with EFBIG and
    // the run says "File too large", instead of dying by SIGXFSZ unexplained
    // with a temporary file left behind.
    std::signal(SIGXFSZ, SIG_IGN);
    Out out(STDOUT_FILENO, "standard output");
    Out err(STDERR_FILENO, "standard error");
    // A failure's line goes out on its own, without text left half-written.
    Out msg(STDERR_FILENO, "standard error");
    return report_failures(msg, [&] {
        const int status = run(argc, argv, out, err);
        out.flush();
        err.flush();
        return status;
    });
}
