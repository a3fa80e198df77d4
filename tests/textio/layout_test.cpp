// Record layout compiler: the items made from each layout text, shown as
// "3(" group start, ")@2" group end back to item 2, "2I3.1" field used twice,
// "1X" move, "end@0" layout end reverting to item 0, "!6989" error.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "textio/layout.h"

namespace textio {
namespace {

std::string Describe(const std::vector<LayoutItem>& items) {
  std::string text;
  for (const LayoutItem& item : items) {
    std::string count = std::to_string(item.count), jump = std::to_string(item.jump);
    switch (item.kind) {
      case LayoutItemKind::GroupStart: text += count + "( "; break;
      case LayoutItemKind::GroupEnd: text += ")@" + jump + " "; break;
      case LayoutItemKind::IntegerField:
        text += count + "I" + std::to_string(item.width) + "." + std::to_string(item.minimum) + " ";
        break;
      case LayoutItemKind::PositionMove: text += count + "X "; break;
      case LayoutItemKind::LayoutEnd: text += "end@" + jump; break;
      case LayoutItemKind::LayoutError: text += "!" + count; break;
    }
  }
  return text;
}

struct CompileCase {
  std::string layout, items;
};

const CompileCase kCompileCases[] = {
    {"((   3(I3)),1X,I6)" + std::string(62, ' '), "3I3.1 1X 1I6.1 end@0"},
    {"(I2,2(I3,1X),(1X,I1))*(", "1I2.1 2( 1I3.1 1X )@2 1( 1X 1I1.1 )@6 end@5"},
    {"(65536(65536I1))", "65536( 65536I1.1 )@1 end@0"},
    {"(I3,(1X))", "1I3.1 1( 1X )@2 end@-1"},  // nothing to revert to
    {"", "!6981"}, {"I3", "!6981"},
    {"(2I3,I)", "2I3.1 !6980"}, {"(I3.)", "!6980"}, {"(I.2)", "!6980"},
    {"(I3,3)", "1I3.1 !6983"}, {"(3,I3)", "!6983"}, {"(I3,4", "1I3.1 !6983"}, {"(3*I3)", "!6983"},
    {std::string(18, '(') + "I1", "1( 1( 1( 1( 1( 1( 1( 1( 1( 1( 1( 1( 1( 1( 1( 1( !6986"},
    {"(I3", "1I3.1 !6988"}, {"((I3)", "1I3.1 !6988"},
    {"(I3.4)", "!6990"},
    {"(*)", "!6989"}, {"(,I3)", "!6989"}, {"(I3,,I3)", "1I3.1 !6989"}, {"((****(I3)),1X,I6)", "1( !6989"},
    {"(2147483647X)", "2147483647X end@-1"},
    {"(2147483648X)", "!6991"}, {"(I2147483648)", "!6991"}, {"(I5.99999999999)", "!6991"},
};

class CompileLayoutTest : public testing::TestWithParam<CompileCase> {};

TEST_P(CompileLayoutTest, MakesItems) {
  const CompileCase& c = GetParam();
  std::vector<LayoutItem> items;
  CompileLayout(c.layout.data(), static_cast<int>(c.layout.size()), items);
  EXPECT_EQ(Describe(items), c.items) << c.layout;
}

INSTANTIATE_TEST_SUITE_P(Layouts, CompileLayoutTest, testing::ValuesIn(kCompileCases));

}  // namespace
}  // namespace textio
