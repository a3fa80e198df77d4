// Fuzz target: delimited records. A file read as the run reads an export
// (the fast path and the scanner, with full loads and with tiny ones) must
// give what its records' field texts give by the value rule of each field:
// the same cases, ending at the same record for the same reason, with the
// same line ends passed. Then --inspect's look at it must come out whole.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "aggregation/core/run_units.h"
#include "aggregation/inspection/export_inspection.h"
#include "fuzz_layer.h"
#include "textio/layer_state.h"

namespace {

constexpr size_t kMaxData = 4096;
constexpr int kMostColumns = 4;

// How the file is read: the first bytes of the input choose it.
struct Form {
  char delimiter;
  std::vector<int32_t> itemOf;  // a field's item, -1 when passed over
  int32_t items = 0;
  bool everyField;
  bool missingGiven;
};

Form Choose(const uint8_t* data) {
  Form form;
  const char delimiters[] = {',', ';', '\t', textio::kBlankRuns};
  form.delimiter = delimiters[data[0] % 4];
  form.everyField = (data[0] & 4) != 0;
  form.missingGiven = (data[0] & 8) != 0;
  const int fields = 1 + data[1] % kMostColumns;
  for (int f = 0; f < fields; ++f) {
    const bool chosen = form.everyField || (data[1] >> (2 + f) & 1) != 0 || f == fields - 1;
    form.itemOf.push_back(chosen ? form.items++ : -1);
  }
  return form;
}

constexpr int32_t kCode = -99;

// The cases as the run's statements read them, each followed by the line
// ends passed; then how the records ended.
std::string ReadAsARun(const std::string& path, const Form& form, int load) {
  fuzz::FreshLayer();
  fuzz::Connect(kDataUnit, path, "read");
  textio::SelectUnit(kDataUnit, textio::StatementKind::Read)->bufferSize = load;
  const textio::FieldForm fields{form.delimiter, form.itemOf.data(), static_cast<int32_t>(form.itemOf.size()),
                                 form.everyField, form.missingGiven, kCode};
  textio::ReadFieldsOf(kDataUnit, fields);
  std::string text;
  textio::FieldFailure failure{};
  for (;;) {
    std::vector<int32_t> row(static_cast<size_t>(form.items), 7777);
    textio::beginRead(kDataUnit);
    textio::readIntegers(row.data(), form.items, 1);
    textio::endRead();
    if (textio::RecordsEnded(kDataUnit, &failure)) break;
    for (int32_t value : row) text += std::to_string(value) + ' ';
    text += "| " + std::to_string(textio::RecordEndsPassed(kDataUnit)) + '\n';
  }
  return text + "end " + std::to_string(static_cast<int>(failure.kind)) + ' ' + std::to_string(failure.field);
}

// The same from each record's field texts and the value rule.
std::string ReadAsTexts(const std::string& path, const Form& form) {
  fuzz::FreshLayer();
  fuzz::Connect(kDataUnit, path, "read");
  std::string text;
  const auto described = static_cast<int32_t>(form.itemOf.size());
  for (;;) {
    char texts[kMaxData];
    textio::FieldPlace places[kMaxData];
    int64_t line = 0;
    const int fields = textio::readFieldTexts(kDataUnit, form.delimiter, texts, sizeof texts, places, kMaxData, line);
    if (fields == textio::kNoMoreRecords) return text + "end 0 1";
    // A field before the unclosed one may end the run's reading first.
    if (fields == textio::kOpenQuote) return text + "open";
    std::vector<int32_t> row(static_cast<size_t>(form.items));
    for (int32_t f = 0; f < std::min(fields, described); ++f) {
      if (form.itemOf[static_cast<size_t>(f)] < 0) continue;
      int32_t value = 0;
      const textio::FieldKind kind = textio::FieldValue(texts + places[f].start, places[f].length, form.delimiter, value);
      using textio::FieldFailureKind;
      const FieldFailureKind failure = kind == textio::FieldKind::Whole                       ? FieldFailureKind::None
                                       : kind == textio::FieldKind::Missing && form.missingGiven ? FieldFailureKind::None
                                       : kind == textio::FieldKind::Missing                     ? FieldFailureKind::Missing
                                       : kind == textio::FieldKind::TooLarge                    ? FieldFailureKind::TooLarge
                                                                                                 : FieldFailureKind::NotWhole;
      // A text of 259 bytes may have been cut: the run's reading tells more.
      if (places[f].length >= 259) return text + "cut";
      if (failure != FieldFailureKind::None) {
        return text + "end " + std::to_string(static_cast<int>(failure)) + ' ' + std::to_string(f + 1);
      }
      row[static_cast<size_t>(form.itemOf[static_cast<size_t>(f)])] = kind == textio::FieldKind::Whole ? value : kCode;
    }
    if (fields < described || (form.everyField && fields > described)) {
      return text + "end " + std::to_string(static_cast<int>(textio::FieldFailureKind::FieldCount)) + ' ' +
             std::to_string(fields);
    }
    for (int32_t value : row) text += std::to_string(value) + ' ';
    text += "| " + std::to_string(textio::RecordEndsPassed(kDataUnit)) + '\n';
  }
}

}  // namespace

// The first two bytes choose the form; the rest is the data file.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2 || size - 2 > kMaxData) return -1;
  static const bool quiet = [] {  // the reports go nowhere
    int null = open("/dev/null", O_WRONLY);
    return dup2(null, 1) == 1 && close(null) == 0;
  }();
  (void)quiet;
  static const std::string path = fuzz::ScratchPath("data.csv");
  fuzz::WriteScratchFile(path, data + 2, size - 2);
  const Form form = Choose(data);
  const std::string run = ReadAsARun(path, form, textio::kFileReadLoad);
  const std::string tiny = ReadAsARun(path, form, 3 + data[0] / 16);
  if (run != tiny) fuzz::Finding("tiny loads", run, tiny);
  // Read so far as the texts tell, when they stop short of the end.
  const std::string texts = ReadAsTexts(path, form);
  const auto endsWith = [&texts](const std::string& tail) {
    return texts.size() >= tail.size() && texts.compare(texts.size() - tail.size(), tail.size(), tail) == 0;
  };
  const bool short_ = endsWith("cut") || endsWith("open");
  const std::string agreed = short_ ? texts.substr(0, texts.rfind('\n') + 1) : texts;
  if (short_ ? run.compare(0, agreed.size(), agreed) != 0 : run != texts) fuzz::Finding("the field texts", run, texts);
  fuzz::FreshLayer();
  ExportInspection inspection;
  if (InspectExport(path.c_str(), inspection)) WriteExportInspection("aggregate", path.c_str(), inspection);
  return 0;
}
