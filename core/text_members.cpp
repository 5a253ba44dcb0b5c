#include "core/text_members.h"

#include <cassert>
#include <stdexcept>

#include "core/name_index.h"

namespace vordak {

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

void TextMembers::hold(std::string text) {
  clear();
  buffer_ = std::move(text);
  held_size_ = buffer_.size();
  if (held_size_ >= kNotText) throw std::length_error("TextMembers");
  // A member takes its name, its text and at least 6 more characters ("":"",); most take
  // far more than 32 in all. Taken at once: growing step by step would copy them.
  entries_.reserve(held_size_ / 32);
}

void TextMembers::add_held(std::string_view name, std::string_view text) {
  const char* const start = buffer_.data();
  assert(name.data() >= start && text.data() + text.size() <= start + held_size_);
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

}  // namespace vordak
