#include "jxcli/codec_run.h"

#include <cerrno>
#include <cstdio>
#include <new>

#include "jx/thread_count.h"
#include "jxcli/memory_reserve.h"
#include "jxcli/progress.h"

namespace jxcli {

CodecRun::CodecRun(const jx::Key& key, jx::CodeTables::Use use, const CodecCommand& command)
    : tables(jx::CodeTables::build(key, use)),
      buffers(std::make_shared<jx::StreamBuffers>()),
      on_terminal(ProgressMeter::stderr_is_terminal()),
      threads(command.threads != 0 ? command.threads : jx::default_thread_count()) {}

void CodecRun::lend_to(jx::Context& context) const {
  context.buffers = buffers;
  context.threads = threads;
}

bool reporting_lack_of_memory(const std::function<bool()>& work) {
  try {
    return work();
  } catch (const std::bad_alloc&) {
    std::printf("%s\n", jx::IoError::os(ENOMEM).detailed_form().c_str());
    keep_memory_reserve();  // for the next file's failure, if there is one
    return false;
  }
}

}  // namespace jxcli
