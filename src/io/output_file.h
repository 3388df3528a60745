// A results file named on the command line, written whole or not at all.
// Its text goes to a temporary file beside it, created when the run starts
// (so that a path that cannot be written fails in a second, not after the
// run), and replaces the file only once it is complete and on disk. A
// failure, or a signal that stops the run, removes the temporary file and
// leaves any earlier file as it was. A path that is no regular file (a
// device, a pipe) is written directly. A path that is the run's own standard
// output or error (/dev/stdout, or the file the shell redirected it to) is
// written through that stream when closed, after the run's own text, so the
// shell's file keeps what it held and grows as the shell asked.
#pragma once

#include <cstddef>
#include <string>

struct OutputFile {
    std::string path;    // as given, for messages
    std::string target;  // the file replaced: path, or where a symbolic link at path points
    std::string temp;    // the temporary file, empty when writing directly
    int fd = -1;
    int error = 0;       // errno of the first failed write
    int stream = -1;     // 1 or 2 where path is that standard stream, else -1
    std::string held;    // a standard stream's text, written by close()

    // Throws Failure "FILE: reason" when the file cannot be created.
    explicit OutputFile(std::string path);
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    // Removes the temporary file unless close() put it in place.
    ~OutputFile();

    // False once any write has failed; the reason is kept for close().
    bool write(const void* data, size_t n) noexcept;
    // Syncs and closes the file and puts it in place (for a standard stream:
    // writes the text held; flush the program's own text first). Throws Failure
    // "FILE: reason" for a failed write, sync, close or rename, having
    // removed the temporary file.
    void close();
};

// 1 or 2 where `path` names the run's own standard output or error (the same
// device and inode: /dev/stdout, /proc/self/fd/2, the file the shell
// redirected to), else -1.
int standard_stream(const std::string& path);

// Two paths that name one file: the same device and inode where both exist,
// else the same resolved path.
bool same_file(const std::string& a, const std::string& b);
