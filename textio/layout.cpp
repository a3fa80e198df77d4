// Record layout compiler: turns a layout text such as ((3(I3)),1X,I6) into
// the flat item list that the edited record writer interprets.
#include "textio/layout.h"

#include <algorithm>
#include <climits>

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

// The items made so far, appended to in place.
struct ItemList {
  LayoutItem* items;
  int32_t count;

  void Add(const LayoutItem& item) { items[count++] = item; }
  LayoutItem& Back() { return items[count - 1]; }
};

// An integer field after its "I": Iw or Iw.m.
int CompileField(Scanner& scanner, int32_t repeat, ItemList& items) {
  int32_t width = 0;
  int32_t minimum = 1;
  if (int error = ReadRequiredNumber(scanner, width)) return error;
  if (scanner.Peek() == '.') {
    scanner.Take();
    if (int error = ReadRequiredNumber(scanner, minimum)) return error;
    if (minimum > width) return LayoutMinimumOverWidth;
  }
  items.Add({LayoutItemKind::IntegerField, repeat, width, minimum, 0});
  return 0;
}

// A group is walked once per pass, so a group that places nothing of its
// own is folded at its close: a group of one field, such as 3(I3), becomes
// that field with the uses multiplied, and a group of position moves (or of
// nothing) one move of all its columns, so that no count, however large,
// makes writing walk a group in vain. Counts of 0 mean once.
void CloseGroup(ItemList& list, int32_t start) {
  int32_t passes = std::max(list.items[start].count, 1);
  int32_t inside = list.count - start - 1;
  if (inside == 1 && list.Back().kind == LayoutItemKind::IntegerField) {
    LayoutItem field = list.Back();
    int64_t uses = int64_t{passes} * std::max(field.count, 1);
    if (uses <= INT32_MAX) {
      field.count = static_cast<int32_t>(uses);
      list.count = start;
      list.Add(field);
      return;
    }
  }
  int64_t columns = 0;
  for (int32_t i = start + 1; i < list.count; ++i) {
    if (list.items[i].kind != LayoutItemKind::PositionMove) {
      list.Add({LayoutItemKind::GroupEnd, 0, 0, 0, start + 1});
      return;
    }
    columns += list.items[i].count;
  }
  // Beyond INT32_MAX columns no record can be written anyway.
  columns = std::min<int64_t>(columns * passes, INT32_MAX);
  list.count = start;
  if (columns > 0) list.Add({LayoutItemKind::PositionMove, static_cast<int32_t>(columns), 0, 0, 0});
}

// Reverting to a part of the layout without a field would end records
// forever without taking the value, so such a reversion is refused.
int32_t ReversionJump(const ItemList& list, int32_t reversion) {
  bool hasField = std::any_of(list.items + reversion, list.items + list.count,
                              [](const LayoutItem& item) { return item.kind == LayoutItemKind::IntegerField; });
  return hasField ? reversion : -1;
}

// Compiles items up to the ")" that closes the first "("; returns 0, or the
// error number of the place where the text stopped making sense.
int Compile(Scanner& scanner, ItemList& items) {
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
    int32_t here = items.count;
    switch (c) {
      case '(':
        if (depth == kMaxGroupDepth) return LayoutTooDeep;
        if (depth == 0) reversion = here;
        groupStarts[depth++] = here;
        items.Add({LayoutItemKind::GroupStart, count, 0, 0, 0});
        afterItem = false;
        break;
      case 'I':
        if (int error = CompileField(scanner, count, items)) return error;
        afterItem = true;
        break;
      case 'X':
        items.Add({LayoutItemKind::PositionMove, count, 0, 0, 0});
        afterItem = true;
        break;
      case ')':
        if (depth == 0) {
          items.Add({LayoutItemKind::LayoutEnd, 0, 0, 0, ReversionJump(items, reversion)});
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

int32_t CompileLayout(const char* text, int length, LayoutItem* items) {
  ItemList list{items, 0};
  Scanner scanner{text, text + std::max(length, 0)};
  if (int error = Compile(scanner, list)) list.Add({LayoutItemKind::LayoutError, error, 0, 0, 0});
  return list.count;
}

}  // namespace textio
