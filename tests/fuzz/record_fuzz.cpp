// Fuzz target: the layout compiler and the edited record writer. Values are
// written by a fuzzed layout into an internal text, and into a file with many
// values per call (the fast placing) and with one value per call through a
// tiny buffer. The two files must be the same, the text must hold the file's
// record, and nothing may be written past the text or a buffer's slack.
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_layer.h"
#include "textio/layer_state.h"

namespace {

constexpr size_t kHeaderSize = 3;
constexpr size_t kGuard = 16;
// Files stop growing here, so that long records cost little; the limit holds
// for the whole process while a file is written.
constexpr rlim_t kFileLimit = 65536;
constexpr char kGuardByte = 'G';

struct Plan {
  int textLength;
  int tinyLoad;
  bool fileExists;  // the file holds an earlier record before the connect
  std::vector<int32_t> values;
  std::vector<char> layout;  // exactly the layout's length, so that reading past it is caught
};

struct Written {
  std::string bytes;
  int error = 0;
  std::string Text() const { return bytes + "\nerror " + std::to_string(error); }
};

// Runs a statement's body, keeping the error it raises.
template <typename Body>
void Catch(Written& written, Body body) {
  try {
    body();
  } catch (const textio::StatementReturn& failure) {
    if (written.error == 0) written.error = failure.number;
  }
}

Written WriteInternal(const Plan& plan) {
  fuzz::FreshLayer();
  std::vector<char> area(static_cast<size_t>(plan.textLength) + 2 * kGuard, kGuardByte);
  char* text = area.data() + kGuard;
  Written written;
  Catch(written, [&] {
    textio::beginWrite(text, plan.textLength, plan.layout.data(), static_cast<int>(plan.layout.size()));
    textio::layer.run.statusWanted = true;
    textio::writeIntegers(plan.values.data(), static_cast<int>(plan.values.size()), 1);
    textio::endWrite();
  });
  auto guarded = [](const char* g) { return std::all_of(g, g + kGuard, [](char c) { return c == kGuardByte; }); };
  if (!guarded(area.data()) || !guarded(text + plan.textLength)) {
    fuzz::Finding("written outside the internal text", std::string(area.begin(), area.end()), "");
  }
  written.bytes.assign(text, static_cast<size_t>(plan.textLength));
  return written;
}

void LimitFileSize(rlim_t limit) {
  rlimit size{};
  getrlimit(RLIMIT_FSIZE, &size);
  size.rlim_cur = std::min(limit, size.rlim_max);
  setrlimit(RLIMIT_FSIZE, &size);
}

Written WriteFile(const Plan& plan, bool tiny) {
  static const std::string path = fuzz::ScratchPath("records.txt");
  static const uint8_t kEarlier[] = "an earlier record\r\n";
  fuzz::FreshLayer();
  if (plan.fileExists) {
    fuzz::WriteScratchFile(path, kEarlier, sizeof kEarlier - 1);
  } else {
    unlink(path.c_str());
  }
  fuzz::Connect(2, path, "write");
  textio::UnitRecord& unit = *textio::SelectUnit(2, textio::StatementKind::Write);
  const int slackEnd = unit.bufferSize + textio::kBufferSlack;
  if (tiny) {
    // The buffer was made for full loads and slack: a smaller load is safe.
    unit.bufferSize = unit.laterLoad = plan.tinyLoad;
    std::fill(unit.buffer, unit.buffer + slackEnd, kGuardByte);
  }
  LimitFileSize(kFileLimit);
  Written written;
  Catch(written, [&] {
    textio::beginWrite(2, plan.layout.data(), static_cast<int>(plan.layout.size()));
    textio::layer.run.statusWanted = true;
    if (tiny) {
      for (int32_t value : plan.values) textio::writeInteger(value);
    } else {
      textio::writeIntegers(plan.values.data(), static_cast<int>(plan.values.size()), 1);
    }
    textio::endWrite();
  });
  Catch(written, [&] {
    textio::layer.run.statusWanted = true;
    textio::FlushUnit(unit);
  });
  LimitFileSize(RLIM_INFINITY);
  if (tiny && std::any_of(unit.buffer + plan.tinyLoad + textio::kBufferSlack, unit.buffer + slackEnd,
                          [](unsigned char c) { return c != kGuardByte; })) {
    fuzz::Finding("written past the buffer's slack", std::to_string(plan.tinyLoad), "");
  }
  written.bytes = fuzz::ReadScratchFile(path);
  return written;
}

// The records of a file, without their CR LF; an unended last record counts.
std::vector<std::string> Records(const std::string& bytes) {
  std::vector<std::string> records;
  size_t start = 0;
  for (size_t end; (end = bytes.find("\r\n", start)) != std::string::npos; start = end + 2) {
    records.push_back(bytes.substr(start, end - start));
  }
  if (start < bytes.size() || records.empty()) records.push_back(bytes.substr(start));
  return records;
}

// The internal text holds one record: the file's first, blank-filled, when
// every later record is empty. When it does not fit (error 6600), the file
// shows a longer record or ends with an error of its own.
void CompareWithText(const Plan& plan, const Written& internal, const Written& file) {
  if (internal.error != 0 && internal.error != textio::InternalRecordFull) {
    if (file.error != internal.error) {
      fuzz::Finding("the text and the file end differently", internal.Text(), file.Text());
    }
    return;
  }
  std::vector<std::string> records = Records(file.bytes);
  bool fits = records[0].size() <= static_cast<size_t>(plan.textLength) &&
              std::all_of(records.begin() + 1, records.end(), [](const std::string& r) { return r.empty(); });
  std::string expected = records[0];
  expected.resize(static_cast<size_t>(plan.textLength), ' ');
  bool agree = internal.error == 0 ? fits && file.error == 0 && internal.bytes == expected : !fits || file.error != 0;
  if (!agree) fuzz::Finding("the text and the file disagree", internal.Text(), file.Text());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < kHeaderSize) return -1;
  Plan plan;
  plan.textLength = data[0];
  plan.tinyLoad = 4 + (data[1] & 63);
  plan.fileExists = (data[1] & 64) != 0;
  size_t valueCount = std::min<size_t>(data[2] % 32, (size - kHeaderSize) / 4);
  plan.values.resize(valueCount);
  if (valueCount > 0) std::memcpy(plan.values.data(), data + kHeaderSize, valueCount * 4);
  plan.layout.assign(data + kHeaderSize + valueCount * 4, data + size);

  Written internal = WriteInternal(plan);
  Written fast = WriteFile(plan, false);
  Written tiny = WriteFile(plan, true);
  // The file's size limit shows at a load's write, which comes sooner with tiny loads.
  bool limitMet = fast.error == textio::WriteFailed || tiny.error == textio::WriteFailed;
  if (fast.bytes != tiny.bytes || (fast.error != tiny.error && !limitMet)) {
    fuzz::Finding("many values per call and one per call differ", fast.Text(), tiny.Text());
  }
  CompareWithText(plan, internal, fast);
  return 0;
}
