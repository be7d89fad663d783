#pragma once

#include "batch.h"
#include "jx/io_error.h"

namespace jx {

// The work of a parallel run, in three stages that a BatchPipeline calls in turn for every
// batch: fill on one thread in batch order, transform on several threads at once (each on
// its own batch), drain on the calling thread in batch order.
class BatchStages {
 public:
  virtual ~BatchStages() = default;

  // Fills the batch with the next blocks of input; true when no batch follows it.
  virtual bool fill(Batch& batch) = 0;
  virtual void transform(Batch& batch) = 0;
  // Writes the batch out; an error ends the run.
  virtual Status drain(Batch& batch) = 0;
};

}  // namespace jx
