#pragma once

// The members of one large object kept flat: a record whose one member maps tens of
// thousands of names to texts would cost a string pair and a node for each in a document;
// here its names and texts sit in one buffer, or stay where they lie in the text read.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/json_writer.h"
#include "core/export.h"

VORDAK_PUBLIC_BEGIN

namespace vordak {

// The members of one object, in order: a name given twice keeps its first place and its
// last value, as parse_json keeps them.
class TextMembers {
 public:
  struct Member {
    std::string_view name;
    std::optional<std::string_view> text;  // absent: the value is not a text
  };

  std::size_t size() const { return entries_.size(); }
  bool empty() const { return entries_.empty(); }
  Member operator[](std::size_t i) const;
  // The members as a JSON object (the document's own form).
  ordered_json to_json() const;

  void clear();
  // Holds `text` (dropping all members), so that members lying in it can be kept where they
  // lie instead of copied: add_held. Its room past its size stays, for a reader's padding.
  void hold(std::string text);
  std::string_view held() const { return std::string_view(buffer_).substr(0, held_size_); }
  // The bytes that may be read from held().data(): its size and the room past it.
  std::size_t held_room() const { return buffer_.capacity(); }
  // Members in the order they come; then the repeated names merged into their first.
  void add(std::string_view name, std::optional<std::string_view> text);
  // A member whose name and text are views into held(), which add() may move.
  void add_held(std::string_view name, std::string_view text);
  void merge_repeated_names();

 private:
  // Places in buffer_, which stays under 4 GiB.
  struct Entry {
    std::uint32_t name_at, name_size, text_at, text_size;  // text_size kNotText: no text
  };
  static constexpr std::uint32_t kNotText = UINT32_MAX;
  std::string_view name_of(std::size_t i) const { return {buffer_.data() + entries_[i].name_at, entries_[i].name_size}; }

  std::string buffer_;  // the text held, then the members copied in
  std::size_t held_size_ = 0;
  std::vector<Entry> entries_;
};

}  // namespace vordak

VORDAK_PUBLIC_END
