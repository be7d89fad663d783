#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <mutex>
#include <vector>

#include "batch.h"
#include "batch_stages.h"
#include "jx/io_error.h"
#include "stage_threads.h"

namespace jx {

// Runs the stages of a parallel run over a fixed ring of batches: a filling thread, worker
// threads that transform, and the calling thread, which drains the batches in order. Batch n
// lives in slot n mod the ring's size; memory stays that of the ring whatever the input.
// The first drain error stops every stage and is the run's result.
class BatchPipeline {
 public:
  BatchPipeline(std::vector<Batch>& ring, std::size_t workers);
  ~BatchPipeline();  // stops and joins the threads
  BatchPipeline(const BatchPipeline&) = delete;
  BatchPipeline& operator=(const BatchPipeline&) = delete;

  // Makes every thread, before any input is read; false, with none left, when the system
  // cannot make them all, so that the caller can still run the stream on its own thread.
  bool start(BatchStages& stages);
  // Lets the threads go and drains every batch.
  Status run(BatchStages& stages);

 private:
  enum class State { Free, Filled, Transformed };

  void feed(BatchStages& stages);
  void work(BatchStages& stages);
  Status drain_in_order(BatchStages& stages);
  // Sets the state of batch `number`'s slot and wakes every waiting stage.
  void hand_on(std::uint64_t number, State state);
  void stop();
  std::size_t slot_of(std::uint64_t number) const { return number % ring_.size(); }
  bool holds(std::uint64_t number, State state) const {
    return numbers_[slot_of(number)] == number && states_[slot_of(number)] == state;
  }

  std::vector<Batch>& ring_;
  std::size_t workers_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<State> states_;
  std::vector<std::uint64_t> numbers_;  // the batch each slot holds
  std::uint64_t next_to_transform_ = 0;
  std::uint64_t end_ = std::numeric_limits<std::uint64_t>::max();  // one past the last batch
  bool going_ = false;
  bool stopped_ = false;
  StageThreads threads_;  // last, so that it is joined before the rest goes
};

}  // namespace jx
