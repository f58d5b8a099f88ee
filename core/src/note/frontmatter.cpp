#include "note/frontmatter.hpp"

#include "yaml/yaml_read.hpp"
#include "yaml/yaml_value.hpp"
#include "yaml/yaml_write.hpp"

#include <array>
#include <optional>

namespace core {
namespace {

enum Field : std::size_t { kId, kTitle, kTags, kMetas, kWorkspaceId, kCreatedAt, kUpdated, kFieldCount };

constexpr std::array<std::string_view, kFieldCount> kFieldNames = {"id",           "title",      "tags",   "metas",
                                                                   "workspace_id", "created_at", "updated"};

std::optional<Field> field_named(std::string_view key) {
  for (std::size_t i = 0; i < kFieldCount; ++i)
    if (kFieldNames[i] == key) return static_cast<Field>(i);
  return std::nullopt;
}

std::string_view kind_name(const YamlNode& node) {
  switch (node.kind) {
    case YamlNode::Kind::Scalar: return "a scalar";
    case YamlNode::Kind::Sequence: return "a sequence";
    case YamlNode::Kind::Mapping: return "a mapping";
  }
  return "a node";  // unreachable: every kind is handled above
}

std::unexpected<CoreError> invalid_type(std::string_view what, std::string_view expected, const YamlNode& found) {
  return std::unexpected(CoreError::yaml("invalid type for " + std::string(what) + ": expected " +
                                         std::string(expected) + ", found " + std::string(kind_name(found)) +
                                         position_of(found)));
}

std::string field_label(Field field) { return "field `" + std::string(kFieldNames[field]) + "`"; }

// The key followed by nothing: an empty list or map for tags and metas.
bool is_empty_plain(const YamlNode& node) {
  return node.kind == YamlNode::Kind::Scalar && node.typed_by_text && node.text.empty();
}

// Every text copied out of the document is charged to its budget: an
// alias copies its anchor's text wherever it appears.
Result<std::string> read_text(Field field, const YamlNode& node, YamlBudget& budget) {
  if (node.kind != YamlNode::Kind::Scalar) return invalid_type(field_label(field), "a scalar", node);
  if (auto ok = budget.spend(node, node.text.size()); !ok) return std::unexpected(std::move(ok.error()));
  return node.text;
}

Result<std::optional<std::string>> read_optional_text(Field field, const YamlNode& node, YamlBudget& budget) {
  auto text = read_text(field, node, budget);
  if (!text) return std::unexpected(std::move(text.error()));
  if (node.typed_by_text && std::holds_alternative<YamlValue::Null>(resolve_plain_scalar(*text).value))
    return std::nullopt;
  return std::move(*text);
}

Result<std::vector<std::string>> read_tags(const YamlNode& node, YamlBudget& budget) {
  if (is_empty_plain(node)) return std::vector<std::string>{};
  if (node.kind != YamlNode::Kind::Sequence) return invalid_type("field `tags`", "a sequence", node);
  std::vector<std::string> tags;
  for (const auto& item : node.children) {
    if (item->kind != YamlNode::Kind::Scalar) return invalid_type("an item of field `tags`", "a scalar", *item);
    if (auto ok = budget.spend(*item, item->text.size()); !ok) return std::unexpected(std::move(ok.error()));
    tags.push_back(item->text);
  }
  return tags;
}

Result<std::map<std::string, std::string>> read_metas(const YamlNode& node, YamlBudget& budget) {
  if (is_empty_plain(node)) return std::map<std::string, std::string>{};
  if (node.kind != YamlNode::Kind::Mapping) return invalid_type("field `metas`", "a mapping", node);
  std::map<std::string, std::string> metas;
  for (std::size_t i = 0; i + 1 < node.children.size(); i += 2) {
    const YamlNode& key = *node.children[i];
    const YamlNode& value = *node.children[i + 1];
    if (key.kind != YamlNode::Kind::Scalar) return invalid_type("a key of field `metas`", "a scalar", key);
    if (value.kind != YamlNode::Kind::Scalar) return invalid_type("a value of field `metas`", "a scalar", value);
    if (auto ok = budget.spend(key, key.text.size() + value.text.size()); !ok)
      return std::unexpected(std::move(ok.error()));
    metas.insert_or_assign(key.text, value.text);
  }
  return metas;
}

template <class T>
Result<void> store(Result<T> read, T& field) {
  if (!read) return std::unexpected(std::move(read.error()));
  field = std::move(*read);
  return {};
}

Result<void> read_field(Field field, const YamlNode& node, NoteFrontmatter& out, YamlBudget& budget) {
  switch (field) {
    case kId: return store(read_text(field, node, budget), out.id);
    case kTitle: return store(read_text(field, node, budget), out.title);
    case kTags: return store(read_tags(node, budget), out.tags);
    case kMetas: return store(read_metas(node, budget), out.metas);
    case kWorkspaceId: return store(read_optional_text(field, node, budget), out.workspace_id);
    case kCreatedAt: return store(read_optional_text(field, node, budget), out.created_at);
    case kUpdated: return store(read_text(field, node, budget), out.updated);
    case kFieldCount: break;
  }
  return {};
}

Result<void> read_extra(const std::string& key, const YamlNode& node, NoteFrontmatter& out, YamlBudget& budget) {
  auto value = to_yaml_value(node, budget);
  if (!value) return std::unexpected(std::move(value.error()));
  out.extra.insert_or_assign(key, std::move(*value));
  return {};
}

YamlValue text_value(const std::string& text) { return YamlValue{text}; }

}  // namespace

Result<NoteFrontmatter> read_frontmatter(std::string_view yaml_text, std::size_t first_line) {
  auto root = parse_yaml_document(yaml_text, first_line);
  if (!root) return std::unexpected(std::move(root.error()));
  const YamlNode& mapping = **root;
  if (mapping.kind != YamlNode::Kind::Mapping)
    return std::unexpected(CoreError::yaml("frontmatter is not a mapping" + position_of(mapping)));
  NoteFrontmatter out;
  YamlBudget budget(mapping);  // one for the whole frontmatter, whatever field spends it
  std::array<bool, kFieldCount> seen{};
  for (std::size_t i = 0; i + 1 < mapping.children.size(); i += 2) {
    const YamlNode& key = *mapping.children[i];
    const YamlNode& value = *mapping.children[i + 1];
    if (key.kind != YamlNode::Kind::Scalar) return invalid_type("a frontmatter key", "a scalar", key);
    const std::optional<Field> field = field_named(key.text);
    if (field && seen[*field]) return std::unexpected(CoreError::yaml("duplicate field `" + key.text + "`"));
    if (field) seen[*field] = true;
    if (auto ok = budget.spend(key, key.text.size()); !ok) return std::unexpected(std::move(ok.error()));
    Result<void> read = field ? read_field(*field, value, out, budget) : read_extra(key.text, value, out, budget);
    if (!read) return std::unexpected(std::move(read.error()));
  }
  for (Field required : {kId, kTitle, kUpdated})
    if (!seen[required])
      return std::unexpected(CoreError::yaml("missing field `" + std::string(kFieldNames[required]) + "`"));
  return out;
}

Result<std::string> write_frontmatter(const NoteFrontmatter& frontmatter) {
  YamlValue::Sequence tags;
  for (const std::string& tag : frontmatter.tags) tags.push_back(text_value(tag));
  YamlValue::Mapping metas;
  for (const auto& [key, value] : frontmatter.metas) metas.emplace_back(key, text_value(value));

  YamlValue::Mapping entries;
  entries.emplace_back("id", text_value(frontmatter.id));
  entries.emplace_back("title", text_value(frontmatter.title));
  entries.emplace_back("tags", YamlValue{std::move(tags)});
  entries.emplace_back("metas", YamlValue{std::move(metas)});
  if (frontmatter.workspace_id) entries.emplace_back("workspace_id", text_value(*frontmatter.workspace_id));
  if (frontmatter.created_at) entries.emplace_back("created_at", text_value(*frontmatter.created_at));
  entries.emplace_back("updated", text_value(frontmatter.updated));
  for (const auto& [key, value] : frontmatter.extra)
    if (!field_named(key)) entries.emplace_back(key, value);
  return emit_yaml(YamlValue{std::move(entries)});
}

}  // namespace core
