#include "config/strict_json.hpp"

#include "base/text.hpp"

#include <algorithm>
#include <iterator>
#include <set>

namespace core {
namespace {

using nlohmann::json;

// Follows the parser's events to know, at each key, which object it belongs
// to and whether that object has had the key already.
class RepeatTracker {
 public:
  void on_event(json::parse_event_t event, const json& parsed) {
    switch (event) {
      case json::parse_event_t::object_start: frames_.push_back({false, {}, {}}); break;
      case json::parse_event_t::array_start: frames_.push_back({true, {}, {}}); break;
      case json::parse_event_t::object_end:
      case json::parse_event_t::array_end: frames_.pop_back(); break;
      case json::parse_event_t::key: on_key(parsed.get_ref<const std::string&>()); break;
      case json::parse_event_t::value: break;
    }
  }
  std::vector<RepeatedKey> take() { return std::move(repeated_); }

 private:
  struct Frame {
    bool array;
    std::set<std::string> keys;
    std::string current_key;
  };

  void on_key(const std::string& key) {
    Frame& object = frames_.back();
    if (!object.keys.insert(key).second) repeated_.push_back({path_of_innermost(), key});
    object.current_key = key;
  }

  JsonObjectPath path_of_innermost() const {
    JsonObjectPath path;
    for (std::size_t i = 0; i + 1 < frames_.size(); ++i) {
      if (frames_[i].array) path.emplace_back(std::nullopt);
      else path.emplace_back(frames_[i].current_key);
    }
    return path;
  }

  std::vector<Frame> frames_;
  std::vector<RepeatedKey> repeated_;
};

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

}  // namespace

std::expected<StrictJson, std::string> parse_strict_json_explained(std::string_view text) {
  if (!is_valid_utf8(text)) return std::unexpected("not valid UTF-8");
  // The parser would skip a byte order mark; the files are plain JSON text.
  if (text.starts_with(kByteOrderMark)) return std::unexpected("starts with a byte order mark");
  RepeatTracker tracker;
  auto callback = [&tracker](int, json::parse_event_t event, json& parsed) {
    tracker.on_event(event, parsed);
    return true;  // keep every value; the readers decide what matters
  };
  // The parser reports position only through its exception, which stays here.
  try {
    json value = json::parse(text.begin(), text.end(), callback, /*allow_exceptions=*/true);
    return StrictJson{std::move(value), tracker.take()};
  } catch (const json::parse_error& e) {
    std::string message = e.what();
    // "[json.exception.parse_error.101] parse error at line 1, column 2: ..."
    if (auto at = message.find(" at line "); at != std::string::npos) message = message.substr(at + 4);
    else if (auto colon = message.find("] "); colon != std::string::npos) message = message.substr(colon + 2);
    return std::unexpected(std::move(message));
  } catch (const json::exception& e) {
    return std::unexpected(std::string(e.what()));
  }
}

std::optional<StrictJson> parse_strict_json(std::string_view text) {
  auto parsed = parse_strict_json_explained(text);
  if (!parsed) return std::nullopt;
  return std::move(*parsed);
}

bool repeats_any(const std::vector<RepeatedKey>& repeated, const JsonObjectPath& where,
                 std::initializer_list<std::string_view> keys) {
  return std::any_of(repeated.begin(), repeated.end(), [&](const RepeatedKey& r) {
    return r.object_path == where && std::find(keys.begin(), keys.end(), r.key) != keys.end();
  });
}

}  // namespace core
