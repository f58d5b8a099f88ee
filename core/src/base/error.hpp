#pragma once
// The one error type of the core. Every core operation returns
// Result<T>: a value, or a CoreError that the caller passes up unchanged.
//
// The kind is for callers that act on a failure; the display text never
// depends on it beyond the four prefixes of the wrapping kinds. NotFound,
// Conflict and Invalid are texts composed by the core, like Message, that a
// caller may want to tell apart without reading the text.

#include <expected>
#include <string>
#include <utility>

namespace core {

enum class ErrorKind { Io, Database, Yaml, Json, Message, NotFound, Conflict, Invalid };

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
  // What was asked for is not there ("note not found: x").
  static CoreError not_found(std::string text) { return {ErrorKind::NotFound, std::move(text)}; }
  // The id asked for belongs to another note, or its file to another id.
  static CoreError conflict(std::string text) { return {ErrorKind::Conflict, std::move(text)}; }
  // The request is refused as it stands ("title is required"); another
  // request (another id, a title) may succeed.
  static CoreError invalid(std::string text) { return {ErrorKind::Invalid, std::move(text)}; }

  ErrorKind kind() const { return kind_; }
  const std::string& detail() const { return detail_; }

 private:
  CoreError(ErrorKind kind, std::string detail) : kind_(kind), detail_(std::move(detail)) {}
  ErrorKind kind_;
  std::string detail_;
};

// The display text: "IO error: ", "database error: ", "YAML error: " or
// "JSON error: " followed by the detail, or the bare text of the others.
std::string to_text(const CoreError& error);

template <class T>
using Result = std::expected<T, CoreError>;

}  // namespace core
