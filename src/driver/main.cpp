// Entry point: runs the job and reports a failure once, at this edge.
#include <unistd.h>

#include "driver/failure.h"
#include "driver/run.h"

int main(int argc, char** argv) {
    Out out(STDOUT_FILENO, "standard output");
    Out err(STDERR_FILENO, "standard error");
    try {
        int status = run(argc, argv, out, err);
        out.flush();
        err.flush();
        return status;
    } catch (const Failure& f) {
        Out msg(STDERR_FILENO, "standard error");
        msg << "preassign: " << f.message << '\n';
        try {
            msg.flush();
        } catch (const Failure&) {
        }
        return f.status;
    }
}
