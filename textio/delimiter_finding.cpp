// The delimiter of a delimited file, found from its first records as they
// are loaded: the one that parts each of them into the same number of fields.
#include "textio/reader_input.h"

namespace textio {
namespace {

constexpr int kRecordsLookedAt = 20;
constexpr char kCandidates[] = {'\t', ';', ','};  // in the order they are preferred
constexpr int kKinds = sizeof kCandidates + 1;    // and runs of blanks, counted last

// What the records looked at hold of each kind of delimiter: the count in
// the first, whether every record holds that many, and in how many any occur.
struct Tally {
  int64_t first[kKinds] = {};
  bool same[kKinds] = {true, true, true, true};
  int records[kKinds] = {};
  int looked = 0;
};

// Counts the delimiters of the record at `p` outside quotes, and the runs of
// non-blank bytes in it; returns where the next record begins, or null when
// the record does not end in the bytes loaded.
const unsigned char* CountRecord(const unsigned char* p, const unsigned char* end, int64_t counts[kKinds]) {
  bool quoted = false, inRun = false;
  for (; p < end; ++p) {
    const unsigned char b = *p;
    if (b == '"') quoted = !quoted;
    if (quoted) continue;
    if (b == '\n' || b == '\r') return p + (b == '\r' && p + 1 < end && p[1] == '\n' ? 2 : 1);
    for (int k = 0; k < kKinds - 1; ++k) counts[k] += b == static_cast<unsigned char>(kCandidates[k]);
    const bool blank = b == ' ' || b == '\t';
    counts[kKinds - 1] += !blank && !inRun;
    inRun = !blank;
  }
  return nullptr;
}

void Note(Tally& tally, const int64_t counts[kKinds]) {
  for (int k = 0; k < kKinds; ++k) {
    if (tally.looked == 0) tally.first[k] = counts[k];
    tally.same[k] = tally.same[k] && counts[k] == tally.first[k];
    tally.records[k] += counts[k] > 0;
  }
  ++tally.looked;
}

// The kind a delimiter counts as.
int KindOf(char delimiter) {
  for (int k = 0; k < kKinds - 1; ++k) {
    if (kCandidates[k] == delimiter) return k;
  }
  return kKinds - 1;
}

char Choose(const Tally& tally) {
  for (int k = 0; k < kKinds - 1; ++k) {
    if (tally.same[k] && tally.first[k] > 0) return kCandidates[k];
  }
  int most = 0;
  for (int k = 1; k < kKinds - 1; ++k) most = tally.records[k] > tally.records[most] ? k : most;
  if (tally.records[most] > 0) return kCandidates[most];
  return tally.same[kKinds - 1] && tally.first[kKinds - 1] >= 2 ? kBlankRuns : ',';
}

}  // namespace

FirstRecords LookAtFirstRecords(int unit, char given) {
  UnitRecord& record = *SelectUnit(unit, StatementKind::Read);
  if (record.position > record.lastIndex) {
    if (TakeByteOrEnd(record) < 0) return {given != 0 ? given : ',', 0};
    --record.position;  // loaded, not taken
  }
  Tally tally;
  const unsigned char* end = record.buffer + record.lastIndex + 1;
  for (const unsigned char* p = record.buffer + record.position; p != nullptr && tally.looked < kRecordsLookedAt;) {
    int64_t counts[kKinds] = {};
    p = CountRecord(p, end, counts);
    // A line of nothing but blanks holds no fields.
    if (p != nullptr && counts[kKinds - 1] > 0) Note(tally, counts);
  }
  const char delimiter = given != 0 ? given : Choose(tally);
  const int kind = KindOf(delimiter);
  const int64_t first = tally.looked == 0 ? 0 : kind == kKinds - 1 ? tally.first[kind] : tally.first[kind] + 1;
  return {delimiter, static_cast<int32_t>(first)};
}

}  // namespace textio
