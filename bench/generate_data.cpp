// Writes an individual level data file for timing runs:
//   generate_data OUT NCASES NVARS NVALUES NPATTERNS [SEED [LOW]]
// NCASES lines of NVARS whole numbers in LOW..LOW+NVALUES-1 (LOW 0 unless
// given; NVALUES up to 2^32, so that the whole 32-bit range can be drawn),
// one blank between values,
// CR LF after each case. NPATTERNS = 0 draws every value on its own; NPATTERNS > 0
// draws each case from that many random patterns (collisions between them are
// possible but negligible for the sizes used), which gives few distinct patterns.
// The output depends only on the arguments: the generator is our own, not the
// library's distributions, whose results differ between implementations.

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace {

// xoshiro256** seeded through splitmix64.
class Random {
public:
    explicit Random(std::uint64_t seed) {
        for (auto& word : state_) {
            seed += 0x9e3779b97f4a7c15ULL;
            std::uint64_t z = seed;
            z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
            z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
            word = z ^ (z >> 31);
        }
    }

    std::uint64_t next() {
        const std::uint64_t result = rotl(state_[1] * 5, 7) * 9;
        const std::uint64_t t = state_[1] << 17;
        state_[2] ^= state_[0];
        state_[3] ^= state_[1];
        state_[1] ^= state_[2];
        state_[0] ^= state_[3];
        state_[2] ^= t;
        state_[3] = rotl(state_[3], 45);
        return result;
    }

    // Uniform in 0..bound-1 for bound <= 2^32 (multiply-shift; the bias is far
    // below anything a timing run could notice).
    std::uint64_t below(std::uint64_t bound) {
        return ((next() >> 32) * bound) >> 32;
    }

private:
    static std::uint64_t rotl(std::uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }
    std::uint64_t state_[4]{};
};

bool parseCount(const char* text, std::uint64_t& value, std::uint64_t low, std::uint64_t high) {
    const std::string_view sv(text);
    const auto [end, ec] = std::from_chars(sv.data(), sv.data() + sv.size(), value);
    return ec == std::errc() && end == sv.data() + sv.size() && value >= low && value <= high;
}

// Appends the decimal digits of value; returns the new end.
char* putNumber(char* out, std::int64_t value) {
    const auto [end, ec] = std::to_chars(out, out + 11, value);
    (void)ec;  // eleven characters always hold a 32-bit value and its sign
    return end;
}

class BlockWriter {
public:
    explicit BlockWriter(std::FILE* file) : file_(file), buffer_(kBlock + kSlack) {}

    // Room for at least kSlack more bytes.
    char* cursor() { return buffer_.data() + used_; }
    void advance(char* end) {
        used_ = static_cast<std::size_t>(end - buffer_.data());
        if (used_ >= kBlock) flush();
    }
    bool flush() {
        if (used_ != 0 && std::fwrite(buffer_.data(), 1, used_, file_) != used_) failed_ = true;
        used_ = 0;
        return !failed_;
    }
    bool failed() const { return failed_; }

    static constexpr std::size_t kBlock = std::size_t{8} << 20;
    static constexpr std::size_t kSlack = std::size_t{1} << 20;

private:
    std::FILE* file_;
    std::vector<char> buffer_;
    std::size_t used_ = 0;
    bool failed_ = false;
};

bool parseLow(const char* text, std::int64_t& value) {
    const std::string_view sv(text);
    const auto [end, ec] = std::from_chars(sv.data(), sv.data() + sv.size(), value);
    return ec == std::errc() && end == sv.data() + sv.size() && value >= INT32_MIN && value <= INT32_MAX;
}

int usage() {
    std::fputs("usage: generate_data OUT NCASES NVARS NVALUES NPATTERNS [SEED [LOW]]\n"
               "  NCASES lines of NVARS values in LOW..LOW+NVALUES-1, CR LF line ends;\n"
               "  NPATTERNS 0: every value random, else cases drawn from NPATTERNS patterns.\n",
               stderr);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 6 || argc > 8) return usage();
    std::uint64_t ncases = 0, nvars = 0, nvalues = 0, npatterns = 0, seed = 1;
    std::int64_t low = 0;
    // One line must fit in the writer's slack: 12 bytes per value at most.
    if (!parseCount(argv[2], ncases, 0, UINT64_MAX) ||
        !parseCount(argv[3], nvars, 1, BlockWriter::kSlack / 12 - 1) ||
        !parseCount(argv[4], nvalues, 1, std::uint64_t{1} << 32) ||
        !parseCount(argv[5], npatterns, 0, 100'000'000) ||
        (argc >= 7 && !parseCount(argv[6], seed, 0, UINT64_MAX)) ||
        (argc == 8 && !parseLow(argv[7], low))) {
        return usage();
    }
    const std::uint64_t bound = nvalues;

    std::FILE* file = std::fopen(argv[1], "wb");
    if (file == nullptr) {
        std::perror(argv[1]);
        return 1;
    }
    BlockWriter writer(file);
    Random random(seed);

    if (npatterns == 0) {
        for (std::uint64_t i = 0; i < ncases; ++i) {
            char* out = writer.cursor();
            if (bound <= 10 && low == 0) {
                // The common case of one-digit values, without the general conversion.
                for (std::uint64_t j = 0; j < nvars; ++j) {
                    *out++ = static_cast<char>('0' + random.below(bound));
                    *out++ = ' ';
                }
            } else {
                for (std::uint64_t j = 0; j < nvars; ++j) {
                    out = putNumber(out, low + static_cast<std::int64_t>(random.below(bound)));
                    *out++ = ' ';
                }
            }
            out[-1] = '\r';
            *out++ = '\n';
            writer.advance(out);
            if (writer.failed()) break;
        }
    } else {
        // Each pattern is formatted once as its whole line; cases copy lines.
        std::vector<std::string> lines(npatterns);
        std::vector<char> scratch(nvars * 12 + 2);
        for (auto& line : lines) {
            char* out = scratch.data();
            for (std::uint64_t j = 0; j < nvars; ++j) {
                out = putNumber(out, low + static_cast<std::int64_t>(random.below(bound)));
                *out++ = ' ';
            }
            out[-1] = '\r';
            *out++ = '\n';
            line.assign(scratch.data(), out);
        }
        const std::uint64_t choices = npatterns;
        for (std::uint64_t i = 0; i < ncases; ++i) {
            const std::string& line = lines[random.below(choices)];
            char* out = writer.cursor();
            std::memcpy(out, line.data(), line.size());
            writer.advance(out + line.size());
            if (writer.failed()) break;
        }
    }

    const bool written = writer.flush();
    const bool closed = std::fclose(file) == 0;
    if (!written || !closed) {
        std::fprintf(stderr, "%s: write failed\n", argv[1]);
        return 1;
    }
    return 0;
}
