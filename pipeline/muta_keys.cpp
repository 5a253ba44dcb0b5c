#include "pipeline/muta_keys.h"

#include <optional>
#include <unordered_map>

#include "pipeline/cleaning.h"

namespace vordak::pipeline {

namespace {

enum class KeyKind { kNull, kNumber, kText };

KeyKind key_of(const Column& muta, std::size_t row, double& number, std::string& text) {
  if (muta.is_null(row)) return KeyKind::kNull;
  if (const std::optional<double> value = muta.number(row)) {
    number = *value;
    return KeyKind::kNumber;
  }
  text = muta.kind() == ColumnKind::kText ? std::string(muta.text(row)) : cell_text_form(muta, row);
  return KeyKind::kText;
}

}  // namespace

void MutaSet::add(const Column& muta, std::size_t row) {
  double number = 0;
  std::string text;
  switch (key_of(muta, row, number, text)) {
    case KeyKind::kNull: has_null_ = true; break;
    case KeyKind::kNumber: numbers_.insert(number); break;
    case KeyKind::kText: texts_.insert(std::move(text)); break;
  }
}

bool MutaSet::contains(const Column& muta, std::size_t row) const {
  double number = 0;
  std::string text;
  switch (key_of(muta, row, number, text)) {
    case KeyKind::kNull: return has_null_;
    case KeyKind::kNumber: return numbers_.contains(number);
    case KeyKind::kText: return texts_.contains(text);
  }
  return false;
}

std::vector<std::uint32_t> firm_numbers(const Column& muta) {
  std::unordered_map<double, std::uint32_t> numbers;
  std::unordered_map<std::string, std::uint32_t> texts;
  std::uint32_t next = 0;
  std::optional<std::uint32_t> null_firm;
  std::vector<std::uint32_t> firms(muta.size());
  for (std::size_t row = 0; row < muta.size(); ++row) {
    double number = 0;
    std::string text;
    switch (key_of(muta, row, number, text)) {
      case KeyKind::kNull:
        if (!null_firm) null_firm = next++;
        firms[row] = *null_firm;
        break;
      case KeyKind::kNumber: firms[row] = numbers.try_emplace(number, next).first->second; break;
      case KeyKind::kText: firms[row] = texts.try_emplace(std::move(text), next).first->second; break;
    }
    if (firms[row] == next) ++next;
  }
  return firms;
}

}  // namespace vordak::pipeline
