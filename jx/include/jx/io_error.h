#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

namespace jx {

// What went wrong, in the words a user sees in the detailed form of an error.
enum class ErrorKind {
  NotFound,
  PermissionDenied,
  ConnectionRefused,
  ConnectionReset,
  AddrInUse,
  AddrNotAvailable,
  BrokenPipe,
  AlreadyExists,
  WouldBlock,
  NotADirectory,
  IsADirectory,
  DirectoryNotEmpty,
  ReadOnlyFilesystem,
  StaleNetworkFileHandle,
  InvalidInput,
  InvalidData,
  TimedOut,
  WriteZero,
  StorageFull,
  NotSeekable,
  FilesystemQuotaExceeded,
  FileTooLarge,
  ResourceBusy,
  ExecutableFileBusy,
  Deadlock,
  CrossesDevices,
  TooManyLinks,
  FilesystemLoop,
  InvalidFilename,
  ArgumentListTooLong,
  Interrupted,
  Unsupported,
  UnexpectedEof,
  OutOfMemory,
  Other,
  Uncategorized,
};

std::string_view kind_name(ErrorKind kind);

// The kind of an operating-system error number.
ErrorKind kind_of_errno(int code);

// The failure of an operation on a file: an operating-system error, an error with the
// library's own message, or one with a fixed message of the I/O layer.
class IoError {
 public:
  static IoError os(int code);                                 // errno of the failed call
  static IoError custom(std::string message);                  // "Cannot write footer"
  static IoError custom(ErrorKind kind, std::string message);  // a library message of a kind
  static IoError simple(ErrorKind kind, std::string message);  // "failed to fill whole buffer"

  ErrorKind kind() const { return kind_; }
  std::optional<int> code() const { return code_; }
  const std::string& message() const { return message_; }

  std::string message_form() const;   // No such file or directory (os error 2)
  std::string detailed_form() const;  // Os { code: 2, kind: NotFound, message: "No such ..." }

 private:
  enum class Origin { Os, Custom, Simple };
  IoError(Origin origin, ErrorKind kind, std::optional<int> code, std::string message)
      : origin_(origin), kind_(kind), code_(code), message_(std::move(message)) {}

  Origin origin_;
  ErrorKind kind_;
  std::optional<int> code_;
  std::string message_;
};

// The value of an operation that succeeded without one.
struct Done {};

// A value or the error that prevented it.
template <class T>
class [[nodiscard]] Result {
 public:
  Result(T value) : state_(std::move(value)) {}  // NOLINT(google-explicit-constructor)
  Result(IoError error) : state_(std::move(error)) {}  // NOLINT(google-explicit-constructor)

  bool ok() const { return state_.index() == 0; }
  explicit operator bool() const { return ok(); }
  T& value() & { return std::get<0>(state_); }
  T&& value() && { return std::get<0>(std::move(state_)); }
  const T& value() const& { return std::get<0>(state_); }
  const IoError& error() const { return std::get<1>(state_); }

 private:
  std::variant<T, IoError> state_;
};

using Status = Result<Done>;

}  // namespace jx
