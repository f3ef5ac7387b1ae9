// What the host's file system says of a file or a folder: which one it is, its kind, its size and
// the times it last changed. A device process reads the same files at every boot, and a replay
// boots once a stroke; a stamp equal to an earlier one tells it the file is as it was then.
#pragma once

#include <sys/stat.h>

#include <ctime>
#include <string>

namespace dev {

struct FileStamp {
  dev_t device = 0;
  ino_t inode = 0;
  mode_t mode = 0;
  off_t size = 0;
  struct timespec modified {
  }, changed{};
  bool regular() const { return S_ISREG(mode); }
  bool folder() const { return S_ISDIR(mode); }
  bool operator==(const FileStamp& o) const {
    return device == o.device && inode == o.inode && mode == o.mode && size == o.size &&
           modified.tv_sec == o.modified.tv_sec && modified.tv_nsec == o.modified.tv_nsec &&
           changed.tv_sec == o.changed.tv_sec && changed.tv_nsec == o.changed.tv_nsec;
  }
};

// The stamp of `path`; false when there is none to trust: it cannot be read, or the path changed
// in the last two seconds. The file system takes its times from a clock that moves a few
// milliseconds at a time, so something changed twice within one step would keep its stamp.
bool file_stamp(const std::string& path, FileStamp* out);

}  // namespace dev
