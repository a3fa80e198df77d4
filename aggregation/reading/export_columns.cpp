// A delimited export's columns: header names, the --columns list both ways,
// and the field form of the chosen columns.
#include "aggregation/reading/export_columns.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr int kTextBytes = 1 << 18;  // a record's texts, at most

// A whole number written in digits alone, from 1; 0 when it is none.
int64_t Position(const std::string& item) {
  if (item.empty() || item.size() > 10 || item.find_first_not_of("0123456789") != std::string::npos) return 0;
  return std::stoll(item);
}

// The column an item names, from 0: an exact header name first, then a
// position; -1 when it names none, with `fault` saying why.
int32_t ColumnOf(const std::string& item, const RecordTexts* names, int32_t fields, ListFault& fault) {
  if (names != nullptr) {
    for (int32_t c = 0; c < names->kept; ++c) {
      if (names->Text(c) == item) return c;
    }
  }
  const int64_t position = Position(item);
  if (position == 0) {
    fault = names != nullptr ? ListFault::UnknownName : ListFault::NotAPosition;
    return -1;
  }
  if (position > fields) {
    fault = ListFault::PastLastField;
    return -1;
  }
  return static_cast<int32_t>(position - 1);
}

// A range first-last: the one split at a "-" whose two sides name columns.
ListFault TakeRange(const std::string& item, const RecordTexts* names, int32_t fields, std::vector<int32_t>& chosen) {
  int32_t first = -1, last = -1, readings = 0;
  ListFault fault = ListFault::None;
  for (size_t dash = item.find('-'); dash != std::string::npos; dash = item.find('-', dash + 1)) {
    ListFault sideFault = ListFault::None;
    const int32_t from = ColumnOf(item.substr(0, dash), names, fields, sideFault);
    const int32_t to = from < 0 ? -1 : ColumnOf(item.substr(dash + 1), names, fields, sideFault);
    if (to < 0) {
      fault = fault == ListFault::None ? sideFault : fault;
      continue;
    }
    first = from;
    last = to;
    ++readings;
  }
  if (readings == 0) return fault;
  if (readings > 1) return ListFault::Ambiguous;
  if (last < first) return ListFault::Backwards;
  for (int32_t c = first; c <= last; ++c) chosen.push_back(c);
  return ListFault::None;
}

// Letters, digits, _ and . only: a name no shell and no list reads otherwise.
bool PlainName(std::string_view name) {
  return !name.empty() &&
         name.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_.") == std::string::npos;
}

std::string Written(const std::vector<int32_t>& chosen, const RecordTexts* names) {
  const auto word = [names](int32_t c) { return names != nullptr ? std::string(names->Text(c)) : std::to_string(c + 1); };
  std::string list;
  for (size_t k = 0; k < chosen.size();) {
    size_t run = 1;
    while (k + run < chosen.size() && chosen[k + run] == chosen[k] + static_cast<int32_t>(run)) ++run;
    if (!list.empty()) list += ',';
    list += word(chosen[k]);
    if (run > 1) {
      list += run == 2 ? ',' : '-';
      list += word(chosen[k + run - 1]);
    }
    k += run;
  }
  return list;
}

}  // namespace

std::string_view RecordTexts::Text(int32_t field) const {
  if (field < 0 || field >= kept) return {};
  const textio::FieldPlace& place = places[static_cast<size_t>(field)];
  return {text.data() + place.start, static_cast<size_t>(place.length)};
}

int ReadRecordTexts(int unit, char delimiter, RecordTexts& texts) {
  texts.text.resize(kTextBytes);
  texts.places.resize(kNamedColumns);
  const int fields = textio::readFieldTexts(unit, delimiter, texts.text.data(), kTextBytes, texts.places.data(),
                                            kNamedColumns, texts.line);
  texts.fields = std::max(fields, 0);
  texts.kept = std::min(texts.fields, kNamedColumns);
  return fields;
}

std::string ColumnLabel(const RecordTexts* names, int32_t column) {
  const std::string name(names != nullptr ? names->Text(column) : std::string_view());
  if (!name.empty()) return name;
  std::string label = "column ";
  label += std::to_string(column + 1);
  return label;
}

ListReading ReadColumnList(const char* list, const RecordTexts* names, int32_t fields) {
  ListReading reading;
  const std::string text = list;
  for (size_t start = 0;;) {
    const size_t comma = std::min(text.find(',', start), text.size());
    reading.item = text.substr(start, comma - start);
    ListFault fault = ListFault::None;
    const int32_t column = reading.item.empty() ? -1 : ColumnOf(reading.item, names, fields, fault);
    if (reading.item.empty()) {
      reading.fault = ListFault::Empty;
    } else if (column >= 0) {
      reading.chosen.push_back(column);
    } else if (reading.item.find('-') != std::string::npos) {
      reading.fault = TakeRange(reading.item, names, fields, reading.chosen);
    } else {
      reading.fault = fault;
    }
    if (reading.fault != ListFault::None) return reading;
    if (comma == text.size()) break;
    start = comma + 1;
  }
  std::vector<int32_t> sorted = reading.chosen;
  std::sort(sorted.begin(), sorted.end());
  const auto twice = std::adjacent_find(sorted.begin(), sorted.end());
  if (twice != sorted.end()) {
    reading.fault = ListFault::Twice;
    reading.item = ColumnLabel(names, *twice);
  }
  return reading;
}

std::string WriteColumnList(const std::vector<int32_t>& chosen, const RecordTexts* names, int32_t fields) {
  if (names != nullptr &&
      std::all_of(chosen.begin(), chosen.end(), [names](int32_t c) { return PlainName(names->Text(c)); })) {
    std::string list = Written(chosen, names);
    const ListReading back = ReadColumnList(list.c_str(), names, fields);
    if (back.fault == ListFault::None && back.chosen == chosen) return list;
  }
  return Written(chosen, nullptr);
}

int64_t LeastRecordBytes(const std::vector<int32_t>& chosen, bool missingGiven) {
  const int64_t last = chosen.empty() ? 0 : *std::max_element(chosen.begin(), chosen.end());
  return last + (missingGiven ? 0 : static_cast<int64_t>(chosen.size())) + 1;
}

int ReadChosenColumns(int unit, char delimiter, const std::vector<int32_t>& chosen, bool everyField,
                      bool missingGiven, int32_t missingCode) {
  const int32_t fields = chosen.empty() ? 0 : *std::max_element(chosen.begin(), chosen.end()) + 1;
  std::vector<int32_t> itemOf(static_cast<size_t>(fields), -1);
  for (size_t k = 0; k < chosen.size(); ++k) itemOf[static_cast<size_t>(chosen[k])] = static_cast<int32_t>(k);
  const textio::FieldForm form{delimiter, itemOf.data(), fields, everyField, missingGiven, missingCode};
  return textio::ReadFieldsOf(unit, form);
}
