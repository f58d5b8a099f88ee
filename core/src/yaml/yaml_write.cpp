#include "yaml/yaml_write.hpp"

#include "yaml/yaml_value.hpp"
#include "base/text.hpp"

#include <yaml.h>

#include <climits>
#include <string_view>

namespace core {
namespace {

class YamlEmitter {  // writes into its own string; not movable, libyaml keeps its address
 public:
  YamlEmitter() : ok_(yaml_emitter_initialize(&e_) != 0) {
    if (!ok_) return;
    yaml_emitter_set_output(&e_, &append, &out_);
    yaml_emitter_set_encoding(&e_, YAML_UTF8_ENCODING);
    yaml_emitter_set_unicode(&e_, 1);
    yaml_emitter_set_width(&e_, -1);
    yaml_emitter_set_indent(&e_, 2);
    yaml_emitter_set_break(&e_, YAML_LN_BREAK);
  }
  ~YamlEmitter() {
    if (ok_) yaml_emitter_delete(&e_);
  }
  YamlEmitter(const YamlEmitter&) = delete;
  YamlEmitter& operator=(const YamlEmitter&) = delete;
  bool ok() const { return ok_; }

  // Emits an event that `initialized` says was set up. libyaml takes the
  // event over whether emitting succeeds or not, so nothing is left to free.
  [[nodiscard]] Result<void> emit(int initialized, yaml_event_t& event) {
    if (!initialized) return std::unexpected(CoreError::yaml("out of memory"));
    if (yaml_emitter_emit(&e_, &event)) return {};
    return std::unexpected(CoreError::yaml(e_.problem ? e_.problem : "the emitter failed"));
  }

  std::string take_output() { return std::move(out_); }

 private:
  static int append(void* data, unsigned char* buffer, size_t size) {
    static_cast<std::string*>(data)->append(reinterpret_cast<const char*>(buffer), size);
    return 1;
  }

  std::string out_;
  yaml_emitter_t e_{};
  bool ok_;
};

const yaml_char_t* uchars(std::string_view text) {
  // An empty view may have no data, and libyaml copies from the pointer.
  return reinterpret_cast<const yaml_char_t*>(text.empty() ? "" : text.data());
}

yaml_scalar_style_t style_for_text(std::string_view text) {
  // libyaml counts U+2028 and U+2029 as line breaks and writes them raw in
  // every style but double quotes. Raw, a block text ending with one gets no
  // final line feed, so the closing "---" of the file would join its line.
  if (text.find("\u2028") != std::string_view::npos || text.find("\u2029") != std::string_view::npos)
    return YAML_DOUBLE_QUOTED_SCALAR_STYLE;
  if (text.find('\n') != std::string_view::npos) return YAML_LITERAL_SCALAR_STYLE;
  if (!reads_as_text(text)) return YAML_SINGLE_QUOTED_SCALAR_STYLE;
  return YAML_PLAIN_SCALAR_STYLE;
}

Result<void> write_scalar(YamlEmitter& emitter, std::string_view text, yaml_scalar_style_t style) {
  if (text.size() > static_cast<size_t>(INT_MAX)) return std::unexpected(CoreError::yaml("text too long"));
  // libyaml takes an encoded surrogate (U+D800..U+DFFF) for a character and
  // writes it as "\uD800", which no UTF-8 reader takes back; the only
  // failures of the initializer besides memory are other malformed UTF-8.
  if (!is_valid_utf8(text)) return std::unexpected(CoreError::yaml("text is not valid UTF-8"));
  yaml_event_t event;
  if (!yaml_scalar_event_initialize(&event, nullptr, nullptr, uchars(text), static_cast<int>(text.size()), 1, 1, style))
    return std::unexpected(CoreError::yaml("text is not valid UTF-8"));
  return emitter.emit(1, event);
}

Result<void> write_value(YamlEmitter& emitter, const YamlValue& value);

Result<void> write_sequence(YamlEmitter& emitter, const YamlValue::Sequence& items) {
  yaml_event_t event;
  const int made = yaml_sequence_start_event_initialize(&event, nullptr, nullptr, 1, YAML_BLOCK_SEQUENCE_STYLE);
  if (auto ok = emitter.emit(made, event); !ok) return ok;
  for (const YamlValue& item : items)
    if (auto ok = write_value(emitter, item); !ok) return ok;
  return emitter.emit(yaml_sequence_end_event_initialize(&event), event);
}

Result<void> write_mapping(YamlEmitter& emitter, const YamlValue::Mapping& entries) {
  yaml_event_t event;
  const int made = yaml_mapping_start_event_initialize(&event, nullptr, nullptr, 1, YAML_BLOCK_MAPPING_STYLE);
  if (auto ok = emitter.emit(made, event); !ok) return ok;
  for (const auto& [key, value] : entries) {
    if (auto ok = write_scalar(emitter, key, style_for_text(key)); !ok) return ok;
    if (auto ok = write_value(emitter, value); !ok) return ok;
  }
  return emitter.emit(yaml_mapping_end_event_initialize(&event), event);
}

Result<void> write_value(YamlEmitter& emitter, const YamlValue& value) {
  if (const auto* text = std::get_if<std::string>(&value.value))
    return write_scalar(emitter, *text, style_for_text(*text));
  if (const auto* items = std::get_if<YamlValue::Sequence>(&value.value)) return write_sequence(emitter, *items);
  if (const auto* entries = std::get_if<YamlValue::Mapping>(&value.value)) return write_mapping(emitter, *entries);
  return write_scalar(emitter, plain_form(value), YAML_PLAIN_SCALAR_STYLE);
}

}  // namespace

Result<std::string> emit_yaml(const YamlValue& document) {
  YamlEmitter emitter;
  if (!emitter.ok()) return std::unexpected(CoreError::yaml("out of memory"));
  yaml_event_t event;
  if (auto ok = emitter.emit(yaml_stream_start_event_initialize(&event, YAML_UTF8_ENCODING), event); !ok)
    return std::unexpected(std::move(ok.error()));
  if (auto ok = emitter.emit(yaml_document_start_event_initialize(&event, nullptr, nullptr, nullptr, 1), event); !ok)
    return std::unexpected(std::move(ok.error()));
  if (auto ok = write_value(emitter, document); !ok) return std::unexpected(std::move(ok.error()));
  if (auto ok = emitter.emit(yaml_document_end_event_initialize(&event, 1), event); !ok)
    return std::unexpected(std::move(ok.error()));
  if (auto ok = emitter.emit(yaml_stream_end_event_initialize(&event), event); !ok)
    return std::unexpected(std::move(ok.error()));
  return emitter.take_output();
}

}  // namespace core
