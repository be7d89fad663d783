#include "jx/key.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <numeric>

#include "scratch.h"

namespace jx {
namespace {
namespace fs = std::filesystem;

class KeyFileTest : public testing::Test {
 protected:
  std::string at(const std::string& name) const { return scratch_.at(name); }
  void write(const std::string& name, const std::string& bytes) const {
    scratch_.write(name, bytes);
  }
  std::string read(const std::string& name) const { return scratch_.read(name); }
  // The names directly in the directory, sorted.
  std::vector<std::string> names() const {
    std::vector<std::string> found;
    for (const auto& entry : fs::directory_iterator(scratch_.path())) {
      found.push_back(entry.path().filename());
    }
    std::sort(found.begin(), found.end());
    return found;
  }

 private:
  jxtest::Scratch scratch_;
};

Key sample_key() {
  std::vector<std::uint8_t> seed(Key::kSeedSize);
  for (std::size_t i = 0; i < seed.size(); ++i) seed[i] = static_cast<std::uint8_t>(i * 7 + 3);
  return Key::new_from_seed(seed).value();
}

std::vector<std::uint8_t> seed_with_table(std::uint8_t (*byte)(std::size_t)) {
  std::vector<std::uint8_t> seed(Key::kSeedSize, 0);
  for (std::size_t i = 0; i < 256; ++i) seed[i] = byte(i);
  return seed;
}

TEST(KeyTest, TableFromSeed) {
  std::array<std::uint8_t, 256> identity;
  std::iota(identity.begin(), identity.end(), 0);
  std::array<std::uint8_t, 256> rotated;  // 255, 0, 1, ..., 254
  for (std::size_t i = 0; i < 256; ++i) rotated[i] = static_cast<std::uint8_t>(i + 255);

  struct Row {
    const char* name;
    std::uint8_t (*byte)(std::size_t);
    std::array<std::uint8_t, 256> expected;
  };
  const Row rows[] = {
      {"all zero", [](std::size_t) -> std::uint8_t { return 0; }, rotated},
      {"byte i is i", [](std::size_t i) { return static_cast<std::uint8_t>(i); }, identity},
      {"byte i is 255 - i", [](std::size_t i) { return static_cast<std::uint8_t>(255 - i); },
       identity},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(Key::new_from_seed(seed_with_table(row.byte)).value().k, row.expected);
  }
}

TEST(KeyTest, WordsFromSeedAreBigEndian) {
  std::vector<std::uint8_t> seed(Key::kSeedSize + 5, 0xEE);  // bytes after 287 are ignored
  for (std::size_t i = 256; i < 288; ++i) seed[i] = static_cast<std::uint8_t>(i - 256);
  Key key = Key::new_from_seed(seed).value();
  EXPECT_EQ(key.a, 0x0001020304050607u);
  EXPECT_EQ(key.b, 0x08090A0B0C0D0E0Fu);
  EXPECT_EQ(key.c, 0x1011121314151617u);
  EXPECT_EQ(key.s, 0x18191A1B1C1D1E1Fu);
  EXPECT_TRUE(key.is_permutation());
}

TEST(KeyTest, ShortSeedIsRefused) {
  auto key = Key::new_from_seed(std::vector<std::uint8_t>(287, 1));
  ASSERT_FALSE(key.ok());
  EXPECT_EQ(key.error().kind(), ErrorKind::InvalidInput);
}

TEST(KeyTest, AllZeroKeyIsNoPermutation) {
  EXPECT_FALSE(Key{}.is_permutation());
  EXPECT_TRUE(sample_key().is_permutation());
}

TEST_F(KeyFileTest, ExportOfZeroKey) {
  ASSERT_TRUE(Key{}.export_to(at("z.jxk")).ok());
  EXPECT_EQ(read("z.jxk"), std::string("JXK\x01", 4) + std::string(288, '\0'));
}

TEST_F(KeyFileTest, ExportThenImportGivesTheKeyBack) {
  const Key key = sample_key();
  ASSERT_TRUE(key.export_to(at("k.jxk")).ok());
  Key back;
  ASSERT_TRUE(back.import_from(at("k.jxk")).ok());
  EXPECT_EQ(back, key);
  EXPECT_EQ(names(), std::vector<std::string>{"k.jxk"});
}

TEST_F(KeyFileTest, ExportReplacesWithMode0600AndExactLength) {
  write("k.jxk", std::string(1000, 'x'));
  ::chmod(at("k.jxk").c_str(), 0644);
  ASSERT_TRUE(sample_key().export_to(at("k.jxk")).ok());
  struct stat info;
  ASSERT_EQ(::stat(at("k.jxk").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  EXPECT_EQ(info.st_size, 292);
}

TEST_F(KeyFileTest, ExportReplacesASymbolicLinkInsteadOfWritingThroughIt) {
  write("victim", "keep me");
  fs::create_symlink(at("victim"), at("k.jxk"));
  ASSERT_TRUE(sample_key().export_to(at("k.jxk")).ok());
  EXPECT_EQ(read("victim"), "keep me");
  EXPECT_FALSE(fs::is_symlink(at("k.jxk")));
  EXPECT_EQ(read("k.jxk").size(), 292u);
}

TEST_F(KeyFileTest, ExportIntoMissingDirectoryFails) {
  auto written = sample_key().export_to(at("missing/k.jxk"));
  ASSERT_FALSE(written.ok());
  EXPECT_EQ(written.error().message_form(), "No such file or directory (os error 2)");
  EXPECT_TRUE(names().empty());
}

TEST_F(KeyFileTest, FailedRenameLeavesNoTemporaryFile) {
  fs::create_directories(at("taken.jxk/inside"));
  auto written = sample_key().export_to(at("taken.jxk"));
  ASSERT_FALSE(written.ok());
  EXPECT_EQ(written.error().kind(), ErrorKind::IsADirectory);
  EXPECT_EQ(names(), std::vector<std::string>{"taken.jxk"});
}

TEST_F(KeyFileTest, ImportIgnoresMagicVersionAndTrailingBytes) {
  const Key key = sample_key();
  ASSERT_TRUE(key.export_to(at("k.jxk")).ok());
  std::string bytes = read("k.jxk");
  bytes.replace(0, 4, "ABC\x07");
  write("other", bytes + "trailing");
  Key back;
  ASSERT_TRUE(back.import_from(at("other")).ok());
  EXPECT_EQ(back, key);
}

TEST_F(KeyFileTest, ShortFileFillsTheFieldsItReaches) {
  const Key key = sample_key();
  ASSERT_TRUE(key.export_to(at("k.jxk")).ok());
  const std::string bytes = read("k.jxk");
  Key earlier;
  earlier.a = earlier.b = earlier.c = earlier.s = 0x5555;

  write("291", bytes.substr(0, 291));
  Key partly = earlier;
  auto imported = partly.import_from(at("291"));
  ASSERT_FALSE(imported.ok());
  EXPECT_EQ(imported.error().message_form(), "failed to fill whole buffer");
  EXPECT_EQ(imported.error().kind(), ErrorKind::UnexpectedEof);
  EXPECT_EQ(partly.k, key.k);
  EXPECT_EQ(partly.a, key.a);
  EXPECT_EQ(partly.b, key.b);
  EXPECT_EQ(partly.c, key.c);
  EXPECT_EQ(partly.s, 0x5555u);

  write("3", bytes.substr(0, 3));
  Key unchanged = earlier;
  EXPECT_FALSE(unchanged.import_from(at("3")).ok());
  EXPECT_EQ(unchanged, earlier);
}

TEST_F(KeyFileTest, ImportOfMissingFileIsNotFound) {
  Key key;
  auto imported = key.import_from(at("absent"));
  ASSERT_FALSE(imported.ok());
  EXPECT_EQ(imported.error().kind(), ErrorKind::NotFound);
}

}  // namespace
}  // namespace jx
