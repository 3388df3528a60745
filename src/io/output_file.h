// A results file named on the command line. It is opened before the walk, so
// that a path that cannot be written fails in a second, not after the run;
// every failure names the file and the system's reason.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

struct OutputFile {
    std::string path;
    std::FILE* f = nullptr;
    int error = 0;  // errno of the first failed write

    // Creates or truncates the file; throws Failure when it cannot.
    explicit OutputFile(std::string path);
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    ~OutputFile();

    // False once any write has failed; the reason is kept for close().
    bool write(const void* data, size_t n) noexcept;
    // Throws Failure "FILE: reason" for a failed write or close.
    void close();
};
