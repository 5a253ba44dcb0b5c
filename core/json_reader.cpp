// parse_json: nlohmann's parser with our own document builder. The library's own builder
// finds each new member of an ordered object by a linear search, so an object of n
// members takes n² steps (80,000 data-source keys took 40 s); this one keeps an index
// of each open object's members.

#include "core/json_reader.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/name_index.h"
#include "core/plain_member_scan.h"

namespace vordak {

namespace {

class OrderedBuilder {
 public:
  using number_integer_t = ordered_json::number_integer_t;
  using number_unsigned_t = ordered_json::number_unsigned_t;
  using number_float_t = ordered_json::number_float_t;
  using string_t = ordered_json::string_t;
  using binary_t = ordered_json::binary_t;

  OrderedBuilder(ordered_json& root, std::string_view set_aside, TextMembers* members)
      : root_(root), set_aside_(set_aside), members_(members) {}

  bool null() { return add(nullptr); }
  bool boolean(bool value) { return add(value); }
  bool number_integer(number_integer_t value) { return add(value); }
  bool number_unsigned(number_unsigned_t value) { return add(value); }
  bool number_float(number_float_t value, const string_t&) { return add(value); }
  bool string(string_t& value) {
    if (aside_depth_ == 1) return add_aside(value);
    return add(std::move(value));
  }
  bool binary(binary_t& value) { return add(ordered_json::binary(std::move(value))); }

  bool start_object(std::size_t) {
    enter();
    if (aside_depth_ == 0 && at_set_aside_member()) {
      // A member given twice keeps its last value, set aside or not; the document keeps
      // an empty object in its place.
      if (members_ != nullptr) members_->clear();
      place(ordered_json::object());
      aside_depth_ = 1;
      return true;
    }
    if (aside_depth_ > 0) return start_aside();
    open_.push_back({place(ordered_json::object()), {}, {}, {}});
    return true;
  }
  bool key(string_t& name) {
    if (aside_depth_ == 1) {
      aside_key_ = std::move(name);
    } else if (aside_depth_ == 0) {
      open_.back().key = std::move(name);
    }
    return true;
  }
  bool end_object() {
    --depth_;
    if (aside_depth_ > 0) {
      if (--aside_depth_ == 0 && members_ != nullptr) members_->merge_repeated_names();
      return true;
    }
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
    if (aside_depth_ > 0) return start_aside();
    open_.push_back({place(ordered_json::array()), {}, {}, {}});
    return true;
  }
  bool end_array() {
    --depth_;
    if (aside_depth_ > 0) {
      --aside_depth_;
      return true;
    }
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

  bool at_set_aside_member() const {
    return !set_aside_.empty() && open_.size() == 1 && open_.back().value->is_object() && open_.back().key == set_aside_;
  }

  // Inside the member set aside: a nested container is one value that is not a text.
  bool start_aside() {
    if (aside_depth_ == 1) add_aside_member(std::nullopt);
    ++aside_depth_;
    return true;
  }
  bool add_aside(std::string_view text) {
    add_aside_member(text);
    return true;
  }
  void add_aside_member(std::optional<std::string_view> text) {
    if (members_ != nullptr) members_->add(aside_key_, text);
  }

  bool add(ordered_json value) {
    if (aside_depth_ == 1) {
      add_aside_member(std::nullopt);
    } else if (aside_depth_ == 0) {
      if (at_set_aside_member() && members_ != nullptr) members_->clear();
      place(std::move(value));
    }
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
  const std::string_view set_aside_;
  TextMembers* const members_;
  std::size_t aside_depth_ = 0;  // 1: directly in the member set aside; more: nested in one of its values
  std::size_t depth_ = 0;        // open arrays and objects, those set aside included
  std::string aside_key_;
};

}  // namespace

TextMembers::Member TextMembers::operator[](std::size_t i) const {
  const Entry& entry = entries_[i];
  if (entry.text_size == kNotText) return {name_of(i), std::nullopt};
  return {name_of(i), std::string_view(buffer_.data() + entry.text_at, entry.text_size)};
}

ordered_json TextMembers::to_json() const {
  ordered_json object = ordered_json::object();
  for (std::size_t i = 0; i < size(); ++i) {
    const Member member = (*this)[i];
    append_new_member(object, std::string(member.name),
                      member.text ? ordered_json(std::string(*member.text)) : ordered_json(nullptr));
  }
  return object;
}

void TextMembers::clear() {
  buffer_.clear();
  held_size_ = 0;
  entries_.clear();
}

void TextMembers::reserve(std::size_t bytes) {
  // A member takes its name, its text and at least 6 more characters ("":"",); most take
  // far more than 32 in all.
  buffer_.reserve(bytes);
  entries_.reserve(bytes / 32);
}

void TextMembers::hold(std::string text) {
  clear();
  buffer_ = std::move(text);
  held_size_ = buffer_.size();
  if (held_size_ >= kNotText) throw std::length_error("TextMembers");
}

void TextMembers::add_held(std::string_view name, std::string_view text) {
  const char* const start = buffer_.data();
  entries_.push_back({static_cast<std::uint32_t>(name.data() - start), static_cast<std::uint32_t>(name.size()),
                      static_cast<std::uint32_t>(text.data() - start), static_cast<std::uint32_t>(text.size())});
}

void TextMembers::add(std::string_view name, std::optional<std::string_view> text) {
  // Members of 4 GiB and more are beyond any record this holds.
  if (buffer_.size() + name.size() + (text ? text->size() : 0) >= kNotText) throw std::length_error("TextMembers");
  const auto name_at = static_cast<std::uint32_t>(buffer_.size());
  buffer_.append(name);
  const auto text_at = static_cast<std::uint32_t>(buffer_.size());
  if (text) buffer_.append(*text);
  entries_.push_back({name_at, static_cast<std::uint32_t>(name.size()), text_at,
                      text ? static_cast<std::uint32_t>(text->size()) : kNotText});
}

void TextMembers::merge_repeated_names() {
  // Names in ascending order, as records are written, cannot repeat.
  bool ascending = true;
  for (std::size_t i = 1; i < entries_.size() && ascending; ++i) ascending = name_of(i - 1) < name_of(i);
  if (ascending) return;
  // One index, at its final size, for one pass: members are kept in place as they come,
  // a repeated one only gives its value to the first.
  std::vector<std::uint32_t> slots;
  if (entries_.size() >= name_index::kIndexFrom) {
    std::size_t size = 64;
    while (size < 2 * entries_.size()) size *= 2;
    slots.assign(size, 0);
  }
  const auto name_at = [this](std::size_t i) { return name_of(i); };
  std::size_t kept = 0;
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    const std::string_view name = name_of(i);
    if (const std::optional<std::size_t> first = name_index::find(slots, kept, name, name_at)) {
      entries_[*first].text_at = entries_[i].text_at;
      entries_[*first].text_size = entries_[i].text_size;
      continue;
    }
    entries_[kept] = entries_[i];
    if (!slots.empty()) *name_index::slot_of(slots, name, name_at) = static_cast<std::uint32_t>(kept + 1);
    ++kept;
  }
  entries_.resize(kept);
}

void append_new_member(ordered_json& object, std::string name, ordered_json value) {
  if (object.is_null()) object = ordered_json::object();
  auto& entries = static_cast<ordered_json::object_t::Container&>(*object.get_ptr<ordered_json::object_t*>());
  entries.emplace_back(std::move(name), std::move(value));
}

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

ordered_json parse_with_builder(std::string_view text, std::string_view name, TextMembers* members) {
  ordered_json document;
  OrderedBuilder builder(document, name, members);
  ordered_json::sax_parse(text.begin(), text.end(), &builder);
  return document;
}

// The document read around its member `name` when scan_plain_member finds it plain, each
// of its members given to `found`; nothing when it is not, or is malformed around it.
std::optional<ordered_json> parse_around_plain_member(std::string_view text, std::string_view name,
                                                      const PlainMember& found) {
  const std::optional<MemberSpan> span = scan_plain_member(text, name, found);
  if (!span) return std::nullopt;
  // The parser reads the rest around an empty object in the member's place, which is what
  // it keeps there anyway.
  std::string rest;
  rest.reserve(text.size() - (span->end - span->begin) + 2);
  rest.append(text.substr(0, span->begin)).append("{}").append(text.substr(span->end));
  try {
    return parse_with_builder(rest, name, nullptr);
  } catch (const ordered_json::exception&) {
    return std::nullopt;  // read the whole text again, whose error says where
  }
}

}  // namespace

ordered_json parse_json(std::string_view text, std::string_view name, TextMembers* members) {
  if (text.starts_with(kByteOrderMark)) {
    throw ordered_json::parse_error::create(101, 0, "Unexpected UTF-8 BOM", nullptr);
  }
  if (members != nullptr) {
    members->clear();
    members->reserve(text.size());
  }
  if (!name.empty()) {
    const auto copy = [members](std::string_view member, std::string_view value) {
      if (members != nullptr) members->add(member, value);
    };
    if (std::optional<ordered_json> document = parse_around_plain_member(text, name, copy)) {
      if (members != nullptr) members->merge_repeated_names();
      return std::move(*document);
    }
    if (members != nullptr) members->clear();
  }
  return parse_with_builder(text, name, members);
}

ordered_json parse_json(std::string&& text, std::string_view name, TextMembers& members) {
  members.hold(std::move(text));
  members.reserve(members.held().size());
  const std::string_view held = members.held();
  if (!held.starts_with(kByteOrderMark) && !name.empty()) {
    const auto keep = [&members](std::string_view member, std::string_view value) { members.add_held(member, value); };
    if (std::optional<ordered_json> document = parse_around_plain_member(held, name, keep)) {
      members.merge_repeated_names();
      return std::move(*document);
    }
  }
  // The long way copies what it keeps.
  const std::string whole(held);
  return parse_json(whole, name, &members);
}

ordered_json parse_json(std::string_view text) { return parse_json(text, {}, nullptr); }

}  // namespace vordak
