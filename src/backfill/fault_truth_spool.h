#ifndef TLY_BACKFILL_FAULT_TRUTH_SPOOL_H_
#define TLY_BACKFILL_FAULT_TRUTH_SPOOL_H_

#include <cstdint>
#include <string>
#include <vector>

#include "faults/fault_record.h"

namespace tly {

// The ground truth of a backfill kept on disk while the run goes on, so that
// memory does not grow with the run: the passages a counter missed take some
// 4 KB of truth per site-day, gigabytes for a year of a thousand sites.
// Records come in groups (a site each, whose files all begin "<site>/"); the
// lines of each addition go at the end of an unnamed scratch file, and the
// truth file is written at the end one group at a time, with the bytes
// FaultTruthText gives for all the records added (fault_truth_file.h).
class FaultTruthSpool {
 public:
  // Opens the scratch file in the directory `dir` (so that it lies on the
  // truth file's disk rather than in memory), or, where the file system has
  // no unnamed files, in the system's temporary directory. It goes with the
  // spool, however the process ends. Throws std::system_error when it cannot
  // be made.
  FaultTruthSpool(const std::string& dir, size_t groups);
  ~FaultTruthSpool();
  FaultTruthSpool(const FaultTruthSpool&) = delete;
  FaultTruthSpool& operator=(const FaultTruthSpool&) = delete;

  // Adds `records`, all of files of group `group`. Throws std::system_error
  // when the scratch file cannot be written.
  void Add(size_t group, const std::vector<FaultRecord>& records);
  // Replaces the file `path` in one step with the sorted lines of every
  // record added, holding one group's lines in memory at a time. Throws
  // std::system_error when the scratch file cannot be read or `path` cannot
  // be written; `path` is then unchanged and no temporary file remains.
  void WriteTruth(const std::string& path) const;

 private:
  // Where a group's lines lie in the scratch file: a run of bytes, one after
  // another when the group's additions follow each other.
  struct Extent {
    uint64_t offset = 0;
    uint64_t size = 0;
  };
  struct Group {
    std::string prefix;  // its lines' first bytes up to the site's '/', which order groups
    std::vector<Extent> extents;
  };

  // The lines of `groups`, sorted and each once.
  std::string SortedLinesOf(const std::vector<const Group*>& groups) const;

  int fd_ = -1;
  uint64_t size_ = 0;
  std::vector<Group> groups_;
};

}  // namespace tly

#endif  // TLY_BACKFILL_FAULT_TRUTH_SPOOL_H_
