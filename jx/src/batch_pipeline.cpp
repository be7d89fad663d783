#include "batch_pipeline.h"

#include <new>
#include <system_error>

namespace jx {

BatchPipeline::BatchPipeline(std::vector<Batch>& ring, std::size_t workers)
    : ring_(ring),
      workers_(workers),
      states_(ring.size(), State::Free),
      numbers_(ring.size(), std::numeric_limits<std::uint64_t>::max()) {}

BatchPipeline::~BatchPipeline() {
  stop();
  threads_.join();
}

bool BatchPipeline::start(BatchStages& stages) {
  try {
    threads_.start([this, &stages] { feed(stages); });
    for (std::size_t i = 0; i < workers_; ++i) threads_.start([this, &stages] { work(stages); });
    return true;
  } catch (const std::system_error&) {
  } catch (const std::bad_alloc&) {
  }
  stop();
  threads_.join();
  return false;
}

Status BatchPipeline::run(BatchStages& stages) {
  {
    std::lock_guard lock(mutex_);
    going_ = true;
  }
  changed_.notify_all();
  Status drained = drain_in_order(stages);
  if (!drained) stop();
  threads_.join();
  return drained;
}

void BatchPipeline::feed(BatchStages& stages) {
  for (std::uint64_t number = 0;; ++number) {
    const std::size_t slot = slot_of(number);
    {
      std::unique_lock lock(mutex_);
      changed_.wait(lock, [&] { return stopped_ || (going_ && states_[slot] == State::Free); });
      if (stopped_) return;
    }
    Batch& batch = ring_[slot];
    batch.number = number;
    const bool last = stages.fill(batch);
    {
      std::lock_guard lock(mutex_);
      numbers_[slot] = number;
      states_[slot] = State::Filled;
      if (last) end_ = number + 1;
    }
    changed_.notify_all();
    if (last) return;
  }
}

void BatchPipeline::work(BatchStages& stages) {
  for (;;) {
    std::uint64_t number;
    {
      std::unique_lock lock(mutex_);
      number = next_to_transform_++;
      changed_.wait(lock,
                    [&] { return stopped_ || number >= end_ || holds(number, State::Filled); });
      if (stopped_ || !holds(number, State::Filled)) return;
    }
    stages.transform(ring_[slot_of(number)]);
    hand_on(number, State::Transformed);
  }
}

Status BatchPipeline::drain_in_order(BatchStages& stages) {
  for (std::uint64_t number = 0;; ++number) {
    {
      std::unique_lock lock(mutex_);
      changed_.wait(lock, [&] { return holds(number, State::Transformed); });
    }
    Batch& batch = ring_[slot_of(number)];
    if (auto drained = stages.drain(batch); !drained) return drained;
    const bool last = batch.last;
    hand_on(number, State::Free);
    if (last) return Done{};
  }
}

void BatchPipeline::hand_on(std::uint64_t number, State state) {
  {
    std::lock_guard lock(mutex_);
    states_[slot_of(number)] = state;
  }
  changed_.notify_all();
}

void BatchPipeline::stop() {
  {
    std::lock_guard lock(mutex_);
    stopped_ = true;
  }
  changed_.notify_all();
}

}  // namespace jx
