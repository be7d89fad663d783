#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "harness.h"

namespace {

const std::string kBanner = "libJX file inspection utility (1.0.0)\n\n";

using jxtest::big_endian;
using jxtest::hex;

// Version 1, k the identity table, a = 1, b = 2^56, c = 2^60, s = 2^64 - 1.
std::string literal_key_file() {
  std::string file = "JXK\x01";
  for (int i = 0; i < 256; ++i) file += static_cast<char>(i);
  return file + big_endian(1) + big_endian(std::uint64_t{1} << 56) +
         big_endian(std::uint64_t{1} << 60) + big_endian(~std::uint64_t{0});
}

// The report on literal_key_file(), worked by hand.
const std::string kLiteralKeyReport =
    "filetype:           JXK (JX key)\n"
    "version:            1\n"
    "key (k):            00 01 02 03 04 05 06 07 08 09 0a 0b 0c 0d 0e 0f \n"
    "                    10 11 12 13 14 15 16 17 18 19 1a 1b 1c 1d 1e 1f \n"
    "                    20 21 22 23 24 25 26 27 28 29 2a 2b 2c 2d 2e 2f \n"
    "                    30 31 32 33 34 35 36 37 38 39 3a 3b 3c 3d 3e 3f \n"
    "                    40 41 42 43 44 45 46 47 48 49 4a 4b 4c 4d 4e 4f \n"
    "                    50 51 52 53 54 55 56 57 58 59 5a 5b 5c 5d 5e 5f \n"
    "                    60 61 62 63 64 65 66 67 68 69 6a 6b 6c 6d 6e 6f \n"
    "                    70 71 72 73 74 75 76 77 78 79 7a 7b 7c 7d 7e 7f \n"
    "                    80 81 82 83 84 85 86 87 88 89 8a 8b 8c 8d 8e 8f \n"
    "                    90 91 92 93 94 95 96 97 98 99 9a 9b 9c 9d 9e 9f \n"
    "                    a0 a1 a2 a3 a4 a5 a6 a7 a8 a9 aa ab ac ad ae af \n"
    "                    b0 b1 b2 b3 b4 b5 b6 b7 b8 b9 ba bb bc bd be bf \n"
    "                    c0 c1 c2 c3 c4 c5 c6 c7 c8 c9 ca cb cc cd ce cf \n"
    "                    d0 d1 d2 d3 d4 d5 d6 d7 d8 d9 da db dc dd de df \n"
    "                    e0 e1 e2 e3 e4 e5 e6 e7 e8 e9 ea eb ec ed ee ef \n"
    "                    f0 f1 f2 f3 f4 f5 f6 f7 f8 f9 fa fb fc fd fe ff \n"
    "key (a):            0x00000000000001\n"
    "key (b):            0x100000000000000\n"
    "key (c):            0x1000000000000000\n"
    "key (s):            0xffffffffffffffff\n";

const std::string kModifiers = big_endian(1) + big_endian(0x8000000000000000) +
                               big_endian(0x0123456789abcdef) + big_endian(0xfedcba9876543210);

// The modifier lines of every stream built from kModifiers, worked by hand.
const std::string kModifierLines =
    "***Position mod_a : 5\n"
    "modifier a:         0000000000000001\n"
    "***Position mod_b : 13\n"
    "modifier b:         8000000000000000\n"
    "***Position mod_c : 21\n"
    "modifier c:         0123456789abcdef\n"
    "***Position mod_s : 29\n"
    "modifier s:         fedcba9876543210\n";

// A stream file of `length` bytes (45 at least) with kModifiers and the footer at its end.
std::string stream_file(int version, int options, std::size_t length, std::uint64_t footer) {
  std::string file = "JXD";
  file += static_cast<char>(version);
  file += static_cast<char>(options);
  file += kModifiers;
  for (std::size_t i = file.size(); i + 8 < length; ++i) file += static_cast<char>(i * 7);
  return file + big_endian(footer);
}

// Version 1, no options, one block, 200 bytes of input.
std::string literal_stream_file() {
  return stream_file(1, 0, 301, 200);
}

// The report on literal_stream_file(), worked by hand.
const std::string kLiteralStreamReport =
    "filetype:           JXD (JX encrypted data stream)\n"
    "***Position version : 3\n"
    "version:            1\n"
    "***Position option : 4\n"
    "options byte:       0\n"
    "options.partial:    NO\n"
    "options.inflate:    NO\n"
    "***Position mod_a : 5\n"
    "modifier a:         0000000000000001\n"
    "***Position mod_b : 13\n"
    "modifier b:         8000000000000000\n"
    "***Position mod_c : 21\n"
    "modifier c:         0123456789abcdef\n"
    "***Position mod_s : 29\n"
    "modifier s:         fedcba9876543210\n"
    "\n"
    "file size:          301\n"
    "cipher data size:   256\n"
    "original data size: 200\n"
    "block size:         256\n"
    "number of blocks:   1\n"
    "surplus bytes:      0 \n";

// The report up to and including the first occurrence of `text`.
std::string through(const std::string& report, const std::string& text) {
  const std::size_t at = report.find(text);
  EXPECT_NE(at, std::string::npos) << text;
  return report.substr(0, at + text.size());
}

// The stream report over kModifiers, from the parts that differ between streams.
std::string stream_report(const std::string& version, const std::string& flag_lines,
                          const std::string& modifier_lines, const std::string& size_lines) {
  return "filetype:           JXD (JX encrypted data stream)\n"
         "***Position version : 3\n"
         "version:            " +
         version + "\n***Position option : 4\n" + flag_lines + modifier_lines + "\n" + size_lines;
}

class JxviewTest : public ::testing::Test {
 protected:
  // Runs jxview in the scratch directory; it must write nothing but standard output and leave
  // the directory as it was.
  jxtest::Outcome view(const std::vector<std::string>& arguments,
                       const jxtest::Launch& launch = {}) {
    const auto before = scratch_.entries();
    jxtest::Outcome outcome =
        jxtest::run(scratch_.path(), jxtest::program("jxview"), arguments, launch);
    EXPECT_EQ(outcome.err, "");
    EXPECT_EQ(outcome.signal, 0);
    EXPECT_EQ(scratch_.entries(), before);
    return outcome;
  }

  void expect_report(const std::string& name, const std::string& report, int status) {
    jxtest::Outcome outcome = view({name});
    EXPECT_EQ(outcome.out, kBanner + report);
    EXPECT_EQ(outcome.status, status);
  }

  jxtest::Scratch scratch_;
};

TEST_F(JxviewTest, KeyFileIsDumpedInFull) {
  scratch_.write("k.jxk", literal_key_file());
  expect_report("k.jxk", kLiteralKeyReport, 0);
}

TEST_F(JxviewTest, KeyFileBytesAfterSAreNotRead) {
  scratch_.write("k.jxk", literal_key_file() + "trailing bytes");
  expect_report("k.jxk", kLiteralKeyReport, 0);
}

TEST_F(JxviewTest, KeyFileReadThroughAPipeNeedsNoSeek) {
  jxtest::Launch launch;
  launch.input = literal_key_file();
  jxtest::Outcome outcome = view({"/dev/stdin"}, launch);
  EXPECT_EQ(outcome.out, kBanner + kLiteralKeyReport);
  EXPECT_EQ(outcome.status, 0);
}

TEST_F(JxviewTest, KeyFileCutShortStopsAtTheFirstIncompleteField) {
  const std::string row_f = "f0 f1 f2 f3 f4 f5 f6 f7 f8 f9 fa fb fc fd fe ff ";
  struct Case {
    std::size_t length;
    std::string kept_through;  // the last text of the full report still printed
    std::string message;
  };
  const Case cases[] = {
      {3, "JXK (JX key)\n", "cannot read version value\n"},
      {4, "key (k):            ", "cannot read k component value\n"},
      {259, "key (k):            ", "cannot read k component value\n"},
      {260, row_f, "cannot read a component value\n"},
      {267, row_f, "cannot read a component value\n"},
      {268, "0x00000000000001\n", "cannot read b component value\n"},
      {275, "0x00000000000001\n", "cannot read b component value\n"},
      {276, "0x100000000000000\n", "cannot read c component value\n"},
      {283, "0x100000000000000\n", "cannot read c component value\n"},
      {284, "0x1000000000000000\n", "cannot read s component value\n"},
      {291, "0x1000000000000000\n", "cannot read s component value\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("length " + std::to_string(c.length));
    scratch_.write("k.jxk", literal_key_file().substr(0, c.length));
    expect_report("k.jxk", through(kLiteralKeyReport, c.kept_through) + c.message, 1);
  }
}

// The key report rendered byte by byte from the file: "0x" and the 16 digits of a word, less
// up to two leading zeros.
std::string key_report_of(const std::string& file) {
  std::string report = "filetype:           JXK (JX key)\nversion:            " +
                       std::to_string(static_cast<unsigned char>(file[3])) +
                       "\nkey (k):            ";
  for (std::size_t row = 0; row < 16; ++row) {
    if (row > 0) report += "\n" + std::string(20, ' ');
    for (std::size_t column = 0; column < 16; ++column) {
      report += hex(file.substr(4 + 16 * row + column, 1)) + " ";
    }
  }
  report += "\n";
  const char* const labels[] = {"key (a):            ", "key (b):            ",
                                "key (c):            ", "key (s):            "};
  for (std::size_t i = 0; i < 4; ++i) {
    std::string digits = hex(file.substr(260 + 8 * i, 8));
    while (digits.size() > 14 && digits[0] == '0') digits.erase(0, 1);
    report += std::string(labels[i]) + "0x" + digits + "\n";
  }
  return report;
}

TEST_F(JxviewTest, KeyFileWrittenByJxkey) {
  jxtest::Outcome made = jxtest::run(scratch_.path(), jxtest::program("jxkey"), {"-r", "k"});
  ASSERT_EQ(made.status, 0) << made.out << made.err;
  const std::string file = scratch_.read("k.jxk");
  ASSERT_EQ(file.size(), 292u);
  expect_report("k.jxk", key_report_of(file), 0);
}

TEST_F(JxviewTest, StreamFileReportShowsHeaderAndSizes) {
  scratch_.write("f.jxd", literal_stream_file());
  expect_report("f.jxd", kLiteralStreamReport, 0);
}

TEST_F(JxviewTest, StreamFileCutShortStopsAtTheFirstIncompleteField) {
  struct Case {
    std::size_t length;
    std::string kept_through;
    std::string message;
  };
  std::vector<Case> cases = {
      {3, "***Position version : 3\n", "cannot read version value\n"},
      {4, "***Position option : 4\n", "cannot read option value\n"},
      {5, "***Position mod_a : 5\n", "cannot read mod_a value\n"},
      {12, "***Position mod_a : 5\n", "cannot read mod_a value\n"},
      {13, "***Position mod_b : 13\n", "cannot read mod_b value\n"},
      {20, "***Position mod_b : 13\n", "cannot read mod_b value\n"},
      {21, "***Position mod_c : 21\n", "cannot read mod_c value\n"},
      {28, "***Position mod_c : 21\n", "cannot read mod_c value\n"},
      {29, "***Position mod_s : 29\n", "cannot read mod_s value\n"},
      {36, "***Position mod_s : 29\n", "cannot read mod_s value\n"},
  };
  // A whole header leaves no room for a footer of its own below 45 bytes.
  for (std::size_t length = 37; length <= 44; ++length) {
    cases.push_back({length, "fedcba9876543210\n\n", "cannot read footer value\n"});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE("length " + std::to_string(c.length));
    scratch_.write("f.jxd", literal_stream_file().substr(0, c.length));
    expect_report("f.jxd", through(kLiteralStreamReport, c.kept_through) + c.message, 1);
  }
}

TEST_F(JxviewTest, StreamSizesFollowTheLengthAndTheInflateBit) {
  struct Case {
    const char* name;
    int version;
    int options;
    std::size_t length;
    std::uint64_t footer;
    std::string version_text;
    std::string flag_lines;
    std::string size_lines;
  };
  const std::string plain =
      "options byte:       0\noptions.partial:    NO\noptions.inflate:    NO\n";
  const std::string inflated =
      "options byte:       2\noptions.partial:    NO\noptions.inflate:    YES\n";
  // Sizes worked by hand: cipher data = length - 45; blocks and surplus its quotient and
  // remainder by 256, or by 1024 with inflate.
  const Case cases[] = {
      {"empty input", 1, 0, 45, 0, "1", plain,
       "file size:          45\ncipher data size:   0\noriginal data size: 0\n"
       "block size:         256\nnumber of blocks:   0\nsurplus bytes:      0 \n"},
      {"empty input, inflate", 1, 2, 45, 0, "1", inflated,
       "file size:          45\ncipher data size:   0\noriginal data size: 0\n"
       "block size:         1024\nnumber of blocks:   0\nsurplus bytes:      0 \n"},
      {"1045 bytes", 1, 0, 1045, 1000, "1", plain,
       "file size:          1045\ncipher data size:   1000\noriginal data size: 1000\n"
       "block size:         256\nnumber of blocks:   3\n"
       "surplus bytes:      232 (probably corrupted)\n"},
      {"1045 bytes, inflate", 1, 2, 1045, 1000, "1", inflated,
       "file size:          1045\ncipher data size:   1000\noriginal data size: 1000\n"
       "block size:         1024\nnumber of blocks:   0\n"
       "surplus bytes:      1000 (probably corrupted)\n"},
      {"one inflated block", 1, 2, 1069, 256, "1", inflated,
       "file size:          1069\ncipher data size:   1024\noriginal data size: 256\n"
       "block size:         1024\nnumber of blocks:   1\nsurplus bytes:      0 \n"},
      {"partial", 1, 1, 557, 300, "1",
       "options byte:       1\noptions.partial:    YES\noptions.inflate:    NO\n",
       "file size:          557\ncipher data size:   512\noriginal data size: 300\n"
       "block size:         256\nnumber of blocks:   2\nsurplus bytes:      0 \n"},
      {"partial and inflate", 1, 3, 1069, 129, "1",
       "options byte:       3\noptions.partial:    YES\noptions.inflate:    YES\n",
       "file size:          1069\ncipher data size:   1024\noriginal data size: 129\n"
       "block size:         1024\nnumber of blocks:   1\nsurplus bytes:      0 \n"},
      {"every bit", 255, 255, 2093, 2048, "255",
       "options byte:       255\noptions.partial:    YES\noptions.inflate:    YES\n",
       "file size:          2093\ncipher data size:   2048\noriginal data size: 2048\n"
       "block size:         1024\nnumber of blocks:   2\nsurplus bytes:      0 \n"},
      {"unknown bits only", 7, 252, 301, 1, "7",
       "options byte:       252\noptions.partial:    NO\noptions.inflate:    NO\n",
       "file size:          301\ncipher data size:   256\noriginal data size: 1\n"
       "block size:         256\nnumber of blocks:   1\nsurplus bytes:      0 \n"},
      {"largest footer", 0, 0, 46, ~std::uint64_t{0}, "0", plain,
       "file size:          46\ncipher data size:   1\n"
       "original data size: 18446744073709551615\n"
       "block size:         256\nnumber of blocks:   0\n"
       "surplus bytes:      1 (probably corrupted)\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    scratch_.write("f.jxd", stream_file(c.version, c.options, c.length, c.footer));
    expect_report("f.jxd",
                  stream_report(c.version_text, c.flag_lines, kModifierLines, c.size_lines), 0);
  }
}

TEST_F(JxviewTest, StreamSizesBeyond4GiB) {
  struct Case {
    int options;
    std::uint64_t length;
    std::string flag_lines;
    std::string size_lines;
  };
  // 5 GiB is 5368709120 bytes; sizes worked by hand.
  const Case cases[] = {
      {0, 5368709165, "options byte:       0\noptions.partial:    NO\noptions.inflate:    NO\n",
       "file size:          5368709165\ncipher data size:   5368709120\n"
       "original data size: 5368709120\nblock size:         256\n"
       "number of blocks:   20971520\nsurplus bytes:      0 \n"},
      {2, 5368709120, "options byte:       2\noptions.partial:    NO\noptions.inflate:    YES\n",
       "file size:          5368709120\ncipher data size:   5368709075\n"
       "original data size: 5368709120\nblock size:         1024\n"
       "number of blocks:   5242879\nsurplus bytes:      979 (probably corrupted)\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("options " + std::to_string(c.options));
    scratch_.write("big.jxd", stream_file(1, c.options, 45, 0).substr(0, 37));
    const int fd = ::open(scratch_.at("big.jxd").c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    const std::string footer = big_endian(5368709120);
    const bool sparse = ::ftruncate(fd, static_cast<off_t>(c.length)) == 0 &&
                        ::pwrite(fd, footer.data(), 8, static_cast<off_t>(c.length - 8)) == 8;
    ::close(fd);
    ASSERT_TRUE(sparse);
    expect_report("big.jxd", stream_report("1", c.flag_lines, kModifierLines, c.size_lines), 0);
  }
}

TEST_F(JxviewTest, StreamReadThroughAPipeCannotBeMeasured) {
  jxtest::Launch launch;
  launch.input = literal_stream_file();
  jxtest::Outcome outcome = view({"/dev/stdin"}, launch);
  EXPECT_EQ(outcome.out, kBanner +
                             "filetype:           JXD (JX encrypted data stream)\n"
                             "Cannot seek file: Os { code: 29, kind: NotSeekable, message: "
                             "\"Illegal seek\" }\n");
  EXPECT_EQ(outcome.status, 1);
}

TEST_F(JxviewTest, StreamFilesWrittenByJxenc) {
  scratch_.write("key", literal_key_file());
  struct Case {
    std::vector<std::string> flags;
    std::size_t input_size;
    std::string flag_lines;
    std::string size_lines;
  };
  const std::string none =
      "options byte:       0\noptions.partial:    NO\noptions.inflate:    NO\n";
  const std::string partial =
      "options byte:       1\noptions.partial:    YES\noptions.inflate:    NO\n";
  const std::string inflate =
      "options byte:       2\noptions.partial:    NO\noptions.inflate:    YES\n";
  const std::string both =
      "options byte:       3\noptions.partial:    YES\noptions.inflate:    YES\n";
  // Inputs of at most 129 bytes make one block whatever the partial lengths; without partial
  // 257 bytes make two.
  const Case cases[] = {
      {{},
       0,
       none,
       "file size:          45\ncipher data size:   0\noriginal data size: 0\n"
       "block size:         256\nnumber of blocks:   0\nsurplus bytes:      0 \n"},
      {{},
       100,
       none,
       "file size:          301\ncipher data size:   256\noriginal data size: 100\n"
       "block size:         256\nnumber of blocks:   1\nsurplus bytes:      0 \n"},
      {{},
       257,
       none,
       "file size:          557\ncipher data size:   512\noriginal data size: 257\n"
       "block size:         256\nnumber of blocks:   2\nsurplus bytes:      0 \n"},
      {{"-p"},
       0,
       partial,
       "file size:          45\ncipher data size:   0\noriginal data size: 0\n"
       "block size:         256\nnumber of blocks:   0\nsurplus bytes:      0 \n"},
      {{"-p"},
       129,
       partial,
       "file size:          301\ncipher data size:   256\noriginal data size: 129\n"
       "block size:         256\nnumber of blocks:   1\nsurplus bytes:      0 \n"},
      {{"-i"},
       100,
       inflate,
       "file size:          1069\ncipher data size:   1024\noriginal data size: 100\n"
       "block size:         1024\nnumber of blocks:   1\nsurplus bytes:      0 \n"},
      {{"-i"},
       257,
       inflate,
       "file size:          2093\ncipher data size:   2048\noriginal data size: 257\n"
       "block size:         1024\nnumber of blocks:   2\nsurplus bytes:      0 \n"},
      {{"-p", "-i"},
       0,
       both,
       "file size:          45\ncipher data size:   0\noriginal data size: 0\n"
       "block size:         1024\nnumber of blocks:   0\nsurplus bytes:      0 \n"},
      {{"-p", "-i"},
       1,
       both,
       "file size:          1069\ncipher data size:   1024\noriginal data size: 1\n"
       "block size:         1024\nnumber of blocks:   1\nsurplus bytes:      0 \n"},
  };
  for (const Case& c : cases) {
    std::string name = "jxenc -k key --force";
    for (const auto& flag : c.flags) name += " " + flag;
    SCOPED_TRACE(name + " f, " + std::to_string(c.input_size) + " bytes");
    scratch_.write("f", std::string(c.input_size, 'x'));
    std::vector<std::string> arguments = {"-k", "key", "--force"};
    arguments.insert(arguments.end(), c.flags.begin(), c.flags.end());
    arguments.push_back("f");
    jxtest::Outcome made = jxtest::run(scratch_.path(), jxtest::program("jxenc"), arguments);
    ASSERT_EQ(made.status, 0) << made.out << made.err;
    const std::string stream = scratch_.read("f.jxd");
    ASSERT_GE(stream.size(), 37u);
    std::string modifier_lines;
    const char* const names[] = {"a", "b", "c", "s"};
    const char* const positions[] = {"5", "13", "21", "29"};
    for (std::size_t i = 0; i < 4; ++i) {
      modifier_lines += std::string("***Position mod_") + names[i] + " : " + positions[i] + "\n" +
                        "modifier " + names[i] + ":         " + hex(stream.substr(5 + 8 * i, 8)) +
                        "\n";
    }
    expect_report("f.jxd", stream_report("1", c.flag_lines, modifier_lines, c.size_lines), 0);
  }
}

TEST_F(JxviewTest, HeadersThatSelectNoReport) {
  struct Case {
    const char* name;
    std::string content;
    std::string message;
  };
  const std::string key_body = literal_key_file().substr(3);
  const std::string stream_body = literal_stream_file().substr(3);
  const Case cases[] = {
      {"empty file", "", "cannot read magic value\n"},
      {"one byte", "J", "cannot read magic value\n"},
      {"two bytes", "JX", "cannot read magic value\n"},
      {"first byte 0xFF",
       "\xff"
       "XK" +
           key_body,
       "Cannot parse header: invalid utf-8 sequence of 1 bytes from index 0\n"},
      {"bad third byte of a 3-byte sequence", "\xe2\x82\x41",
       "Cannot parse header: invalid utf-8 sequence of 2 bytes from index 0\n"},
      {"overlong second byte", "\xe0\x80\x41",
       "Cannot parse header: invalid utf-8 sequence of 1 bytes from index 0\n"},
      {"bad middle byte", "\x41\xff\x41",
       "Cannot parse header: invalid utf-8 sequence of 1 bytes from index 1\n"},
      {"4-byte sequence cut by the magic's width", "\xf0\x9f\x98\x80" + key_body,
       "Cannot parse header: incomplete utf-8 byte sequence from index 0\n"},
      {"lead byte last", "AA\xc3",
       "Cannot parse header: incomplete utf-8 byte sequence from index 2\n"},
      {"lowercase stream magic", "jxd" + stream_body, "File header is not recognized.\n"},
      {"lowercase key magic", "jxk" + key_body, "File header is not recognized.\n"},
      {"mixed case", "JXk" + key_body, "File header is not recognized.\n"},
      {"zero bytes", std::string(3, '\0') + key_body, "File header is not recognized.\n"},
      {"valid non-ASCII text", "\xe2\x82\xac" + key_body, "File header is not recognized.\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    scratch_.write("file", c.content);
    expect_report("file", c.message, 1);
  }
}

TEST_F(JxviewTest, CommandLine) {
  scratch_.write("k.jxk", literal_key_file());
  scratch_.write("\xff.jxk", literal_key_file());
  ASSERT_EQ(::mkdir(scratch_.at("dir").c_str(), 0755), 0);
  struct Case {
    const char* name;
    std::vector<std::string> arguments;
    std::string output;
    int status;
  };
  const Case cases[] = {
      {"no argument",
       {},
       "  Usage: jxview file(key or stream)\n\n"
       "  For more details consult the manual: \"man jxview\"\n\n",
       2},
      {"empty first argument", {""}, "jxview: argument 1 is empty\n", 2},
      {"empty first argument before a file", {"", "k.jxk"}, "jxview: argument 1 is empty\n", 2},
      {"first argument not UTF-8, though a file has that name",
       {"\xff.jxk"},
       "jxview: argument 1 is not valid UTF-8\n",
       2},
      {"missing file",
       {"missing"},
       "Cannot open file Os { code: 2, kind: NotFound, message: \"No such file or directory\" }\n",
       1},
      {"directory",
       {"dir"},
       "Cannot read file: Os { code: 21, kind: IsADirectory, message: \"Is a directory\" }\n",
       1},
      {"arguments after the first are ignored",
       {"k.jxk", "", "\xff", "missing", "dir"},
       kLiteralKeyReport,
       0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    jxtest::Outcome outcome = view(c.arguments);
    EXPECT_EQ(outcome.out, kBanner + c.output);
    EXPECT_EQ(outcome.status, c.status);
  }
}

}  // namespace
