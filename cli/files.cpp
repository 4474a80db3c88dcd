// SPDX-License-Identifier: MIT
#include "tapsmith/cli/files.hpp"

#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>

namespace tapsmith::cli {

namespace {

std::string problem(std::string_view what, const std::string& path, std::string_view why) {
    std::string text(what);
    text += " '";
    text += path;
    text += "': ";
    text += why;
    return text;
}

// The mode any new file gets (umask can only be read by setting it).
mode_t new_file_mode() noexcept {
    const mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

}  // namespace

staged_files::~staged_files() {
    discard();
}

void staged_files::discard() noexcept {
    for (file& f : files_) {
        if (f.stream != nullptr) {
            (void)std::fclose(f.stream);
            f.stream = nullptr;
        }
        if (!f.temporary.empty()) {
            (void)unlink(f.temporary.c_str());
            f.temporary.clear();
        }
    }
}

std::string staged_files::add(const std::string& path) {
    struct stat seen {};
    // A trailing slash names a directory whether or not one exists; a rename
    // onto "." or an existing directory would fail only at the very end.
    if (path.empty() || path.back() == '/' || (stat(path.c_str(), &seen) == 0 && S_ISDIR(seen.st_mode))) {
        return problem("cannot write", path, "it is a directory");
    }
    for (const file& f : files_) {
        if (f.path == path) {
            return problem("cannot write", path, "it is named twice");
        }
    }
    file f;
    f.path = path;
    f.temporary = path + ".XXXXXX";
    const int fd = mkstemp(f.temporary.data());
    if (fd < 0) {
        return problem("cannot create", path, std::strerror(errno));
    }
    // mkstemp makes the file private; the result gets the mode of any new file.
    f.stream = fchmod(fd, new_file_mode()) == 0 ? fdopen(fd, "wb") : nullptr;
    if (f.stream == nullptr) {
        const int error = errno;
        (void)close(fd);
        (void)unlink(f.temporary.c_str());
        return problem("cannot create", path, std::strerror(error));
    }
    files_.push_back(std::move(f));
    return {};
}

std::string staged_files::commit() {
    std::string failure;
    for (file& f : files_) {
        // A failed write leaves its data in the buffer and the error flag
        // set; flushing tries again and says why. A full disk or a size
        // limit often shows only here, with the last buffer.
        errno = 0;
        int error = std::fflush(f.stream) != 0 || std::ferror(f.stream) != 0 ? (errno != 0 ? errno : EIO) : 0;
        if (std::fclose(f.stream) != 0 && error == 0) {
            error = errno;
        }
        f.stream = nullptr;
        if (failure.empty() && error != 0) {
            failure = problem("cannot write", f.path, std::strerror(error));
        }
    }
    if (!failure.empty()) {
        discard();
        return failure;
    }
    for (file& f : files_) {
        if (std::rename(f.temporary.c_str(), f.path.c_str()) != 0) {
            failure = problem("cannot replace", f.path, std::strerror(errno));
            discard();
            return failure;
        }
        f.temporary.clear();
    }
    return {};
}

void write_to_stream(void* stream, const char* data, std::size_t size) {
    (void)std::fwrite(data, 1, size, static_cast<std::FILE*>(stream));
}

}  // namespace tapsmith::cli
