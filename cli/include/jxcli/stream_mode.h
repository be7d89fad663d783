#pragma once

#include "jxcli/codec_args.h"

namespace jxcli {

// Runs jxenc or jxdec with "--stdout": the one file named, or standard input when none is,
// goes through the codec to standard output. Standard output carries only the data; every
// message, prompt and progress line goes to standard error or the terminal. Usage errors end
// the run with status 2 before any prompt; the returned status is that of the run.
int run_stream_mode(const char* program, Codec codec, const CodecCommand& command);

}  // namespace jxcli
