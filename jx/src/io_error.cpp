#include "jx/io_error.h"

#include <cerrno>
#include <cstring>

namespace jx {
namespace {

struct KindOfErrno {
  int code;
  ErrorKind kind;
};

constexpr KindOfErrno kKindsOfErrnos[] = {
    {EPERM, ErrorKind::PermissionDenied},
    {EACCES, ErrorKind::PermissionDenied},
    {ENOENT, ErrorKind::NotFound},
    {EINTR, ErrorKind::Interrupted},
    {E2BIG, ErrorKind::ArgumentListTooLong},
    {EAGAIN, ErrorKind::WouldBlock},
    {ENOMEM, ErrorKind::OutOfMemory},
    {EBUSY, ErrorKind::ResourceBusy},
    {EEXIST, ErrorKind::AlreadyExists},
    {EXDEV, ErrorKind::CrossesDevices},
    {ENOTDIR, ErrorKind::NotADirectory},
    {EISDIR, ErrorKind::IsADirectory},
    {EINVAL, ErrorKind::InvalidInput},
    {ETXTBSY, ErrorKind::ExecutableFileBusy},
    {EFBIG, ErrorKind::FileTooLarge},
    {ENOSPC, ErrorKind::StorageFull},
    {ESPIPE, ErrorKind::NotSeekable},
    {EROFS, ErrorKind::ReadOnlyFilesystem},
    {EMLINK, ErrorKind::TooManyLinks},
    {EPIPE, ErrorKind::BrokenPipe},
    {EDEADLK, ErrorKind::Deadlock},
    {ENAMETOOLONG, ErrorKind::InvalidFilename},
    {ENOSYS, ErrorKind::Unsupported},
    {ENOTEMPTY, ErrorKind::DirectoryNotEmpty},
    {ELOOP, ErrorKind::FilesystemLoop},
    {EADDRINUSE, ErrorKind::AddrInUse},
    {EADDRNOTAVAIL, ErrorKind::AddrNotAvailable},
    {ECONNRESET, ErrorKind::ConnectionReset},
    {ETIMEDOUT, ErrorKind::TimedOut},
    {ECONNREFUSED, ErrorKind::ConnectionRefused},
    {ESTALE, ErrorKind::StaleNetworkFileHandle},
    {EDQUOT, ErrorKind::FilesystemQuotaExceeded},
};

constexpr std::string_view kKindNames[] = {
    "NotFound",
    "PermissionDenied",
    "ConnectionRefused",
    "ConnectionReset",
    "AddrInUse",
    "AddrNotAvailable",
    "BrokenPipe",
    "AlreadyExists",
    "WouldBlock",
    "NotADirectory",
    "IsADirectory",
    "DirectoryNotEmpty",
    "ReadOnlyFilesystem",
    "StaleNetworkFileHandle",
    "InvalidInput",
    "InvalidData",
    "TimedOut",
    "WriteZero",
    "StorageFull",
    "NotSeekable",
    "FilesystemQuotaExceeded",
    "FileTooLarge",
    "ResourceBusy",
    "ExecutableFileBusy",
    "Deadlock",
    "CrossesDevices",
    "TooManyLinks",
    "FilesystemLoop",
    "InvalidFilename",
    "ArgumentListTooLong",
    "Interrupted",
    "Unsupported",
    "UnexpectedEof",
    "OutOfMemory",
    "Other",
    "Uncategorized",
};

std::string quoted(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

std::string system_description(int code) {
  char buffer[256];
  return strerror_r(code, buffer, sizeof buffer);
}

}  // namespace

std::string_view kind_name(ErrorKind kind) { return kKindNames[static_cast<int>(kind)]; }

ErrorKind kind_of_errno(int code) {
  for (const auto& entry : kKindsOfErrnos) {
    if (entry.code == code) return entry.kind;
  }
  return ErrorKind::Uncategorized;
}

IoError IoError::os(int code) {
  return IoError(Origin::Os, kind_of_errno(code), code, system_description(code));
}

IoError IoError::custom(std::string message) {
  return IoError(Origin::Custom, ErrorKind::Other, std::nullopt, std::move(message));
}

IoError IoError::custom(ErrorKind kind, std::string message) {
  return IoError(Origin::Custom, kind, std::nullopt, std::move(message));
}

IoError IoError::simple(ErrorKind kind, std::string message) {
  return IoError(Origin::Simple, kind, std::nullopt, std::move(message));
}

std::string IoError::message_form() const {
  if (origin_ == Origin::Os) return message_ + " (os error " + std::to_string(*code_) + ")";
  return message_;
}

std::string IoError::detailed_form() const {
  const std::string kind(kind_name(kind_));
  switch (origin_) {
    case Origin::Os:
      return "Os { code: " + std::to_string(*code_) + ", kind: " + kind +
             ", message: " + quoted(message_) + " }";
    case Origin::Custom:
      return "Custom { kind: " + kind + ", error: " + quoted(message_) + " }";
    case Origin::Simple:
      break;
  }
  return "Error { kind: " + kind + ", message: " + quoted(message_) + " }";
}

}  // namespace jx
