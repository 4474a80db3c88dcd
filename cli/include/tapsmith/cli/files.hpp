// SPDX-License-Identifier: MIT
// The files a run writes, all or none. Each is written to a temporary file
// beside its target (the same file system, so that a rename moves it) and
// renamed into place only once every one of them has been written and
// closed; until then, and after any failure, the targets are as they were
// and the temporaries are removed.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

namespace tapsmith::cli {

class staged_files {
  public:
    staged_files() = default;
    staged_files(const staged_files&) = delete;
    staged_files& operator=(const staged_files&) = delete;
    // Closes and removes every temporary not renamed into place.
    ~staged_files();

    // Checks `path` and creates its temporary, before any work is done, so
    // that a run that cannot keep its results fails at once. Returns "" or
    // the problem in the user's terms:
    //   "cannot write 'out/': it is a directory"
    //   "cannot write 'a.hex': it is named twice"
    //   "cannot create 'nodir/frame_in.hex': No such file or directory"
    std::string add(const std::string& path);

    // The stream of the k-th file added, to write the file's bytes to.
    [[nodiscard]] std::FILE* stream(std::size_t k) const noexcept { return files_[k].stream; }

    // Flushes and closes every stream, then renames each temporary over its
    // target. Returns "" or "cannot write 'PATH': REASON" for the first file
    // that could not be written (a full disk, a file-size limit), in which
    // case no target has been touched.
    std::string commit();

  private:
    struct file {
        std::string path;
        std::string temporary;
        std::FILE* stream = nullptr;
    };
    void discard() noexcept;
    std::vector<file> files_;
};

// Where cli::output writes for a stream (its context): the bytes go through
// fwrite, and a failure shows in the stream's error flag.
void write_to_stream(void* stream, const char* data, std::size_t size);

}  // namespace tapsmith::cli
