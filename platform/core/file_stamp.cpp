#include "device/file_stamp.hpp"

namespace dev {

bool file_stamp(const std::string& path, FileStamp* out) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return false;
  struct timespec now {};
  if (clock_gettime(CLOCK_REALTIME, &now) != 0 || now.tv_sec - st.st_ctim.tv_sec < 2) return false;
  *out = {st.st_dev, st.st_ino, st.st_mode, st.st_size, st.st_mtim, st.st_ctim};
  return true;
}

}  // namespace dev
