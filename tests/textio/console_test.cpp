// Console lines longer than the program's own: where they are broken, with
// their late CR LF.
#include <string>
#include <vector>

#include "support/death_test.h"
#include "textio/layer_state.h"

namespace {

struct LinesCase {
  std::vector<std::string> lines;
  std::string expected;
};

class ConsoleLines : public testing::TestWithParam<LinesCase> {};

TEST_P(ConsoleLines, AreBrokenAfterSeventyNineCharacters) {
  const LinesCase& c = GetParam();
  const std::string folder = test_support::TestFolder();
  EXPECT_CHILD_EXIT(folder, false, 0, {
    textio::ResetLayer();
    textio::InitUnits(0, nullptr);
    for (const std::string& text : c.lines) {
      textio::beginWrite();
      textio::writeCharacter(text.data(), static_cast<int>(text.size()));
      textio::endWrite();
    }
    textio::ExitRun(0);
  });
  EXPECT_EQ(test_support::ReadFile(folder + "/stdout"), c.expected);
}

const std::string k78(78, 'a'), k79(79, 'b'), k100(100, 'c');

INSTANTIATE_TEST_SUITE_P(
    Shapes, ConsoleLines,
    testing::Values(LinesCase{{k78}, k78 + "\r\n"}, LinesCase{{k79}, k79 + "\r\n\r\n"},
                    LinesCase{{k100, "z"}, k100.substr(0, 79) + "\r\n" + k100.substr(79) + "\r\nz\r\n"}));

}  // namespace
