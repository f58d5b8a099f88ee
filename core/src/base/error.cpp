#include "base/error.hpp"

namespace core {

std::string to_text(const CoreError& error) {
  switch (error.kind()) {
    case ErrorKind::Io: return "IO error: " + error.detail();
    case ErrorKind::Database: return "database error: " + error.detail();
    case ErrorKind::Yaml: return "YAML error: " + error.detail();
    case ErrorKind::Json: return "JSON error: " + error.detail();
    case ErrorKind::Message:
    case ErrorKind::NotFound:
    case ErrorKind::Conflict:
    case ErrorKind::Invalid: return error.detail();
  }
  return error.detail();  // unreachable: every kind is handled above
}

}  // namespace core
