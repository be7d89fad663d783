#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <new>
#include <optional>

#include "block_plan.h"
#include "chunk_reader.h"
#include "chunk_writer.h"
#include "jx/byte_order.h"
#include "jx/context.h"
#include "jx/format.h"
#include "jx/output_file.h"
#include "parallel_decoder.h"
#include "parallel_encoder.h"
#include "pipeline_shape.h"

namespace jx {
namespace {

IoError malformed(std::string why) {
  return IoError::custom(ErrorKind::InvalidData, std::move(why));
}

// Storage for the block at hand, reused from block to block.
struct BlockWork {
  BlockPlan plan;
  std::array<std::uint8_t, 256> block;  // input bytes and filler of a block not full
  std::array<std::uint8_t, 256> out;    // the scrambled block before expansion or after

  ~BlockWork() {
    wipe(block.data(), block.size());
    wipe(out.data(), out.size());
  }
};

std::size_t block_size(const Options& options) {
  return options.inflate ? format::kInflatedBlockSize : format::kBlockSize;
}

// The stream's key words: each derived from the first, rewritten with the modifiers.
void rewrite_key_words(Context& context) {
  Key& key = context.key;
  key.a ^= context.mod_a;
  key.b = key.a ^ context.mod_b;
  key.c = key.a ^ context.mod_c;
  key.s = key.a ^ context.mod_s;
}

void fill_with_filler(Rng& rng, std::array<std::uint8_t, 256>& block, std::size_t from) {
  std::size_t p = from;
  for_each_step(rng, block.size() - from,
                [&](std::uint64_t out) { block[p++] = static_cast<std::uint8_t>(out); });
}

Status write_header(const Context& context, ChunkWriter& writer) {
  std::array<std::uint8_t, format::kHeaderSize> header;
  std::copy(format::kStreamMagic.begin(), format::kStreamMagic.end(), header.begin());
  header[format::kStreamVersionAt] = format::kStreamVersion;
  header[format::kOptionsAt] = context.options.bits();
  std::uint8_t* modifier = &header[format::kModifiersAt];
  for (std::uint64_t word : {context.mod_a, context.mod_b, context.mod_c, context.mod_s}) {
    store_big_endian_64(word, modifier);
    modifier += 8;
  }
  return writer.append(header);
}

// Encrypts the next block of input into the writer; returns the count of input bytes it
// took, 0 once the input has ended.
Result<std::size_t> encode_block(Context& context, ChunkReader& reader, ChunkWriter& writer,
                                 BlockWork& work, std::uint64_t number) {
  const BlockPlan& plan = work.plan;
  plan_block(context.key, context.options.partial, number, work.plan);
  auto available = reader.fill(plan.length);
  if (!available) return available.error();
  const std::size_t taken = std::min(available.value(), plan.length);
  if (taken == 0) return taken;

  const std::uint8_t* source = reader.data();
  if (taken < 256) {
    std::memcpy(work.block.data(), source, taken);
    fill_with_filler(context.rng, work.block, taken);
    source = work.block.data();
  }
  const std::size_t size = block_size(context.options);
  auto room = writer.reserve(size);
  if (!room) return room.error();
  std::uint8_t* scrambled = context.options.inflate ? work.out.data() : room.value();
  scramble(plan, context.key.k, source, scrambled);
  if (context.options.inflate) context.inflate_4x(scrambled, room.value());
  writer.advance(size);
  reader.consume(taken);
  return taken;
}

// A write that accepted nothing, named after the part of the stream where it stalled.
IoError name_stalled_write(IoError error, const ChunkWriter& writer, std::uint64_t footer_at,
                           bool inflate) {
  if (!writer.stalled() || writer.written() < Context::kHeaderSize) return error;
  if (writer.written() >= footer_at) return IoError::custom("Cannot write footer");
  return IoError::custom(inflate ? "Cannot write a complete (expanded) block"
                                 : "Cannot write a complete (regular) block");
}

// Tells the context's listener, every 4096 blocks, how many input bytes are consumed.
void report_progress(const Context& context, std::uint64_t block, std::uint64_t consumed) {
  if (context.on_progress && block % 4096 == 0) context.on_progress(consumed);
}

// Encrypts every block of the input on the calling thread; gives the input's size and the
// count of blocks.
Status encode_blocks(Context& context, ChunkReader& reader, ChunkWriter& writer,
                     std::uint64_t& total, std::uint64_t& blocks) {
  BlockWork work;
  for (;; ++blocks) {
    auto taken = encode_block(context, reader, writer, work, blocks);
    if (!taken) return taken.error();
    if (taken.value() == 0) return Done{};
    total += taken.value();
    report_progress(context, blocks, total);
  }
}

Status encode_all(Context& context, File& input, ChunkWriter& writer, std::uint64_t& footer_at) {
  if (auto written = write_header(context, writer); !written) return written;
  std::uint64_t total = 0;
  std::uint64_t blocks = 0;
  std::optional<Status> encoded;
  if (auto shape = choose_shape(context.threads, block_size(context.options),
                                context.options.inflate, input)) {
    ParallelEncoder encoder(context, input, writer, *shape);
    encoded = encoder.run();
    total = encoder.input_size();
    blocks = encoder.blocks();
  }
  if (!encoded) {
    ChunkReader reader(input, context.buffers->input());
    encoded = encode_blocks(context, reader, writer, total, blocks);
  }
  if (!*encoded) return *encoded;
  footer_at = Context::kHeaderSize + blocks * block_size(context.options);
  std::uint8_t footer[format::kFooterSize];
  store_big_endian_64(total, footer);
  if (auto written = writer.append(footer); !written) return written;
  return writer.flush();
}

// Reads and checks the header, and takes the stream's modifiers and options from it.
Status read_header(Context& context, ChunkReader& reader) {
  auto available = reader.fill(Context::kHeaderSize);
  if (!available) return available.error();
  const std::uint8_t* header = reader.data();
  const std::string_view magic(reinterpret_cast<const char*>(header),
                               std::min(available.value(), format::kMagicSize));
  if (magic != format::kStreamMagic) {
    return malformed("not a stream file");
  }
  if (available.value() < Context::kHeaderSize)
    return malformed("stream is truncated or corrupted");
  const std::uint8_t version = header[format::kStreamVersionAt];
  if (version != format::kStreamVersion) {
    return malformed("unsupported stream version " + std::to_string(version));
  }
  const std::uint8_t bits = header[format::kOptionsAt];
  if ((bits & ~format::kKnownOptionBits) != 0) {
    return malformed("unknown stream options " + std::to_string(bits));
  }
  context.options.set_bits(bits);
  const std::uint8_t* modifier = &header[format::kModifiersAt];
  for (std::uint64_t* word : {&context.mod_a, &context.mod_b, &context.mod_c, &context.mod_s}) {
    *word = load_big_endian_64(modifier);
    modifier += 8;
  }
  reader.consume(Context::kHeaderSize);
  return Done{};
}

// Decrypts one stored block into the 256 bytes at `out`, of which the first
// work.plan.length are its input bytes unless it is the last.
void decode_block(const Context& context, const ByteTable& position, const std::uint8_t* stored,
                  std::uint8_t* out, BlockWork& work, std::uint64_t number) {
  plan_block(context.key, context.options.partial, number, work.plan);
  const std::uint8_t* scrambled = stored;
  if (context.options.inflate) {
    contract(context, position, stored, work.out.data());
    scrambled = work.out.data();
  }
  unscramble(work.plan, position, scrambled, out);
}

// Decrypts the blocks that follow the header. How many input bytes the last block holds is
// known only from the footer, so each block goes out with its requested length and the
// surplus of the last is taken back.
Status decode_blocks(Context& context, const ByteTable& position, ChunkReader& reader,
                     ChunkWriter& writer) {
  const std::size_t size = block_size(context.options);
  BlockWork work;
  std::uint64_t blocks = 0;
  std::uint64_t before_last = 0;  // input bytes of the blocks before the last one decoded
  std::uint64_t through_last = 0;
  for (;;) {
    auto available = reader.fill(size + Context::kFooterSize);
    if (!available) return available.error();
    if (available.value() < size + Context::kFooterSize) break;
    auto room = writer.reserve(256);
    if (!room) return room.error();
    decode_block(context, position, reader.data(), room.value(), work, blocks);
    writer.advance(work.plan.length);
    reader.consume(size);
    report_progress(context, blocks, Context::kHeaderSize + (blocks + 1) * size);
    ++blocks;
    before_last = through_last;
    through_last += work.plan.length;
  }
  if (reader.available() != Context::kFooterSize)
    return malformed("stream is truncated or corrupted");
  const std::uint64_t total = load_big_endian_64(reader.data());
  const bool agrees = blocks == 0 ? total == 0 : before_last < total && total <= through_last;
  if (!agrees) return malformed("stream is truncated or corrupted");
  writer.take_back(static_cast<std::size_t>(through_last - total));
  return writer.flush();
}

// On an input that can be measured, refuses a footer that no stream of the input's size can
// hold before anything is decoded; other inputs are checked when their end is reached.
Status check_footer_against_size(File& input) {
  struct stat info;
  if (::fstat(input.fd(), &info) != 0 || !S_ISREG(info.st_mode)) return Done{};
  auto at = input.position();
  const auto size = static_cast<std::uint64_t>(info.st_size);
  const std::uint64_t framing = Context::kHeaderSize + Context::kFooterSize;
  if (!at || size < at.value() || size - at.value() < framing) return Done{};
  std::uint8_t header[Context::kHeaderSize];
  std::uint8_t footer[Context::kFooterSize];
  if (::pread(input.fd(), header, sizeof header, static_cast<off_t>(at.value())) !=
          static_cast<ssize_t>(sizeof header) ||
      ::pread(input.fd(), footer, sizeof footer, static_cast<off_t>(size - sizeof footer)) !=
          static_cast<ssize_t>(sizeof footer)) {
    return Done{};
  }
  // A header that fails its own checks is reported by them.
  const std::string_view magic(reinterpret_cast<const char*>(header), format::kMagicSize);
  const std::uint8_t bits = header[format::kOptionsAt];
  if (magic != format::kStreamMagic || header[format::kStreamVersionAt] != format::kStreamVersion ||
      (bits & ~format::kKnownOptionBits) != 0) {
    return Done{};
  }
  Options options;
  options.set_bits(bits);
  const std::uint64_t body = size - at.value() - framing;
  const std::uint64_t stored = block_size(options);
  const std::uint64_t blocks = body / stored;
  const std::uint64_t shortest = options.partial ? 129 : 256;
  const std::uint64_t total = load_big_endian_64(footer);
  const bool fits = body % stored == 0 &&
                    (blocks == 0 ? total == 0
                                 : (blocks - 1) * shortest < total && total <= blocks * 256);
  if (!fits) return malformed("stream is truncated or corrupted");
  return Done{};
}

}  // namespace

Status Context::encode_stream(File& input, File& output) {
  if (auto begun = begin_stream(true); !begun) return begun;
  mod_a = rng.get();
  mod_b = rng.get();
  mod_c = rng.get();
  mod_s = rng.get();
  rewrite_key_words(*this);
  ChunkWriter writer(output, buffers->output());
  std::uint64_t footer_at = std::numeric_limits<std::uint64_t>::max();
  Status encoded = encode_all(*this, input, writer, footer_at);
  if (!encoded) return name_stalled_write(encoded.error(), writer, footer_at, options.inflate);
  return Done{};
}

Status Context::decode_stream(File& input, File& output) {
  if (auto begun = begin_stream(false); !begun) return begun;
  if (!key.is_permutation()) {
    return IoError::custom(ErrorKind::InvalidInput, "the key is not a permutation");
  }
  if (auto plausible = check_footer_against_size(input); !plausible) return plausible;
  ChunkReader reader(input, buffers->input());
  if (auto header = read_header(*this, reader); !header) return header;
  rewrite_key_words(*this);
  ByteTable position;
  for (std::size_t i = 0; i < 256; ++i) position[key.k[i]] = static_cast<std::uint8_t>(i);
  ChunkWriter writer(output, buffers->output());
  std::optional<Status> decoded;
  if (auto shape = choose_shape(threads, block_size(options), false, input)) {
    decoded = ParallelDecoder(*this, position, input, reader, writer, *shape).run();
  }
  if (!decoded) decoded = decode_blocks(*this, position, reader, writer);
  wipe(position.data(), position.size());
  return *decoded;
}

namespace {

// Runs one of the stream operations from the file at `input` into an output file that takes
// the name `output` only once the operation succeeded. The input is opened without waiting,
// so that a fifo nobody writes to does not hold up the refusal of an existing output.
Status transform_file(Context& context, Status (Context::*operation)(File&, File&),
                      const std::string& input, const std::string& output, bool force,
                      mode_t mode, bool exact_mode) {
  try {
    auto source = File::open_read_without_waiting(input);
    if (!source) return source.error();
    if (!force && path_exists(output)) return IoError::os(EEXIST);
    if (auto waited = source.value().wait_for_input(); !waited) return waited;
    auto target = OutputFile::create(output, mode, exact_mode);
    if (!target) return target.error();
    if (auto done = (context.*operation)(source.value(), target.value().file()); !done) {
      return done;
    }
    return target.value().commit(force);
  } catch (const std::bad_alloc&) {
    return IoError::os(ENOMEM);
  }
}

}  // namespace

// A context that has served its stream fails before any file is touched, and the buffers are
// in place before the output exists.
Status Context::encode_file(const std::string& input, const std::string& output, bool force) {
  if (auto unused = refuse_if_served(); !unused) return unused;
  if (!buffers) buffers = std::make_shared<StreamBuffers>();
  return transform_file(*this, &Context::encode_stream, input, output, force, 0666, false);
}

Status Context::decode_file(const std::string& input, const std::string& output, bool force) {
  if (auto unused = refuse_if_served(); !unused) return unused;
  if (!buffers) buffers = std::make_shared<StreamBuffers>();
  return transform_file(*this, &Context::decode_stream, input, output, force, 0600, true);
}

}  // namespace jx
