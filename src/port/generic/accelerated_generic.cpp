#include "port/accelerated.h"

// Processors other than x86-64: the portable code does all the work.

namespace tly {

Sha1BlocksFn AcceleratedSha1Blocks() {
  return nullptr;
}

FlatTickSumsFn AcceleratedFlatTickSums() {
  return nullptr;
}

}  // namespace tly
