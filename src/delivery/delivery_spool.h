#ifndef TLY_DELIVERY_DELIVERY_SPOOL_H_
#define TLY_DELIVERY_DELIVERY_SPOOL_H_

#include <string>
#include <vector>

#include "support/date_time.h"

// The spool: the files a device could not deliver, kept for its next push,
// also across runs. OUT/deliveries.spool holds one line per file,
// "SITE<TAB>FILE<TAB>DUE" (DUE as LocalTimeText gives it), oldest first.

namespace tly {

struct SpooledFile {
  std::string site;
  std::string file_name;  // "yymmdd.tly"
  TDateTime due = 0;
};

// "deliveries.spool", or "deliveries.shard-K-of-N.spool" for a share.
std::string SpoolFileName(int shard_index, int shard_count);

// The spool `path`; empty when it is missing. Lines it cannot read are
// skipped. Throws std::system_error when it cannot be read.
std::vector<SpooledFile> ReadSpool(const std::string& path);

// Replaces the spool `path` with `files`; removes it when there are none.
// Throws std::system_error.
void WriteSpool(const std::string& path, const std::vector<SpooledFile>& files);

}  // namespace tly

#endif  // TLY_DELIVERY_DELIVERY_SPOOL_H_
