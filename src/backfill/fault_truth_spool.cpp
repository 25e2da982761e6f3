#include "backfill/fault_truth_spool.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <string_view>
#include <system_error>

#include "support/safe_file.h"
#include "support/system_error.h"

namespace tly {
namespace {

// An unnamed file open for reading and writing, in `dir` when its file
// system has them, else in the system's temporary directory.
int OpenScratchFile(const std::string& dir) {
  const int fd = ::open(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd >= 0) return fd;
  std::FILE* file = std::tmpfile();
  if (file == nullptr) {
    const int error = errno;
    ThrowSystemError(error, "cannot make a scratch file for the truth in " + dir);
  }
  const int copy = ::fcntl(::fileno(file), F_DUPFD_CLOEXEC, 0);
  const int error = errno;
  std::fclose(file);
  if (copy < 0) ThrowSystemError(error, "cannot make a scratch file for the truth");
  return copy;
}

}  // namespace

FaultTruthSpool::FaultTruthSpool(const std::string& dir, size_t groups)
    : fd_(OpenScratchFile(dir)), groups_(groups) {}

FaultTruthSpool::~FaultTruthSpool() {
  ::close(fd_);
}

void FaultTruthSpool::Add(size_t group, const std::vector<FaultRecord>& records) {
  if (records.empty()) return;
  std::string lines;
  for (const FaultRecord& record : records) {
    lines += FaultRecordJson(record);
    lines += '\n';
  }
  Group& into = groups_[group];
  if (into.prefix.empty()) into.prefix = lines.substr(0, lines.find('/') + 1);
  for (size_t done = 0; done < lines.size();) {
    const ssize_t written =
        ::pwrite(fd_, lines.data() + done, lines.size() - done, static_cast<off_t>(size_ + done));
    if (written < 0 && errno == EINTR) continue;
    if (written < 0) {
      const int error = errno;
      ThrowSystemError(error, "cannot keep the truth in its scratch file");
    }
    done += static_cast<size_t>(written);
  }
  if (!into.extents.empty() && into.extents.back().offset + into.extents.back().size == size_) {
    into.extents.back().size += lines.size();
  } else {
    into.extents.push_back({size_, lines.size()});
  }
  size_ += lines.size();
}

std::string FaultTruthSpool::SortedLinesOf(const std::vector<const Group*>& groups) const {
  std::string bytes;
  for (const Group* group : groups) {
    for (const Extent& extent : group->extents) {
      const size_t start = bytes.size();
      bytes.resize(start + extent.size);
      for (size_t done = 0; done < extent.size;) {
        const ssize_t read = ::pread(fd_, bytes.data() + start + done, extent.size - done,
                                     static_cast<off_t>(extent.offset + done));
        if (read < 0 && errno == EINTR) continue;
        if (read <= 0) {
          const int error = read < 0 ? errno : EIO;
          ThrowSystemError(error, "cannot read the truth back from its scratch file");
        }
        done += static_cast<size_t>(read);
      }
    }
  }
  std::vector<std::string_view> lines;
  for (size_t begin = 0; begin < bytes.size();) {
    const size_t end = bytes.find('\n', begin);
    lines.emplace_back(bytes.data() + begin, end - begin + 1);
    begin = end + 1;
  }
  std::sort(lines.begin(), lines.end());
  lines.erase(std::unique(lines.begin(), lines.end()), lines.end());
  std::string sorted;
  sorted.reserve(bytes.size());
  for (const std::string_view line : lines) sorted += line;
  return sorted;
}

void FaultTruthSpool::WriteTruth(const std::string& path) const {
  std::vector<const Group*> order;
  for (const Group& group : groups_) {
    if (!group.extents.empty()) order.push_back(&group);
  }
  // Lines of different groups never begin alike (a site's name holds no
  // '/'), so the groups in the order of their beginnings, each sorted, give
  // the lines sorted; sites of the same name are sorted together.
  std::stable_sort(order.begin(), order.end(),
                   [](const Group* a, const Group* b) { return a->prefix < b->prefix; });
  const std::string temp = TempFileNameFor(path);
  // What stands under the temporary name and cannot be removed is not ours;
  // what was created is removed on any later failure.
  NewFile file(temp);
  try {
    for (size_t first = 0; first < order.size();) {
      size_t last = first + 1;
      while (last < order.size() && order[last]->prefix == order[first]->prefix) ++last;
      file.Write(SortedLinesOf({order.begin() + static_cast<std::ptrdiff_t>(first),
                                order.begin() + static_cast<std::ptrdiff_t>(last)}));
      first = last;
    }
    file.Close();
    RenameOver(temp, path);
  } catch (const std::system_error&) {
    RemoveQuietly(temp);
    throw;
  }
}

}  // namespace tly
