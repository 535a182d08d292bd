#pragma once

#include <sys/types.h>

#include <functional>
#include <shared_mutex>
#include <string>
#include <string_view>

#include "common/Result.h"
#include "common/Waiting.h"

namespace vel {

// Held shared by whoever replaces a file while its temporary file exists. A process about to end
// at once (a second Ctrl-C) takes it exclusively first, so that it never leaves a temporary file
// behind.
using FileCommits = std::shared_timed_mutex;
// Holds `commits` shared while it lives; nothing to hold without one.
inline std::shared_lock<FileCommits> HoldCommits(FileCommits* commits) {
  return commits != nullptr ? std::shared_lock<FileCommits>(*commits)
                            : std::shared_lock<FileCommits>();
}

// How a replaced file's permissions come out.
enum class FileMode {
  kKeepExisting,  // an existing file keeps its mode; a new one gets the given mode
  kAlways,        // the given mode, also for an existing file (a list that holds keys)
};

// Replaces the regular file at `path` (following symbolic links) with `contents` so that a crash
// or a full disk leaves either the old file or the new one, never a mixture: a temporary file
// beside it is written, flushed to disk and renamed over it, with the old file's owner kept where
// the system allows. Anything that is not a regular file is never replaced, nor a file with other
// hard links (the rename would part them). A failure leaves the old file alone.
Result WriteFileAtomically(const std::string& path, std::string_view contents, mode_t mode,
                           FileMode policy = FileMode::kKeepExisting);

// Writes `contents` as a new file with `mode`, whole or not at all, under the first of
// `nameOf(1)`, `nameOf(2)`, ... `nameOf(tries)` (names in one folder) that names nothing, not even
// a dangling symbolic link: a temporary file is written and flushed beside them and linked under
// the name, which fails rather than replace what another process made there meanwhile. Nothing
// that exists is ever replaced. Returns the path written.
Expected<std::string> WriteNewFileAtomically(const std::function<std::string(int)>& nameOf,
                                             int tries, std::string_view contents, mode_t mode);

// Writes `contents` to what `path` is: into a character device or a FIFO as a stream, otherwise
// as WriteFileAtomically does (a directory, socket or block device is refused). A FIFO's reader,
// and room in the FIFO, are waited for under `wait`.
Result WriteIntoPath(const std::string& path, std::string_view contents, mode_t mode,
                     const WaitControl& wait = {});

}  // namespace vel
