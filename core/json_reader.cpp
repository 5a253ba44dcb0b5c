// parse_json: nlohmann's parser with our own document builder. The library's own builder
// finds each new member of an ordered object by a linear search, so an object of n
// members takes n² steps (80,000 data-source keys took 40 s); this one keeps an index
// of each open object's members.

#include <string>
#include <unordered_map>
#include <vector>

#include "core/json_writer.h"

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
    open_.push_back({place(ordered_json::object()), {}, {}});
    return true;
  }
  bool key(string_t& name) {
    open_.back().key = std::move(name);
    return true;
  }
  bool end_object() {
    open_.pop_back();
    return true;
  }
  bool start_array(std::size_t) {
    open_.push_back({place(ordered_json::array()), {}, {}});
    return true;
  }
  bool end_array() {
    open_.pop_back();
    return true;
  }

  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception& error) {
    throw error;
  }

 private:
  // An object or array being filled. Pointers stay valid: only the innermost open
  // container grows.
  struct Open {
    ordered_json* value;
    std::unordered_map<std::string, std::size_t> members;  // objects: name -> position
    std::string key;                                        // objects: the pending member
  };

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
    // The index says whether the name is new, so the map's own search is never needed.
    auto& entries = static_cast<ordered_json::object_t::Container&>(*open.value->get_ptr<ordered_json::object_t*>());
    const auto [found, inserted] = open.members.try_emplace(open.key, entries.size());
    if (!inserted) {
      entries[found->second].second = std::move(value);
      return &entries[found->second].second;
    }
    entries.emplace_back(open.key, std::move(value));
    return &entries.back().second;
  }

  ordered_json& root_;
  std::vector<Open> open_;
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
