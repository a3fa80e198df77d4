// Summarises a file of pattern counts without regard to the order of its
// lines, so that the outputs of tools that order them differently can be
// compared record for record:
//   count_digest program NVARS FILE  aggregate's records: NVARS three-character
//                                    values, a blank, a six-character count, CR LF
//   count_digest first NVARS FILE    lines of a count, then NVARS values (uniq -c, awk)
//   count_digest last NVARS FILE     lines of NVARS values, then a count (Python,
//                                    DuckDB, pandas)
// Prints "records R cases C digest D order O": the digest adds up a hash of
// each record as aggregate writes it (a value outside -99..999 or a count
// above 999999 as its asterisks), so equal digests mean equal records. O tells
// whether the records ascend in pattern order (the last variable first):
// "ascending", "unknown" where asterisks hide values, or the first record out
// of order. C adds up the counts (of aggregate's records, those not hidden by
// asterisks).

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr std::int64_t kHidden = INT64_MIN;  // a field written as asterisks

std::uint64_t mix(std::uint64_t z) {
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
}

std::int64_t shownValue(std::int64_t v) { return v < -99 || v > 999 ? kHidden : v; }
std::int64_t shownCount(std::int64_t c) { return c > 999999 ? kHidden : c; }

struct Summary {
    std::uint64_t records = 0, cases = 0, digest = 0;
    std::string order = "ascending";
    std::vector<std::int64_t> previous, values;  // values: the current record's, reused
    std::vector<std::string_view> fields;
};

[[noreturn]] void fail(const std::string& why) {
    std::fprintf(stderr, "count_digest: %s\n", why.c_str());
    std::exit(1);
}

std::int64_t parseNumber(std::string_view text, std::uint64_t record) {
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    std::int64_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size()) {
        fail("record " + std::to_string(record) + ": not a number: '" + std::string(text) + "'");
    }
    return value;
}

std::int64_t parseField(std::string_view field, std::uint64_t record) {
    if (field.find_first_not_of('*') == std::string_view::npos) return kHidden;
    return parseNumber(field, record);
}

// The ascending check of the records as read, last variable first.
void checkOrder(Summary& s, const std::vector<std::int64_t>& values) {
    if (s.order != "ascending") return;
    if (!s.previous.empty()) {
        for (std::size_t j = values.size(); j-- > 0;) {
            if (values[j] == kHidden || s.previous[j] == kHidden) {
                s.order = "unknown";
                return;
            }
            if (values[j] != s.previous[j]) {
                if (values[j] < s.previous[j]) s.order = "descending at record " + std::to_string(s.records);
                break;
            }
            if (j == 0) s.order = "repeated at record " + std::to_string(s.records);
        }
    }
    s.previous = values;
}

// `count` as written, `cases` as known (0 for a count hidden by asterisks).
void addRecord(Summary& s, const std::vector<std::int64_t>& values, std::int64_t count, std::int64_t cases) {
    std::uint64_t h = 0x9e3779b97f4a7c15ULL;
    for (std::int64_t v : values) h = mix(h ^ static_cast<std::uint64_t>(v));
    h = mix(h ^ static_cast<std::uint64_t>(count));
    s.digest += h;
    s.cases += static_cast<std::uint64_t>(cases);
}

void line(Summary& s, const std::string& format, std::size_t nvars, std::string_view text) {
    ++s.records;
    std::vector<std::int64_t>& values = s.values;
    values.assign(nvars, 0);
    std::int64_t count = 0, cases = 0;
    if (format == "program") {
        if (text.size() < 2 || text.substr(text.size() - 2) != "\r\n") fail("record " + std::to_string(s.records) + " without CR LF");
        text.remove_suffix(2);
        if (text.size() != 3 * nvars + 7 || text[3 * nvars] != ' ') fail("record " + std::to_string(s.records) + " of the wrong shape");
        for (std::size_t j = 0; j < nvars; ++j) values[j] = parseField(text.substr(3 * j, 3), s.records);
        count = parseField(text.substr(3 * nvars + 1), s.records);
        cases = count == kHidden ? 0 : count;
        checkOrder(s, values);
    } else {
        std::vector<std::string_view>& fields = s.fields;
        fields.clear();
        std::size_t at = 0;
        while (at < text.size()) {
            std::size_t start = text.find_first_not_of(" \t\r\n", at);
            if (start == std::string_view::npos) break;
            std::size_t end = text.find_first_of(" \t\r\n", start);
            if (end == std::string_view::npos) end = text.size();
            fields.push_back(text.substr(start, end - start));
            at = end;
        }
        if (fields.size() != nvars + 1) fail("line " + std::to_string(s.records) + " has " + std::to_string(fields.size()) + " fields");
        std::size_t first = format == "first" ? 1 : 0;
        for (std::size_t j = 0; j < nvars; ++j) values[j] = parseNumber(fields[first + j], s.records);
        checkOrder(s, values);
        for (std::int64_t& v : values) v = shownValue(v);
        cases = parseNumber(fields[format == "first" ? 0 : nvars], s.records);
        count = shownCount(cases);
    }
    addRecord(s, values, count, cases);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fputs("usage: count_digest program|first|last NVARS FILE\n", stderr);
        return 2;
    }
    const std::string format = argv[1];
    const auto nvars = static_cast<std::size_t>(std::strtoull(argv[2], nullptr, 10));
    if ((format != "program" && format != "first" && format != "last") || nvars == 0) fail("bad arguments");
    std::FILE* file = std::fopen(argv[3], "rb");
    if (file == nullptr) fail(std::string("cannot open ") + argv[3]);
    Summary s;
    std::vector<char> buffer(std::size_t{16} << 20);
    std::size_t kept = 0;
    for (;;) {
        std::size_t got = std::fread(buffer.data() + kept, 1, buffer.size() - kept, file);
        std::size_t size = kept + got;
        std::size_t start = 0;
        for (;;) {
            const void* end = std::memchr(buffer.data() + start, '\n', size - start);
            if (end == nullptr) break;
            std::size_t stop = static_cast<std::size_t>(static_cast<const char*>(end) - buffer.data()) + 1;
            line(s, format, nvars, std::string_view(buffer.data() + start, stop - start));
            start = stop;
        }
        kept = size - start;
        if (got == 0) {
            if (kept != 0) line(s, format, nvars, std::string_view(buffer.data() + start, kept));
            break;
        }
        if (kept == buffer.size()) buffer.resize(buffer.size() * 2);
        std::memmove(buffer.data(), buffer.data() + start, kept);
    }
    std::fclose(file);
    std::printf("records %llu cases %llu digest %016llx order %s\n", static_cast<unsigned long long>(s.records),
                static_cast<unsigned long long>(s.cases), static_cast<unsigned long long>(s.digest), s.order.c_str());
    return 0;
}
