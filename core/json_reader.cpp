// parse_json: nlohmann's parser with our own document builder. The library's own builder
// finds each new member of an ordered object by a linear search, so an object of n
// members takes n² steps (80,000 data-source keys took 40 s); this one keeps an index
// of each open object's members.

#include "core/json_writer.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/name_index.h"

namespace vordak {

namespace {

class OrderedBuilder {
 public:
  using number_integer_t = ordered_json::number_integer_t;
  using number_unsigned_t = ordered_json::number_unsigned_t;
  using number_float_t = ordered_json::number_float_t;
  using string_t = ordered_json::string_t;
  using binary_t = ordered_json::binary_t;

  explicit OrderedBuilder(ordered_json& root) : root_(root) {}

  bool null() { return add(nullptr); }
  bool boolean(bool value) { return add(value); }
  bool number_integer(number_integer_t value) { return add(value); }
  bool number_unsigned(number_unsigned_t value) { return add(value); }
  bool number_float(number_float_t value, const string_t&) { return add(value); }
  bool string(string_t& value) { return add(std::move(value)); }
  bool binary(binary_t& value) { return add(ordered_json::binary(std::move(value))); }

  bool start_object(std::size_t) {
    enter();
    open_.push_back({place(ordered_json::object()), {}, {}, {}});
    return true;
  }
  bool key(string_t& name) {
    open_.back().key = std::move(name);
    return true;
  }
  bool end_object() {
    --depth_;
    // Built once at its size: growing the map itself would copy every name, which its
    // entries hold as constants and so cannot move.
    Open& open = open_.back();
    auto& entries = static_cast<Entries&>(*open.value->get_ptr<ordered_json::object_t*>());
    entries.reserve(open.members.size());
    for (auto& [name, value] : open.members) entries.emplace_back(std::move(name), std::move(value));
    open_.pop_back();
    return true;
  }
  bool start_array(std::size_t) {
    enter();
    open_.push_back({place(ordered_json::array()), {}, {}, {}});
    return true;
  }
  bool end_array() {
    --depth_;
    open_.pop_back();
    return true;
  }

  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception& error) {
    throw error;
  }

 private:
  using Members = std::vector<std::pair<std::string, ordered_json>>;
  using Entries = ordered_json::object_t::Container;

  // An object or array being filled. Pointers stay valid: only the innermost open
  // container grows, and an object's members move into it only when it closes.
  struct Open {
    ordered_json* value;
    Members members;                   // objects: put into `value` at the end
    std::string key;                   // objects: the pending member
    std::vector<std::uint32_t> slots;  // objects: the members' index
  };

  // One level deeper; refused past kMaxJsonDepth, before anything recurses over it.
  void enter() {
    if (++depth_ > kMaxJsonDepth) {
      throw ordered_json::parse_error::create(
          101, 0, "nesting deeper than " + std::to_string(kMaxJsonDepth) + " levels", nullptr);
    }
  }

  bool add(ordered_json value) {
    place(std::move(value));
    return true;
  }

  // Puts a value where the parser is: the root, the next element, or the pending member.
  ordered_json* place(ordered_json value) {
    if (open_.empty()) {
      root_ = std::move(value);
      return &root_;
    }
    Open& open = open_.back();
    if (open.value->is_array()) {
      open.value->push_back(std::move(value));
      return &open.value->back();
    }
    // Our own index says whether the name is new, so the map's own search is never needed.
    Members& entries = open.members;
    const auto name_at = [&entries](std::size_t i) -> std::string_view { return entries[i].first; };
    if (const std::optional<std::size_t> found = name_index::find(open.slots, entries.size(), open.key, name_at)) {
      entries[*found].second = std::move(value);
      return &entries[*found].second;
    }
    entries.emplace_back(std::move(open.key), std::move(value));
    name_index::index_added(open.slots, entries.size(), name_at);
    return &entries.back().second;
  }

  ordered_json& root_;
  std::vector<Open> open_;
  std::size_t depth_ = 0;  // open arrays and objects
};

}  // namespace

void append_new_member(ordered_json& object, std::string name, ordered_json value) {
  if (object.is_null()) object = ordered_json::object();
  auto& entries = static_cast<ordered_json::object_t::Container&>(*object.get_ptr<ordered_json::object_t*>());
  entries.emplace_back(std::move(name), std::move(value));
}

ordered_json parse_json(std::string_view text) {
  if (text.starts_with("\xEF\xBB\xBF")) {
    throw ordered_json::parse_error::create(101, 0, "Unexpected UTF-8 BOM", nullptr);
  }
  ordered_json document;
  OrderedBuilder builder(document);
  ordered_json::sax_parse(text.begin(), text.end(), &builder);
  return document;
}

}  // namespace vordak
