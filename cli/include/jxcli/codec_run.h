#pragma once

#include <cstddef>
#include <functional>
#include <memory>

#include "jx/code_tables.h"
#include "jx/context.h"
#include "jx/key.h"
#include "jx/stream_buffers.h"
#include "jxcli/codec_args.h"

namespace jxcli {

// What the files of one jxenc or jxdec run share: the key's code tables for the run's
// direction, the chunk buffers, whether a progress meter can be shown, and how many threads a
// stream may use. All of it is made once, before any output exists.
struct CodecRun {
  std::shared_ptr<const jx::CodeTables> tables;
  std::shared_ptr<jx::StreamBuffers> buffers;
  bool on_terminal;
  std::size_t threads;

  CodecRun(const jx::Key& key, jx::CodeTables::Use use, const CodecCommand& command);
  // Lends the shared parts to the context of one file.
  void lend_to(jx::Context& context) const;
};

// Runs the work of one file and returns whether it succeeded; a lack of memory is printed
// like any other failure of the file, in the detailed form of an OutOfMemory error.
bool reporting_lack_of_memory(const std::function<bool()>& work);

}  // namespace jxcli
