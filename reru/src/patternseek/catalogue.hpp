// The format catalogue: the date, time and stand-alone formats in the order
// in which the finder tries them, the separators of the date formats, and
// the stage-2 candidates they make, as compile-time tables.
//
// The verdict layer works out, once per text shape, which candidates of
// this catalogue strptime certainly refuses; the assumptions it makes about
// the catalogue are checked here, by the compiler.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace catalogue {

constexpr std::array<std::string_view, 19> kDates = {
    "%m/%d/%y",      "%B/%d/%Y",      "%Y/%B/%d", "%y%m%d",    "%m/%d/%Y", "%d/%m/%Y", "%y/%m/%d",
    "%d/%B/%Y",      "%Y/%b/%d",      "%b/%d/%Y", "%Y/%m/%d",  "%Y%m%d",   "%d/%m/%y", "%d/%b/%Y",
    "%a, %b %d, %Y", "%A, %B %d, %Y", "%d/%B/%y", "%B %d, %y", "%d %B %y",
};

constexpr std::array<std::string_view, 33> kTimes = {
    "%H",
    "%I",
    "%H:%M",
    "%H:%M:%S",
    "%H:%M:%S:%f",
    "%H:%M %p",
    "%H:%M:%S %p",
    "%H:%M:%S:%f %p",
    "%I:%M",
    "%I:%M %p",
    "%I:%M:%S",
    "%I:%M:%S %p",
    "%I:%M:%S:%f",
    "%I:%M:%S:%f %p",
    "%H:%M:%S %z",
    "%H:%M:%S %Z",
    "%I:%M %p %z",
    "%I:%M %p %Z",
    "%H:%M:%S:%f %z",
    "%H:%M:%S:%f %Z",
    "%I:%M:%S %p %z",
    "%I:%M:%S %p %Z",
    "%H %p",
    "%I %p",
    "%H:%M:%S:%f %p %z",
    "%H:%M:%S:%f %p %Z",
    "%I:%M:%S:%f %p %z",
    "%I:%M:%S:%f %p %Z",
    "%H%M%S",
    "%H:%M:%S%z",
    "%H:%M:%SZ",
    "%H:%M:%S.%f",
    "%H:%M:%S.%f%z",
};

constexpr std::array<std::string_view, 55> kUnique = {
    "%A the %dth of %B, %Y",
    "%A",
    "%a",
    "%A, %d %B %Y",
    "%Y, %b %d",
    "%B %d",
    "%B %d, %Y",
    "%b %d, %Y",
    "%b",
    "%B",
    "%B, %Y",
    "%b. %d, %Y",
    "%d %B",
    "%d %B, %Y",
    "%d of %B, %Y",
    "%d-%b-%y",
    "%d",
    "%dth %B %Y",
    "%dth of %B %Y",
    "%dth of %B, %Y",
    "%H",
    "%I",
    "%m-%Y-%d",
    "%m-%Y",
    "%m",
    "%M",
    "%m/%Y",
    "%m/%Y/%d",
    "%Y %B",
    "%Y Q%q",
    "%Y-%j",
    "%Y-%m",
    "%y",
    "%Y",
    "%Y, %B %d",
    "%Y.%m",
    "%Y/%m",
    "%Y-W%U-%w",
    "%Y-W%V-%u",
    "%a, %d %b %Y",
    "%b %d %y",
    "%b-%d-%y",
    "%b-%Y-%d",
    "%b.%Y-%d",
    "%d %b, %Y",
    "%d %B, %y",
    "%d-%Y.%m",
    "%d-%Y/%m",
    "%d.%Y-%m",
    "%d/%Y-%m",
    "%d/%Y.%m",
    "%m.%Y-%d",
    "%m.%Y/%d",
    "%m/%Y-%d",
    "on %B %d, %Y",
};

// The separators a finder starts with, and its default old_sep.
constexpr std::array<std::string_view, 5> kSeparators = {"/", ".", "-", " ", ""};
constexpr std::string_view kOldSep = "/";

constexpr std::size_t kDateCount = kDates.size(), kTimeCount = kTimes.size(),
                      kUniqueCount = kUnique.size(), kSepCount = kSeparators.size();

// ---------------------------------------------------------------------------
// Stage-2 candidates: date.replace("/", sep) + " " + time. The verdicts on
// them keep one bit per time format in a 64-bit word, and the candidate
// numbers fit 16 bits.
static_assert(kTimeCount <= 64, "time formats are bits of one word");
static_assert(kDateCount * kTimeCount * kSepCount < 65536, "candidate numbers fit 16 bits");

// Room for a date part (a date format with its separator replaced).
constexpr std::size_t kPartSize = 32;

struct Part {
    char text[kPartSize] = {};
    std::size_t size = 0;
    constexpr std::string_view view() const { return {text, size}; }
};

// `text` with every occurrence of `old` (non-empty) replaced by `sep`.
constexpr Part replaced(std::string_view text, std::string_view old, std::string_view sep) {
    Part part;
    for (std::size_t i = 0; i < text.size();) {
        const bool hit = text.substr(i, old.size()) == old;
        for (char c : hit ? sep : text.substr(i, 1)) {
            if (part.size + 1 >= kPartSize) return Part{};  // too long: size 0
            part.text[part.size++] = c;
        }
        i += hit ? old.size() : 1;
    }
    return part;
}

constexpr bool is_space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
constexpr bool is_letter(char c) { return (c | 0x20) >= 'a' && (c | 0x20) <= 'z'; }

// The date parts, by date format and separator.
constexpr auto make_parts() {
    std::array<std::array<Part, kSepCount>, kDateCount> parts{};
    for (std::size_t d = 0; d < kDateCount; ++d)
        for (std::size_t s = 0; s < kSepCount; ++s)
            parts[d][s] = replaced(kDates[d], kOldSep, kSeparators[s]);
    return parts;
}
inline constexpr auto kParts = make_parts();

// A date part ending in a directive meets the time format's leading space
// without merging with it: strptime turns a run of white space into one
// \s+, so a part ending in white space (or a time format starting with it)
// would make the joint one run where the verdicts see two. Every part fits
// its buffer, and the time formats start with a directive too.
constexpr bool parts_are_sound() {
    for (const auto& row : kParts)
        for (const Part& part : row) {
            if (part.size < 2) return false;  // empty: did not fit
            const char last = part.text[part.size - 1], before = part.text[part.size - 2];
            if (before != '%' || !is_letter(last)) return false;
        }
    for (std::string_view t : kTimes)
        if (t.size() < 2 || t[0] != '%' || is_space(t[0])) return false;
    return true;
}
static_assert(parts_are_sound(), "date parts end in a directive and fit their buffer");

// Distinct date parts: the same text is checked once.
struct DistinctParts {
    std::array<std::array<std::uint8_t, kSepCount>, kDateCount> index{};
    std::array<std::string_view, kDateCount * kSepCount> texts{};
    std::size_t count = 0;
};
constexpr DistinctParts make_distinct() {
    DistinctParts out;
    for (std::size_t d = 0; d < kDateCount; ++d)
        for (std::size_t s = 0; s < kSepCount; ++s) {
            const std::string_view text = kParts[d][s].view();
            std::size_t k = 0;
            while (k < out.count && out.texts[k] != text) ++k;
            if (k == out.count) out.texts[out.count++] = text;
            out.index[d][s] = static_cast<std::uint8_t>(k);
        }
    return out;
}
inline constexpr DistinctParts kDistinct = make_distinct();

// A table of formats.
template <std::size_t N>
struct Texts {
    std::array<std::string_view, N> texts{};
    std::size_t count = 0;
};
inline constexpr Texts<kDateCount * kSepCount> kDistinctTexts = {kDistinct.texts, kDistinct.count};

// ---------------------------------------------------------------------------
// The order in which the verdicts walk a table of formats over a text:
// sorted, so that each format shares as many leading elements as it can
// with the one walked before it, whose position sets after those elements
// are reused. An element is what strptime turns into one piece of its
// expression: a directive, a run of white space, or one other character.
// A table must be printable ASCII, where white space is the space alone, as
// the check reading it sees it too, and its indexes and offsets fit a byte.
constexpr std::size_t element_end(std::string_view text, std::size_t i) {
    if (text[i] == '%') return i + 2 <= text.size() ? i + 2 : i + 1;
    if (!is_space(text[i])) return i + 1;
    while (i < text.size() && is_space(text[i])) ++i;
    return i;
}

// Whether a and b hold the same characters from i to end (both hold them).
constexpr bool same_chars(std::string_view a, std::string_view b, std::size_t i, std::size_t end) {
    for (; i < end; ++i)
        if (a[i] != b[i]) return false;
    return true;
}

template <std::size_t N>
struct Walk {
    std::array<std::uint8_t, N> order{};   // a format's index in the table
    std::array<std::uint8_t, N> shared{};  // its leading elements shared with the one before
    std::array<std::uint8_t, N> start{};   // where its first element not shared begins
    std::size_t levels = 0;                // the most elements of a format, plus one
    bool printable = true;
    bool fits = true;  // indexes and offsets fit their bytes
};
template <std::size_t N>
constexpr Walk<N> make_walk(const Texts<N>& table) {
    Walk<N> w;
    const auto& texts = table.texts;
    const std::size_t n = table.count;
    if (n > 256) w.fits = false;
    for (std::size_t j = 0; j < n; ++j) w.order[j] = static_cast<std::uint8_t>(j);
    for (std::size_t j = 1; j < n; ++j)
        for (std::size_t k = j; k > 0 && texts[w.order[k]] < texts[w.order[k - 1]]; --k) {
            const std::uint8_t o = w.order[k];
            w.order[k] = w.order[k - 1];
            w.order[k - 1] = o;
        }
    for (std::size_t j = 0; j < n; ++j) {
        const std::string_view cur = texts[w.order[j]];
        std::size_t elements = 0;
        for (std::size_t i = 0; i < cur.size(); i = element_end(cur, i)) ++elements;
        if (elements + 1 > w.levels) w.levels = elements + 1;
        for (char c : cur) w.printable = w.printable && c >= 0x20 && c <= 0x7e;
        if (cur.size() >= 256) w.fits = false;
        if (j == 0) continue;
        const std::string_view prev = texts[w.order[j - 1]];
        std::size_t i = 0, e = 0;
        while (i < cur.size() && i < prev.size()) {
            const std::size_t a = element_end(cur, i);
            if (a != element_end(prev, i) || !same_chars(cur, prev, i, a)) break;
            i = a;
            ++e;
        }
        w.shared[j] = static_cast<std::uint8_t>(e);
        w.start[j] = static_cast<std::uint8_t>(i);
    }
    return w;
}
inline constexpr auto kPartWalk = make_walk(kDistinctTexts);
static_assert(kPartWalk.printable && kPartWalk.fits, "the date parts are printable and short");

}  // namespace catalogue
