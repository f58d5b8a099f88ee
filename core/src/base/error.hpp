#pragma once
// The one error type of the core. Every core operation returns
// Result<T>: a value, or a CoreError that the caller passes up unchanged.

#include <expected>
#include <string>
#include <utility>

namespace core {

enum class ErrorKind { Io, Database, Yaml, Json, Message };

class CoreError {
 public:
  // A file-system failure; `detail` is the operating system's description.
  static CoreError io(std::string detail) { return {ErrorKind::Io, std::move(detail)}; }
  // A SQLite failure; `detail` is SQLite's description.
  static CoreError database(std::string detail) { return {ErrorKind::Database, std::move(detail)}; }
  // A frontmatter that does not read as a note's frontmatter.
  static CoreError yaml(std::string detail) { return {ErrorKind::Yaml, std::move(detail)}; }
  // A failure to serialise tags or metas for the index.
  static CoreError json(std::string detail) { return {ErrorKind::Json, std::move(detail)}; }
  // A text composed by the core, shown as it is.
  static CoreError message(std::string text) { return {ErrorKind::Message, std::move(text)}; }

  ErrorKind kind() const { return kind_; }
  const std::string& detail() const { return detail_; }

 private:
  CoreError(ErrorKind kind, std::string detail) : kind_(kind), detail_(std::move(detail)) {}
  ErrorKind kind_;
  std::string detail_;
};

// The display text: "IO error: ", "database error: ", "YAML error: " or
// "JSON error: " followed by the detail, or the bare text of a Message.
std::string to_text(const CoreError& error);

template <class T>
using Result = std::expected<T, CoreError>;

}  // namespace core
