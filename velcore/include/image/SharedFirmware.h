#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "common/ProgressSink.h"
#include "image/FileStamp.h"
#include "image/HexFileLoader.h"

namespace vel {

// The loads of a firmware file that several documents share (the rows of one walk), so that
// rows side by side hold one copy of a big file. Each document asks for the file as it stands
// now: while it is the file last loaded, the document gets that load; when it changed, the file
// is loaded again and the documents after it share the new load. A file is taken as unchanged
// when its stamp (device, inode, size, modification and change time) is the one it had when it
// was read, provided it had stood still for a while before that read (its times then tell any
// later change); otherwise its bytes are read again and compared with the last load's. Safe from
// several threads: a document that asks while another loads waits for that load.
class SharedFirmware {
 public:
  // The file at `path` for a document: the last load, or a new one with the loader's progress.
  // *loaded gets what the load read (for a failed load the images read before the fault;
  // nullptr when the file could not be read at all).
  LoadResult Load(const std::string& path, ProgressSink* progress,
                  std::shared_ptr<const LoadedFirmware>* loaded);
  // How many times a file was loaded (read and split into its records), and how many times a
  // document was given the last load instead.
  int Loads() const;
  int Reuses() const;

 private:
  // Whether the file at `path` is the one last loaded; a comparison of its bytes takes its
  // stamp as the last load's from then on.
  bool Unchanged(const std::string& path);

  mutable std::mutex mutex_;  // held for a whole Load: guards what follows
  std::string path_;
  std::shared_ptr<const LoadedFirmware> last_;  // the last load that succeeded, for path_
  FileStamp stamp_;                             // the file as last_ was read from it
  bool stampTellsChange_ = false;  // the file stood still long enough before it was read
  int loads_ = 0;
  int reuses_ = 0;
};

}  // namespace vel
