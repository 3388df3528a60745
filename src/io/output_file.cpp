#include "io/output_file.h"

#include <cerrno>
#include <cstring>
#include <utility>

#include "io/failure.h"

namespace {
[[noreturn]] void fail(const std::string& path, int e) {
    throw Failure{kStatusInput, path + ": " + std::strerror(e)};
}
}  // namespace

OutputFile::OutputFile(std::string p) : path(std::move(p)), f(std::fopen(path.c_str(), "w")) {
    if (!f) fail(path, errno);
}

OutputFile::~OutputFile() {
    if (f) std::fclose(f);
}

bool OutputFile::write(const void* data, size_t n) noexcept {
    if (error != 0) return false;
    errno = 0;
    if (std::fwrite(data, 1, n, f) != n) error = errno ? errno : EIO;
    return error == 0;
}

void OutputFile::close() {
    errno = 0;
    const int closed = std::fclose(f);
    f = nullptr;
    if (error != 0) fail(path, error);
    if (closed != 0) fail(path, errno ? errno : EIO);
}
