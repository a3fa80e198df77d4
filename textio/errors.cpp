// The message text of each run-time error number.
#include "textio/textio.h"

namespace textio {
namespace {

struct ErrorText {
  int number;
  const char* text;
};

constexpr ErrorText kErrorTexts[] = {
#define TEXTIO_ERROR_TEXT(name, number, text) {number, text},
    TEXTIO_RUN_ERRORS(TEXTIO_ERROR_TEXT)
#undef TEXTIO_ERROR_TEXT
};

constexpr bool AscendingAndInRange() {
  int previous = 5999;
  for (const ErrorText& entry : kErrorTexts) {
    if (entry.number <= previous || entry.number > 6999) return false;
    previous = entry.number;
  }
  return true;
}
static_assert(AscendingAndInRange(), "error numbers must be unique, ascending, 6000 to 6999");

}  // namespace

const char* RunErrorMessage(int number) {
  for (const ErrorText& entry : kErrorTexts) {
    if (entry.number == number) return entry.text;
  }
  return "";
}

}  // namespace textio
