// Record layout compiler: turns a layout text such as ((3(I3)),1X,I6) into
// the flat item list that the edited record writer interprets.
#include "textio/layout.h"

#include <algorithm>

namespace textio {
namespace {

constexpr int kEndOfText = -1;

// Reads the layout text with blanks and tabs skipped wherever they stand.
struct Scanner {
  const char* next;
  const char* end;

  void SkipBlanks() {
    while (next != end && (*next == ' ' || *next == '\t')) ++next;
  }
  int Peek() {
    SkipBlanks();
    return next == end ? kEndOfText : static_cast<unsigned char>(*next);
  }
  // The next character, letters in upper case.
  int Take() {
    int c = Peek();
    if (c == kEndOfText) return c;
    ++next;
    return c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c;
  }
};

bool IsDigit(int c) { return c >= '0' && c <= '9'; }

// A whole number when one stands next: 0 and `present` set, or 0 and
// `present` clear when none does, or the error for a number over 32 bits.
int ReadNumber(Scanner& scanner, int32_t& value, bool& present) {
  present = IsDigit(scanner.Peek());
  int64_t number = 0;
  while (IsDigit(scanner.Peek())) {
    number = number * 10 + (scanner.Take() - '0');
    if (number > INT32_MAX) return LayoutNumberTooLarge;
  }
  value = static_cast<int32_t>(number);
  return 0;
}

int ReadRequiredNumber(Scanner& scanner, int32_t& value) {
  bool present = false;
  int error = ReadNumber(scanner, value, present);
  return error != 0 || present ? error : LayoutNumberMissing;
}

// An integer field after its "I": Iw or Iw.m.
int CompileField(Scanner& scanner, int32_t repeat, std::vector<LayoutItem>& items) {
  int32_t width = 0;
  int32_t minimum = 1;
  if (int error = ReadRequiredNumber(scanner, width)) return error;
  if (scanner.Peek() == '.') {
    scanner.Take();
    if (int error = ReadRequiredNumber(scanner, minimum)) return error;
    if (minimum > width) return LayoutMinimumOverWidth;
  }
  items.push_back({LayoutItemKind::IntegerField, repeat, width, minimum, 0});
  return 0;
}

// A group of one field, such as 3(I3), becomes that field with the uses
// multiplied: each value then costs no group end. Counts of 0 mean once.
void CloseGroup(std::vector<LayoutItem>& items, int32_t start) {
  auto first = static_cast<size_t>(start);
  if (items.size() == first + 2 && items.back().kind == LayoutItemKind::IntegerField) {
    LayoutItem field = items.back();
    int64_t uses = int64_t{std::max(items[first].count, 1)} * std::max(field.count, 1);
    if (uses <= INT32_MAX) {
      field.count = static_cast<int32_t>(uses);
      items.pop_back();
      items.back() = field;
      return;
    }
  }
  items.push_back({LayoutItemKind::GroupEnd, 0, 0, 0, start + 1});
}

// Reverting to a part of the layout without a field would end records
// forever without taking the value, so such a reversion is refused.
int32_t ReversionJump(const std::vector<LayoutItem>& items, int32_t reversion) {
  bool hasField = std::any_of(items.begin() + reversion, items.end(),
                              [](const LayoutItem& item) { return item.kind == LayoutItemKind::IntegerField; });
  return hasField ? reversion : -1;
}

// Compiles items up to the ")" that closes the first "("; returns 0, or the
// error number of the place where the text stopped making sense.
int Compile(Scanner& scanner, std::vector<LayoutItem>& items) {
  if (scanner.Take() != '(') return LayoutNoOpening;
  int32_t groupStarts[kMaxGroupDepth];
  int depth = 0;
  int32_t reversion = 0;
  bool afterItem = false;  // a comma may follow
  for (;;) {
    int32_t number = 0;
    bool hasNumber = false;
    if (int error = ReadNumber(scanner, number, hasNumber)) return error;
    int c = scanner.Take();
    if (hasNumber && c != '(' && c != 'I' && c != 'X') return LayoutNothingToRepeat;
    int32_t count = hasNumber ? number : 1;
    auto here = static_cast<int32_t>(items.size());
    switch (c) {
      case '(':
        if (depth == kMaxGroupDepth) return LayoutTooDeep;
        if (depth == 0) reversion = here;
        groupStarts[depth++] = here;
        items.push_back({LayoutItemKind::GroupStart, count, 0, 0, 0});
        afterItem = false;
        break;
      case 'I':
        if (int error = CompileField(scanner, count, items)) return error;
        afterItem = true;
        break;
      case 'X':
        items.push_back({LayoutItemKind::PositionMove, count, 0, 0, 0});
        afterItem = true;
        break;
      case ')':
        if (depth == 0) {
          items.push_back({LayoutItemKind::LayoutEnd, 0, 0, 0, ReversionJump(items, reversion)});
          return 0;
        }
        CloseGroup(items, groupStarts[--depth]);
        afterItem = true;
        break;
      case ',':
        if (!afterItem) return LayoutOutOfPlace;
        afterItem = false;
        break;
      case kEndOfText:
        return LayoutUnclosed;
      default:
        return LayoutOutOfPlace;
    }
  }
}

}  // namespace

void CompileLayout(const char* text, int length, std::vector<LayoutItem>& items) {
  items.clear();
  Scanner scanner{text, text + std::max(length, 0)};
  if (int error = Compile(scanner, items)) {
    items.push_back({LayoutItemKind::LayoutError, error, 0, 0, 0});
  }
}

}  // namespace textio
