#ifndef TLY_BACKFILL_ORDERED_PIPELINE_H_
#define TLY_BACKFILL_ORDERED_PIPELINE_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace tly {

// How an ordered pipeline runs.
struct PipelineOptions {
  int jobs = 1;             // threads producing items, 1 or more
  size_t window = 32;       // items produced but not yet consumed, at most; 1 or more
  bool background = false;  // producers at the lowest priority (see OrderedPipeline)
};

// Items 0..count-1 produced on threads of their own, several at once, and
// consumed one by one on the calling thread in index order, with at most
// `window` items produced ahead of the one consumed: memory in use grows with
// the window, never with the count.
//
// Producing runs in `slot`s (0..window-1): item i goes into slot i % window,
// which no other item holds until item i is consumed, so the caller keeps its
// items in a vector of `window` and needs no lock of its own. The consumer
// produces the first item itself while the threads start; the others it
// leaves to them, so that producing hides behind consuming.
//
// With `background` the producers run at the lowest priority, so that they use
// only the cores the consumer and the system's own work leave idle. Should
// other work on the machine starve them (the consumer waits for items most of
// the time), as many producers at normal priority take over.
//
// A failure stops the pipeline and is reported once: an exception thrown by
// `produce` for item i is rethrown by Run when the consumer reaches item i
// (every item before it consumed, none after it); one thrown by `consume`
// leaves Run at once. Either way the threads are stopped at their next item
// and joined before Run returns or throws.
class OrderedPipeline {
 public:
  using ProduceFn = std::function<void(int64_t index, size_t slot)>;
  using ConsumeFn = std::function<void(int64_t index, size_t slot)>;

  // Runs the pipeline over `count` items. `produce` is called from several
  // threads at once (each for another item and slot); `consume` only from
  // the calling thread, in order. Throws std::system_error when a thread
  // cannot be started.
  static void Run(int64_t count, const PipelineOptions& options, const ProduceFn& produce,
                  const ConsumeFn& consume);
};

// OrderedPipeline::Run with the items in a vector of `Item` of its own:
// `produce(index, item)` fills the item (reset it first: it held item
// index - window), `consume(index, item)` takes it.
template <typename Item, typename Produce, typename Consume>
void RunOrdered(int64_t count, const PipelineOptions& options, const Produce& produce,
                const Consume& consume) {
  std::vector<Item> items(options.window);
  OrderedPipeline::Run(
      count, options, [&](int64_t index, size_t slot) { produce(index, items[slot]); },
      [&](int64_t index, size_t slot) { consume(index, items[slot]); });
}

}  // namespace tly

#endif  // TLY_BACKFILL_ORDERED_PIPELINE_H_
