#include "jx/io_error.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace jx {
namespace {

TEST(IoErrorTest, ErrnoTableGivesKindNames) {
  struct Row {
    int code;
    const char* kind;
  };
  const Row rows[] = {
      {ENOENT, "NotFound"},          {EACCES, "PermissionDenied"},
      {EPERM, "PermissionDenied"},   {EEXIST, "AlreadyExists"},
      {EINTR, "Interrupted"},        {EINVAL, "InvalidInput"},
      {EISDIR, "IsADirectory"},      {ENOTDIR, "NotADirectory"},
      {EROFS, "ReadOnlyFilesystem"}, {ENOSPC, "StorageFull"},
      {EFBIG, "FileTooLarge"},       {EPIPE, "BrokenPipe"},
      {ESPIPE, "NotSeekable"},       {ENAMETOOLONG, "InvalidFilename"},
      {ELOOP, "FilesystemLoop"},     {EDQUOT, "FilesystemQuotaExceeded"},
      {EAGAIN, "WouldBlock"},        {ENOMEM, "OutOfMemory"},
      {EIO, "Uncategorized"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.code);
    EXPECT_EQ(kind_name(kind_of_errno(row.code)), row.kind);
  }
}

TEST(IoErrorTest, PrintedForms) {
  struct Row {
    IoError error;
    const char* message_form;
    const char* detailed_form;
  };
  const Row rows[] = {
      {IoError::os(ENOENT), "No such file or directory (os error 2)",
       R"(Os { code: 2, kind: NotFound, message: "No such file or directory" })"},
      {IoError::os(EEXIST), "File exists (os error 17)",
       R"(Os { code: 17, kind: AlreadyExists, message: "File exists" })"},
      {IoError::custom("Cannot write footer"), "Cannot write footer",
       R"(Custom { kind: Other, error: "Cannot write footer" })"},
      {IoError::custom(ErrorKind::InvalidData, "stream is truncated or corrupted"),
       "stream is truncated or corrupted",
       R"(Custom { kind: InvalidData, error: "stream is truncated or corrupted" })"},
      {IoError::simple(ErrorKind::UnexpectedEof, "failed to fill whole buffer"),
       "failed to fill whole buffer",
       R"(Error { kind: UnexpectedEof, message: "failed to fill whole buffer" })"},
      {IoError::simple(ErrorKind::WriteZero, "a \"quoted\" word"), "a \"quoted\" word",
       R"(Error { kind: WriteZero, message: "a \"quoted\" word" })"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.message_form);
    EXPECT_EQ(row.error.message_form(), row.message_form);
    EXPECT_EQ(row.error.detailed_form(), row.detailed_form);
  }
}

TEST(IoErrorTest, OsErrorKeepsItsCode) {
  const IoError error = IoError::os(EISDIR);
  EXPECT_EQ(error.code(), EISDIR);
  EXPECT_EQ(error.kind(), ErrorKind::IsADirectory);
  EXPECT_FALSE(IoError::custom("x").code().has_value());
}

TEST(ResultTest, HoldsValueOrError) {
  Result<int> value = 7;
  ASSERT_TRUE(value.ok());
  EXPECT_EQ(value.value(), 7);
  Result<int> failed = IoError::os(ENOENT);
  ASSERT_FALSE(failed);
  EXPECT_EQ(failed.error().kind(), ErrorKind::NotFound);
}

}  // namespace
}  // namespace jx
