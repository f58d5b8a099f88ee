#include "yaml/yaml_read.hpp"

#include "yaml/yaml_value.hpp"

#include <yaml.h>

#include <algorithm>
#include <unordered_map>
#include <utility>

namespace core {
namespace {

using NodePtr = std::shared_ptr<const YamlNode>;

constexpr std::size_t kMaxDepth = 64;
constexpr std::size_t kMaxValueBytes = std::size_t{16} << 20;

const unsigned char* uchars(std::string_view text) { return reinterpret_cast<const unsigned char*>(text.data()); }

class YamlParser {  // `text` must outlive the parser
 public:
  explicit YamlParser(std::string_view text) : ok_(yaml_parser_initialize(&p_) != 0) {
    if (ok_) yaml_parser_set_input_string(&p_, uchars(text), text.size());
  }
  ~YamlParser() {
    if (ok_) yaml_parser_delete(&p_);
  }
  YamlParser(const YamlParser&) = delete;
  YamlParser& operator=(const YamlParser&) = delete;
  bool ok() const { return ok_; }
  yaml_parser_t* get() { return &p_; }

 private:
  yaml_parser_t p_{};
  bool ok_;
};

class YamlEvent {  // a zeroed event, as a failed parse leaves it, deletes as a no-op
 public:
  YamlEvent() = default;
  ~YamlEvent() { yaml_event_delete(&e_); }
  YamlEvent(const YamlEvent&) = delete;
  YamlEvent& operator=(const YamlEvent&) = delete;
  yaml_event_t* get() { return &e_; }

 private:
  yaml_event_t e_{};
};

std::string at(const yaml_mark_t& mark, std::size_t first_line) {
  return " at line " + std::to_string(mark.line + first_line) + " column " + std::to_string(mark.column + 1);
}

std::string parser_error(const yaml_parser_t& p, std::size_t first_line) {
  if (p.error == YAML_MEMORY_ERROR) return "out of memory";
  const std::string problem = p.problem ? p.problem : "unknown error";
  // The reader (encoding) stage reports a byte offset instead of a mark.
  if (p.error == YAML_READER_ERROR) return problem + " at byte " + std::to_string(p.problem_offset);
  std::string context = p.context ? std::string(p.context) + at(p.context_mark, first_line) + ": " : "";
  return context + problem + at(p.problem_mark, first_line);
}

bool is_typed_by_text(const yaml_event_t& event) {
  const auto& scalar = event.data.scalar;
  if (scalar.tag == nullptr) return scalar.style == YAML_PLAIN_SCALAR_STYLE;
  const std::string_view tag = reinterpret_cast<const char*>(scalar.tag);
  return tag == YAML_NULL_TAG || tag == YAML_BOOL_TAG || tag == YAML_INT_TAG || tag == YAML_FLOAT_TAG;
}

std::string anchor_name(const yaml_char_t* anchor) {
  return anchor ? reinterpret_cast<const char*>(anchor) : "";
}

// Turns the event stream into a tree. Collections stay open on a stack (so
// deep nesting costs heap, not call depth); anchors map to finished nodes.
class TreeBuilder {
 public:
  explicit TreeBuilder(std::size_t first_line) : first_line_(first_line) {}

  [[nodiscard]] Result<void> add(const yaml_event_t& event) {
    switch (event.type) {
      case YAML_DOCUMENT_START_EVENT:
        if (++documents_ > 1) return std::unexpected(CoreError::yaml("more than one YAML document"));
        return {};
      case YAML_SCALAR_EVENT: return add_scalar(event);
      case YAML_SEQUENCE_START_EVENT:
        return open(YamlNode::Kind::Sequence, event, anchor_name(event.data.sequence_start.anchor));
      case YAML_MAPPING_START_EVENT:
        return open(YamlNode::Kind::Mapping, event, anchor_name(event.data.mapping_start.anchor));
      case YAML_SEQUENCE_END_EVENT:
      case YAML_MAPPING_END_EVENT: close(); return {};
      case YAML_ALIAS_EVENT: return add_alias(event);
      default: return {};
    }
  }

  [[nodiscard]] Result<NodePtr> finish() {
    if (!root_) return std::unexpected(CoreError::yaml("no YAML document"));
    return std::move(root_);
  }

 private:
  struct Open {
    YamlNode node;
    std::string anchor;
  };

  YamlNode start_node(YamlNode::Kind kind, const yaml_event_t& event) const {
    YamlNode node;
    node.kind = kind;
    node.line = event.start_mark.line + first_line_;
    node.column = event.start_mark.column + 1;
    return node;
  }

  Result<void> check_depth(std::size_t height, const yaml_event_t& event) const {
    if (open_.size() + height <= kMaxDepth) return {};
    return std::unexpected(CoreError::yaml("nesting deeper than " + std::to_string(kMaxDepth) + " levels" +
                                           at(event.start_mark, first_line_)));
  }

  Result<void> add_scalar(const yaml_event_t& event) {
    YamlNode node = start_node(YamlNode::Kind::Scalar, event);
    const auto& scalar = event.data.scalar;
    node.text.assign(reinterpret_cast<const char*>(scalar.value), scalar.length);
    node.typed_by_text = is_typed_by_text(event);
    complete(std::make_shared<const YamlNode>(std::move(node)), anchor_name(scalar.anchor));
    return {};
  }

  Result<void> open(YamlNode::Kind kind, const yaml_event_t& event, std::string anchor) {
    if (auto ok = check_depth(1, event); !ok) return ok;
    open_.push_back({start_node(kind, event), std::move(anchor)});
    return {};
  }

  void close() {
    Open done = std::move(open_.back());
    open_.pop_back();
    for (const NodePtr& child : done.node.children) {
      done.node.height = std::max(done.node.height, child->height + 1);
      done.node.holds_alias = done.node.holds_alias || child->holds_alias;
    }
    complete(std::make_shared<const YamlNode>(std::move(done.node)), done.anchor);
  }

  Result<void> add_alias(const yaml_event_t& event) {
    const std::string name = anchor_name(event.data.alias.anchor);
    auto found = anchors_.find(name);
    if (found == anchors_.end())
      return std::unexpected(CoreError::yaml("unknown alias `" + name + "`" + at(event.start_mark, first_line_)));
    if (auto ok = check_depth(found->second->height, event); !ok) return ok;
    // An anchor is defined before its alias, so the alias has an open parent.
    if (!open_.empty()) open_.back().node.holds_alias = true;
    complete(found->second, "");
    return {};
  }

  void complete(NodePtr node, const std::string& anchor) {
    if (!anchor.empty()) anchors_[anchor] = node;  // a redefined anchor replaces the earlier one
    if (open_.empty())
      root_ = std::move(node);
    else
      open_.back().node.children.push_back(std::move(node));
  }

  std::size_t first_line_;
  std::size_t documents_ = 0;
  std::vector<Open> open_;
  std::unordered_map<std::string, NodePtr> anchors_;
  NodePtr root_;
};

// Expands shared nodes into values, charging every node and text to the
// document's budget.
class ValueBuilder {
 public:
  explicit ValueBuilder(YamlBudget& budget) : budget_(budget) {}

  [[nodiscard]] Result<YamlValue> convert(const YamlNode& node) {
    if (auto ok = budget_.spend(node, node.text.size()); !ok) return std::unexpected(std::move(ok.error()));
    switch (node.kind) {
      case YamlNode::Kind::Scalar:
        return node.typed_by_text ? resolve_plain_scalar(node.text) : YamlValue{node.text};
      case YamlNode::Kind::Sequence: return convert_sequence(node);
      case YamlNode::Kind::Mapping: return convert_mapping(node);
    }
    return YamlValue{};  // unreachable: every kind is handled above
  }

 private:
  Result<YamlValue> convert_sequence(const YamlNode& node) {
    YamlValue::Sequence items;
    for (const NodePtr& child : node.children) {
      auto item = convert(*child);
      if (!item) return item;
      items.push_back(std::move(*item));
    }
    return YamlValue{std::move(items)};
  }

  Result<YamlValue> convert_mapping(const YamlNode& node) {
    YamlValue::Mapping entries;
    std::unordered_map<std::string, std::size_t> place;
    for (std::size_t i = 0; i + 1 < node.children.size(); i += 2) {
      const YamlNode& key = *node.children[i];
      if (key.kind != YamlNode::Kind::Scalar)
        return std::unexpected(CoreError::yaml("mapping key" + position_of(key) + " is not a scalar"));
      if (auto ok = budget_.spend(key, key.text.size()); !ok) return std::unexpected(std::move(ok.error()));
      auto value = convert(*node.children[i + 1]);
      if (!value) return value;
      auto [slot, fresh] = place.emplace(key.text, entries.size());
      if (fresh)
        entries.emplace_back(key.text, std::move(*value));
      else
        entries[slot->second].second = std::move(*value);
    }
    return YamlValue{std::move(entries)};
  }

  YamlBudget& budget_;
};

}  // namespace

std::string position_of(const YamlNode& node) {
  return " at line " + std::to_string(node.line) + " column " + std::to_string(node.column);
}

Result<std::shared_ptr<const YamlNode>> parse_yaml_document(std::string_view text, std::size_t first_line) {
  YamlParser parser(text);
  if (!parser.ok()) return std::unexpected(CoreError::yaml("out of memory"));
  TreeBuilder builder(first_line);
  for (;;) {
    YamlEvent event;
    if (!yaml_parser_parse(parser.get(), event.get()))
      return std::unexpected(CoreError::yaml(parser_error(*parser.get(), first_line)));
    if (auto added = builder.add(*event.get()); !added) return std::unexpected(std::move(added.error()));
    if (event.get()->type == YAML_STREAM_END_EVENT) break;
  }
  return builder.finish();
}

YamlBudget::YamlBudget(const YamlNode& document) : left_(kMaxValueBytes), aliases_(document.holds_alias) {}

Result<void> YamlBudget::spend(const YamlNode& node, std::size_t text_bytes) {
  const std::size_t cost = sizeof(YamlValue) + text_bytes;
  if (cost <= left_) {
    left_ -= cost;
    return {};
  }
  left_ = 0;  // spent: every later charge fails too
  const std::string why = aliases_ ? " is too large after resolving aliases" : " is too large (more than 16 MiB in all)";
  return std::unexpected(CoreError::yaml("value" + position_of(node) + why));
}

Result<YamlValue> to_yaml_value(const YamlNode& node, YamlBudget& budget) {
  ValueBuilder builder(budget);
  return builder.convert(node);
}

}  // namespace core
