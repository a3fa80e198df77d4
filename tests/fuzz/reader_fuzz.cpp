// Fuzz target: the free-form reader. One data file is read four ways: many
// items per call (the fast path) and one item per call, each with full loads
// and with tiny ones. All four must give the same items, the same number of
// statements and the same error, and no byte outside a load may be taken.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_layer.h"
#include "textio/layer_state.h"

namespace {

constexpr int32_t kUnchanged = -7777;  // an item no value was given to
constexpr size_t kHeaderSize = 4;
constexpr size_t kMaxData = 4096;
constexpr size_t kPastData = 64;  // bytes of a unit's buffer set beyond the data's length

// The statements of a run, from the input's first bytes; the rest is the data.
struct Plan {
  int integers;         // whole-number items per statement
  int characterLength;  // of the character item; 0 for none
  bool characterFirst;  // before the whole numbers rather than after them
  int tinyLoad;         // bytes a tiny load asks for: room at least for a byte order mark
  std::string before;   // what the buffer holds before its first load: a byte and blanks
};

struct Outcome {
  std::string items;  // every item as it stands after each statement
  int statements = 0;
  int error = 0;
  std::string Text() const {
    return items + "statements " + std::to_string(statements) + ", error " + std::to_string(error);
  }
};

Outcome ReadAll(const Plan& plan, const std::string& path, size_t dataSize, bool manyAtOnce, bool tiny) {
  fuzz::FreshLayer();
  fuzz::Connect(1, path, "read");
  textio::UnitRecord& unit = *textio::SelectUnit(1, textio::StatementKind::Read);
  // The buffer was made for full loads and slack: asking for less is safe.
  if (tiny) unit.bufferSize = plan.tinyLoad;
  std::memcpy(unit.buffer, plan.before.data(), plan.before.size());

  Outcome outcome;
  std::vector<int32_t> integers(static_cast<size_t>(plan.integers));
  std::string text(static_cast<size_t>(plan.characterLength), '~');
  auto keep = [&] {
    for (int32_t value : integers) outcome.items += std::to_string(value) + ' ';
    outcome.items += '[' + text + "]\n";
  };
  auto readCharacter = [&] {
    if (!text.empty()) textio::readCharacter(text.data(), plan.characterLength);
  };
  try {
    // Each statement ends in a later record: more statements than records is a fault.
    for (size_t s = 0; s <= dataSize + 1; ++s) {
      std::fill(integers.begin(), integers.end(), kUnchanged);
      std::fill(text.begin(), text.end(), '~');
      textio::beginRead(1);
      textio::layer.run.statusWanted = true;  // an error now returns as a StatementReturn
      if (plan.characterFirst) readCharacter();
      if (manyAtOnce) {
        textio::readIntegers(integers.data(), plan.integers, 1);
      } else {
        for (int32_t& item : integers) textio::readInteger(item);
      }
      if (!plan.characterFirst) readCharacter();
      textio::endRead();
      keep();
      ++outcome.statements;
    }
    fuzz::Finding("more statements than records", outcome.Text(), "");
  } catch (const textio::StatementReturn& failure) {
    keep();
    outcome.error = failure.number;
  }

  // A load and its end marker stay within the load size and the slack.
  size_t writable = (tiny ? static_cast<size_t>(plan.tinyLoad) : dataSize + 1) + textio::kBufferSlack;
  if (std::memcmp(unit.buffer + writable, plan.before.data() + writable, plan.before.size() - writable) != 0) {
    fuzz::Finding("bytes written past a load", outcome.Text(), "tiny load " + std::to_string(tiny));
  }
  return outcome;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < kHeaderSize || size - kHeaderSize > kMaxData) return -1;
  Plan plan{1 + data[0] % 16, (data[0] & 0x10) != 0 ? 1 + data[1] : 0, (data[0] & 0x20) != 0, 3 + data[2] % 14,
            std::string(size - kHeaderSize + kPastData, ' ')};
  for (size_t k = 0; k < plan.before.size(); k += 2) plan.before[k] = static_cast<char>(data[3]);
  static const std::string path = fuzz::ScratchPath("data.txt");
  fuzz::WriteScratchFile(path, data + kHeaderSize, size - kHeaderSize);

  const Outcome reference = ReadAll(plan, path, size - kHeaderSize, true, false);
  for (bool tiny : {false, true}) {
    for (bool manyAtOnce : {true, false}) {
      if (!tiny && manyAtOnce) continue;
      Outcome other = ReadAll(plan, path, size - kHeaderSize, manyAtOnce, tiny);
      if (other.Text() != reference.Text()) {
        fuzz::Finding(tiny ? manyAtOnce ? "tiny loads, many at once" : "tiny loads, one by one" : "one by one",
                      reference.Text(), other.Text());
      }
    }
  }
  return 0;
}
