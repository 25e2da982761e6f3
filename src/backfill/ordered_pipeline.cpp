#include "backfill/ordered_pipeline.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <limits>
#include <mutex>
#include <thread>

#include "support/thread_priority.h"

namespace tly {
namespace {

// The consumer frees slots for the producers in runs: a producer that finds
// no free slot sleeps, and waking it costs the consumer a system call. One
// wake per run rather than per item keeps that cost off the consumer, which
// sets the pace.
constexpr int64_t kItemsPerWake = 8;

// Producers of low priority count as starved by other work on the machine
// once the consumer has waited for them this long in all, and for more than
// half the time since they started. Waking a thread, or the file system's own
// work, holds them up now and then, but not for that long.
constexpr std::chrono::milliseconds kStarvedAfter{20};

// The state the producers and the consumer share, under one mutex.
class Pipeline {
 public:
  Pipeline(int64_t count, const PipelineOptions& options,
           const OrderedPipeline::ProduceFn& produce);
  // Stops the producers at their next item or wait and joins them.
  ~Pipeline();
  Pipeline(const Pipeline&) = delete;
  Pipeline& operator=(const Pipeline&) = delete;

  // The slot of item `index` once produced (the first by the consumer
  // itself); rethrows what producing it threw. The items
  // must be taken in order, and each handed back with Consumed.
  size_t Take(int64_t index);
  // The consumer is done with item `index`; its slot may be reused.
  void Consumed(int64_t index);

 private:
  size_t SlotOf(int64_t index) const { return static_cast<size_t>(index) % window_; }
  // Stops the producers at their next item or wait and joins them.
  void Stop();
  void StartProducers(bool background, int threads);
  // The work of one producer: claims the items in turn and produces them.
  // Returns when no item is left, the pipeline stops, or (`background`) it
  // is starved.
  void ProduceItems(bool background);
  // Produces item `index` into its slot, a failure included, and marks it done.
  void MakeItem(int64_t index);
  // Waits, with the lock held, until the item in `slot` is done; starts
  // producers at normal priority when those of low priority are starved
  // (throws std::system_error when none can start).
  void WaitFor(size_t slot, std::unique_lock<std::mutex>& lock);

  const int64_t count_;
  const size_t window_;
  const int jobs_;
  const bool background_;
  const OrderedPipeline::ProduceFn& produce_;

  std::mutex mutex_;
  std::condition_variable space_;  // producers wait for a free slot
  std::condition_variable ready_;  // the consumer waits for its item
  int64_t next_ = 0;               // the next item to claim
  int64_t consumed_ = 0;           // items consumed
  // The first item whose producing failed: none after it is claimed.
  int64_t failed_ = std::numeric_limits<int64_t>::max();
  std::vector<char> done_;  // by slot
  std::vector<std::exception_ptr> failures_;
  int producers_waiting_ = 0;
  bool consumer_waiting_ = false;
  bool stopped_ = false;
  bool starved_ = false;
  const std::chrono::steady_clock::time_point started_ = std::chrono::steady_clock::now();
  std::chrono::steady_clock::duration waited_{};  // by the consumer, for items
  std::vector<std::jthread> threads_;
};

Pipeline::Pipeline(int64_t count, const PipelineOptions& options,
                   const OrderedPipeline::ProduceFn& produce)
    : count_(count),
      window_(std::max<size_t>(options.window, 1)),
      jobs_(static_cast<int>(std::min<int64_t>(std::max(options.jobs, 1), count))),
      background_(options.background),
      produce_(produce),
      done_(window_, 0),
      failures_(window_) {
  try {
    StartProducers(background_, jobs_);
  } catch (...) {
    Stop();
    throw;
  }
}

Pipeline::~Pipeline() {
  Stop();
}

void Pipeline::Stop() {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    stopped_ = true;
  }
  space_.notify_all();
  threads_.clear();
}

void Pipeline::StartProducers(bool background, int threads) {
  for (int i = 0; i < threads; ++i) {
    threads_.emplace_back([this, background] {
      // Should the system refuse, the thread produces at normal priority:
      // slower for the consumer, the same items.
      if (background) LowerCallingThreadPriority();
      ProduceItems(background);
    });
  }
}

void Pipeline::ProduceItems(bool background) {
  for (;;) {
    int64_t index = 0;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      const auto has_work = [&] {
        return next_ < consumed_ + static_cast<int64_t>(window_) || next_ >= count_;
      };
      const auto leaves = [&] {
        return stopped_ || (background && starved_) || next_ >= std::min(count_, failed_);
      };
      while (!leaves() && !has_work()) {
        ++producers_waiting_;
        space_.wait(lock);
        --producers_waiting_;
      }
      if (leaves()) return;
      index = next_++;
    }
    MakeItem(index);
  }
}

void Pipeline::MakeItem(int64_t index) {
  const size_t slot = SlotOf(index);
  std::exception_ptr failure;
  try {
    produce_(index, slot);
  } catch (...) {
    failure = std::current_exception();
  }
  const std::lock_guard<std::mutex> lock(mutex_);
  if (failure) failed_ = std::min(failed_, index);
  failures_[slot] = failure;
  done_[slot] = 1;
  if (consumer_waiting_) ready_.notify_one();
}

void Pipeline::WaitFor(size_t slot, std::unique_lock<std::mutex>& lock) {
  if (done_[slot]) return;
  const auto began = std::chrono::steady_clock::now();
  consumer_waiting_ = true;
  ready_.wait(lock, [&] { return done_[slot] != 0; });
  consumer_waiting_ = false;
  const auto now = std::chrono::steady_clock::now();
  waited_ += now - began;
  if (!background_ || starved_ || waited_ <= kStarvedAfter || waited_ <= (now - started_) / 2) {
    return;
  }
  starved_ = true;
  space_.notify_all();
  StartProducers(false, jobs_);
}

size_t Pipeline::Take(int64_t index) {
  const size_t slot = SlotOf(index);
  std::unique_lock<std::mutex> lock(mutex_);
  if (next_ == index) {
    if (index == 0) {
      // A new thread takes a while to start and to make its first item; the
      // consumer, which has nothing else to do yet, makes the first itself.
      ++next_;
      lock.unlock();
      MakeItem(index);
      lock.lock();
    } else {
      // The producers sleep until a run of slots is free: wake them for it.
      space_.notify_all();
    }
  }
  WaitFor(slot, lock);
  if (failures_[slot]) std::rethrow_exception(failures_[slot]);
  return slot;
}

void Pipeline::Consumed(int64_t index) {
  const size_t slot = SlotOf(index);
  bool wake = false;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    done_[slot] = 0;
    consumed_ = index + 1;
    const int64_t run = std::min<int64_t>(kItemsPerWake, static_cast<int64_t>(window_));
    wake = producers_waiting_ > 0 && (consumed_ % run == 0 || consumed_ == count_);
  }
  if (wake) space_.notify_all();
}

}  // namespace

void OrderedPipeline::Run(int64_t count, const PipelineOptions& options, const ProduceFn& produce,
                          const ConsumeFn& consume) {
  if (count <= 0) return;
  Pipeline pipeline(count, options, produce);
  for (int64_t index = 0; index < count; ++index) {
    const size_t slot = pipeline.Take(index);
    consume(index, slot);
    pipeline.Consumed(index);
  }
}

}  // namespace tly
