// The shape pre-check of the format finder: can strptime(text, fmt) succeed
// at all?
//
// datetime.strptime turns its format into a regular expression (each
// directive becomes a fixed alternation, each run of white space becomes
// \s+, everything else is a literal matched case-insensitively), matches it
// at the start of the text and fails unless the match covers the whole text.
// A failing attempt is expensive, and the finder makes hundreds of them, so
// before calling strptime it asks whether the text can be covered by the
// format at all.
//
// The check is deliberately looser than strptime, so it rejects a candidate
// only where strptime would certainly fail: the locale-dependent directives
// (names outside the C locale, zone names, %c/%x/%X) accept any run of
// characters, a non-ASCII text character matches any ASCII letter of the
// format, and a non-ASCII literal of the format matches any non-ASCII
// character or ASCII letter of the text. It works for texts and formats of
// any length and content, in time linear in the text per format step.
//
// The check runs over a view of the text. The concrete view reads the text
// as it is. The shape view reads every ASCII digit as "some digit", matching
// any digit class, range or literal digit of the format: its verdict is the
// same for every text of one shape (same characters apart from the values of
// ASCII digits) and never stricter than the concrete one, so the finder can
// remember it per shape.
//
// Included by patternseek.cpp (and by the test hook) only.
#pragma once

#include "reru.hpp"

#include <bit>
#include <clocale>
#include <cstdint>
#include <cstring>
#include <utility>

namespace shape_check {

constexpr Py_UCS4 kPastEnd = 0x110000;  // no character

constexpr bool ascii_letter(Py_UCS4 c) { return (c | 0x20) >= 'a' && (c | 0x20) <= 'z'; }
constexpr bool ascii_digit(Py_UCS4 c) { return c - '0' < 10; }

// The characters of a str with a sentinel past the end that no class or
// literal matches. `Shape` selects the shape view.
template <bool Shape>
struct TextView : reru::Chars {
    explicit TextView(PyObject* s) : reru::Chars(s, kPastEnd) {}

    // In the shape view an ASCII digit stands for any digit.
    static bool wildcard(Py_UCS4 c) { return Shape && ascii_digit(c); }

    bool digit(Py_ssize_t i) const {
        const Py_UCS4 c = (*this)[i];
        return c < 0x80 ? ascii_digit(c) : c != kPastEnd && Py_UNICODE_ISDECIMAL(c);
    }
    bool space(Py_ssize_t i) const {
        const Py_UCS4 c = (*this)[i];
        return c != kPastEnd && Py_UNICODE_ISSPACE(c);
    }
    // An ASCII character of an alternation or of %z (a digit range [lo-hi],
    // or one character).
    bool in(Py_ssize_t i, char lo, char hi) const {
        const Py_UCS4 c = (*this)[i];
        if (wildcard(c)) return ascii_digit(static_cast<Py_UCS4>(lo));
        return c >= static_cast<Py_UCS4>(lo) && c <= static_cast<Py_UCS4>(hi);
    }
    bool is(Py_ssize_t i, char f) const { return in(i, f, f); }
    // A literal character of the format, case-insensitively and, where
    // either side is not ASCII, permissively.
    bool literal(Py_ssize_t i, Py_UCS4 f) const {
        const Py_UCS4 c = (*this)[i];
        if (c == f) return true;
        if (c == kPastEnd) return false;
        if (f >= 0x80) return c >= 0x80 || ascii_letter(c);
        if (ascii_digit(f)) return wildcard(c);
        if (!ascii_letter(f)) return false;
        return c >= 0x80 || (ascii_letter(c) && (c | 0x20) == (f | 0x20));
    }
};

using Concrete = TextView<false>;
using ShapeView = TextView<true>;

// The characters of a format (a str, or ASCII bytes).
struct FormatText {
    int kind;
    const void* data;
    Py_ssize_t n;

    FormatText(const char* s, Py_ssize_t size) : kind(PyUnicode_1BYTE_KIND), data(s), n(size) {}
    explicit FormatText(PyObject* s)
        : kind(PyUnicode_KIND(s)), data(PyUnicode_DATA(s)), n(PyUnicode_GET_LENGTH(s)) {}
    Py_UCS4 operator[](Py_ssize_t i) const { return PyUnicode_READ(kind, data, i); }
};

// A set of text positions 0..n as a bitset: on the stack for short texts,
// else on the heap. Every operation works on the range of words that may
// be occupied only. A set whose storage could not be allocated is not
// valid(); the caller then gives up the check (which only makes it looser).
class Positions {
public:
    explicit Positions(Py_ssize_t n) : n_(n), count_(n / 64 + 1) {
        words_ = count_ <= kLocal ? local_
                                  : static_cast<std::uint64_t*>(PyMem_Malloc(
                                        static_cast<std::size_t>(count_) * sizeof(std::uint64_t)));
        if (words_ != nullptr)
            for (Py_ssize_t k = 0; k < count_; ++k) words_[k] = 0;
    }
    Positions(const Positions&) = delete;
    Positions& operator=(const Positions&) = delete;
    ~Positions() {
        if (words_ != local_) PyMem_Free(words_);
    }

    bool valid() const { return words_ != nullptr; }
    Py_ssize_t limit() const { return n_; }

    void add(Py_ssize_t pos) {
        if (pos < 0 || pos > n_) return;
        const Py_ssize_t k = pos >> 6;
        words_[k] |= std::uint64_t{1} << (pos & 63);
        if (k < lo_) lo_ = k;
        if (k > hi_) hi_ = k;
    }
    bool has(Py_ssize_t pos) const {
        return pos >= 0 && pos <= n_ && (words_[pos >> 6] >> (pos & 63)) & 1;
    }
    bool empty() const {
        for (Py_ssize_t k = lo_; k <= hi_; ++k)
            if (words_[k]) return false;
        return true;
    }
    void clear() {
        for (Py_ssize_t k = lo_; k <= hi_; ++k) words_[k] = 0;
        lo_ = count_;
        hi_ = -1;
    }
    // Adds every position from `first` to n.
    void add_from(Py_ssize_t first) {
        if (first < 0 || first > n_) return;
        const Py_ssize_t fk = first >> 6, lk = n_ >> 6;
        for (Py_ssize_t k = fk; k <= lk; ++k) {
            std::uint64_t mask = ~std::uint64_t{0};
            if (k == fk) mask &= ~std::uint64_t{0} << (first & 63);
            if (k == lk) mask &= ~std::uint64_t{0} >> (63 - (n_ & 63));
            words_[k] |= mask;
        }
        if (fk < lo_) lo_ = fk;
        hi_ = lk;
    }
    void assign(const Positions& other) {
        clear();
        for (Py_ssize_t k = other.lo_; k <= other.hi_; ++k) words_[k] = other.words_[k];
        lo_ = other.lo_;
        hi_ = other.hi_;
    }
    bool operator==(const Positions& other) const {
        const Py_ssize_t lo = lo_ < other.lo_ ? lo_ : other.lo_;
        const Py_ssize_t hi = hi_ > other.hi_ ? hi_ : other.hi_;
        for (Py_ssize_t k = lo; k <= hi; ++k)
            if (word(k) != other.word(k)) return false;
        return true;
    }
    // Calls f(pos) for every position, ascending.
    template <class F>
    void each(F&& f) const {
        for (Py_ssize_t k = lo_; k <= hi_; ++k)
            for (std::uint64_t bits = words_[k]; bits; bits &= bits - 1)
                f(k * 64 + std::countr_zero(bits));
    }
    Py_ssize_t first() const {
        for (Py_ssize_t k = lo_; k <= hi_; ++k)
            if (words_[k]) return k * 64 + std::countr_zero(words_[k]);
        return -1;
    }

private:
    static constexpr Py_ssize_t kLocal = 4;  // texts up to 255 characters

    std::uint64_t word(Py_ssize_t k) const { return k >= lo_ && k <= hi_ ? words_[k] : 0; }

    std::uint64_t local_[kLocal];
    std::uint64_t* words_;
    Py_ssize_t n_, count_;
    Py_ssize_t lo_ = count_, hi_ = -1;  // the words that may be occupied
};

// strptime's alternations for the numeric directives, in the subset of
// regular-expression syntax they use: literal characters, ASCII classes
// [xy] and [x-y], and \d (any decimal digit).
constexpr const char* kAltD[] = {"3[0-1]", "[1-2]\\d", "0[1-9]", "[1-9]", " [1-9]", nullptr};
constexpr const char* kAltF[] = {"[0-9]",
                                 "[0-9][0-9]",
                                 "[0-9][0-9][0-9]",
                                 "[0-9][0-9][0-9][0-9]",
                                 "[0-9][0-9][0-9][0-9][0-9]",
                                 "[0-9][0-9][0-9][0-9][0-9][0-9]",
                                 nullptr};
constexpr const char* kAltH[] = {"2[0-3]", "[0-1]\\d", "\\d", nullptr};
constexpr const char* kAltI[] = {"1[0-2]", "0[1-9]", "[1-9]", nullptr};
constexpr const char* kAltY[] = {"\\d\\d\\d\\d", nullptr};
constexpr const char* kAltJ[] = {"36[0-6]",  "3[0-5]\\d", "[1-2]\\d\\d", "0[1-9]\\d", "00[1-9]",
                                 "[1-9]\\d", "0[1-9]",    "[1-9]",       nullptr};
constexpr const char* kAltM[] = {"1[0-2]", "0[1-9]", "[1-9]", nullptr};
constexpr const char* kAltMinute[] = {"[0-5]\\d", "\\d", nullptr};
constexpr const char* kAltS[] = {"6[0-1]", "[0-5]\\d", "\\d", nullptr};
constexpr const char* kAltU[] = {"5[0-3]", "[0-4]\\d", "\\d", nullptr};
constexpr const char* kAltW[] = {"[0-6]", nullptr};
constexpr const char* kAltWeekdayIso[] = {"[1-7]", nullptr};
constexpr const char* kAltV[] = {"5[0-3]", "0[1-9]", "[1-4]\\d", "\\d", nullptr};
constexpr const char* kAltShortYear[] = {"\\d\\d", nullptr};
constexpr const char* kAltPercent[] = {"%", nullptr};

inline const char* const* numeric_alternatives(Py_UCS4 directive) {
    switch (directive) {
        case 'd':
            return kAltD;
        case 'f':
            return kAltF;
        case 'H':
            return kAltH;
        case 'I':
            return kAltI;
        case 'G':
        case 'Y':
            return kAltY;
        case 'j':
            return kAltJ;
        case 'm':
            return kAltM;
        case 'M':
            return kAltMinute;
        case 'S':
            return kAltS;
        case 'U':
        case 'W':
            return kAltU;
        case 'w':
            return kAltW;
        case 'u':
            return kAltWeekdayIso;
        case 'V':
            return kAltV;
        case 'y':
            return kAltShortYear;
        case '%':
            return kAltPercent;
        default:
            return nullptr;
    }
}

// Directives whose text depends on the locale or the time zone.
inline bool locale_directive(Py_UCS4 directive) {
    switch (directive) {
        case 'a':
        case 'A':
        case 'b':
        case 'B':
        case 'p':
        case 'Z':
        case 'c':
        case 'x':
        case 'X':
            return true;
        default:
            return false;
    }
}

// The names strptime accepts (case-insensitively) for the name directives
// while LC_TIME is the C locale, which is where the interpreter leaves it
// unless a program sets another. In any other locale these directives
// accept anything.
constexpr const char* kFullWeekdays[] = {"monday", "tuesday",  "wednesday", "thursday",
                                         "friday", "saturday", "sunday",    nullptr};
constexpr const char* kShortWeekdays[] = {"mon", "tue", "wed", "thu", "fri", "sat", "sun", nullptr};
constexpr const char* kFullMonths[] = {"january",  "february", "march",  "april",     "may",
                                       "june",     "july",     "august", "september", "october",
                                       "november", "december", nullptr};
constexpr const char* kShortMonths[] = {"jan", "feb", "mar", "apr", "may", "jun",  "jul",
                                        "aug", "sep", "oct", "nov", "dec", nullptr};
constexpr const char* kAmPm[] = {"am", "pm", nullptr};

inline const char* const* c_locale_names(Py_UCS4 directive) {
    switch (directive) {
        case 'A':
            return kFullWeekdays;
        case 'a':
            return kShortWeekdays;
        case 'B':
            return kFullMonths;
        case 'b':
            return kShortMonths;
        case 'p':
            return kAmPm;
        default:
            return nullptr;
    }
}

// Whether LC_TIME is the C (or POSIX) locale, where the name directives
// accept the names above only.
inline bool time_locale_is_c() {
    const char* current = std::setlocale(LC_TIME, nullptr);
    return current != nullptr &&
           (std::strcmp(current, "C") == 0 || std::strcmp(current, "POSIX") == 0);
}

// End of one alternative matched at `pos`, or -1.
template <class View>
Py_ssize_t match_alternative(const View& t, Py_ssize_t pos, const char* alt) {
    while (*alt) {
        if (alt[0] == '\\') {  // \d
            if (!t.digit(pos)) return -1;
            alt += 2;
        } else if (alt[0] == '[') {  // [x-y] or [xy]
            const bool range = alt[2] == '-';
            const bool ok =
                range ? t.in(pos, alt[1], alt[3]) : t.is(pos, alt[1]) || t.is(pos, alt[2]);
            if (!ok) return -1;
            alt += range ? 5 : 4;
        } else {
            if (!t.is(pos, *alt)) return -1;
            ++alt;
        }
        ++pos;
    }
    return pos;
}

// %z: [+-]\d\d:?[0-5]\d(:?[0-5]\d(\.\d{1,6})?)? or a case-sensitive Z.
template <class View>
void match_offset(const View& t, Py_ssize_t p, Positions& out) {
    if (t.is(p, 'Z')) out.add(p + 1);
    if ((!t.is(p, '+') && !t.is(p, '-')) || !t.digit(p + 1) || !t.digit(p + 2)) return;
    auto minutes = [&t](Py_ssize_t q, auto&& then) {  // :?[0-5]\d
        for (Py_ssize_t r : {q, t.is(q, ':') ? q + 1 : Py_ssize_t{-1}})
            if (r >= 0 && t.in(r, '0', '5') && t.digit(r + 1)) then(r + 2);
    };
    minutes(p + 3, [&](Py_ssize_t e) {
        out.add(e);
        minutes(e, [&](Py_ssize_t g) {
            out.add(g);
            if (!t.is(g, '.')) return;
            for (Py_ssize_t k = g + 1; k <= g + 6 && t.digit(k); ++k) out.add(k + 1);
        });
    });
}

// End of `name` matched at `pos` letter by letter, or -1.
template <class View>
Py_ssize_t match_name(const View& t, Py_ssize_t pos, const char* name) {
    for (; *name; ++name, ++pos)
        if (!t.literal(pos, static_cast<Py_UCS4>(*name))) return -1;
    return pos;
}

// One directive: `next` gets every end of a match starting in `reach`.
// False for a directive strptime does not know (it raises ValueError).
template <class View>
bool directive_step(const View& t, Py_UCS4 directive, bool c_locale, const Positions& reach,
                    Positions& next) {
    if (const char* const* names = c_locale ? c_locale_names(directive) : nullptr) {
        reach.each([&](Py_ssize_t p) {
            for (const char* const* name = names; *name; ++name) next.add(match_name(t, p, *name));
        });
    } else if (locale_directive(directive)) {
        next.add_from(reach.first());
    } else if (directive == 'z') {
        reach.each([&](Py_ssize_t p) { match_offset(t, p, next); });
    } else if (const char* const* alts = numeric_alternatives(directive)) {
        reach.each([&](Py_ssize_t p) {
            for (const char* const* a = alts; *a; ++a) next.add(match_alternative(t, p, *a));
        });
    } else {
        return false;
    }
    return true;
}

// A run of white space in the format is \s+. Positions are taken in
// ascending order and a run of text white space already covered from an
// earlier position is not scanned again, so the step is linear.
template <class View>
void space_step(const View& t, const Positions& reach, Positions& next) {
    Py_ssize_t covered = 0;
    reach.each([&](Py_ssize_t p) {
        Py_ssize_t q = p > covered ? p : covered;
        for (; t.space(q); ++q) next.add(q + 1);
        covered = q;
    });
}

// Advances `reach` (and uses `spare`) over the format from `from`: on
// return *reach holds the text positions where a match of the format can
// end. False when the format is bad (a stray % or an unknown directive).
template <class View>
bool advance(const View& t, FormatText fmt, bool c_locale, Positions*& reach, Positions*& spare) {
    for (Py_ssize_t i = 0; i < fmt.n && !reach->empty();) {
        Positions& next = *spare;
        next.clear();
        const Py_UCS4 c = fmt[i];
        if (c == '%') {
            if (i + 1 >= fmt.n) return false;  // stray %
            const Py_UCS4 directive = fmt[i + 1];
            i += 2;
            if (!directive_step(t, directive, c_locale, *reach, next)) return false;
        } else if (Py_UNICODE_ISSPACE(c)) {
            while (i < fmt.n && Py_UNICODE_ISSPACE(fmt[i])) ++i;
            space_step(t, *reach, next);
        } else {
            ++i;
            reach->each([&](Py_ssize_t p) {
                if (t.literal(p, c)) next.add(p + 1);
            });
        }
        std::swap(reach, spare);
    }
    return true;
}

// Whether strptime would compile the format into a regular expression that
// names one group twice (a directive used twice, or a locale composite
// %c/%x/%X beside another directive, which may hold the same one): it then
// raises re.error rather than ValueError, whatever the text, so such a
// format is left to strptime. A format with a stray % or an unknown
// directive raises ValueError first.
inline bool repeats_a_group(FormatText fmt) {
    std::uint64_t used[2] = {0, 0};
    int groups = 0;
    bool composite = false, repeated = false;
    for (Py_ssize_t i = 0; i < fmt.n; ++i) {
        if (fmt[i] != '%') continue;
        if (i + 1 >= fmt.n) return false;  // stray %
        const Py_UCS4 d = fmt[++i];
        if (d == '%') continue;
        if (d >= 0x80 || !(numeric_alternatives(d) || locale_directive(d) || d == 'z'))
            return false;
        const std::uint64_t bit = std::uint64_t{1} << (d & 63);
        repeated = repeated || (used[d >> 6] & bit);
        used[d >> 6] |= bit;
        composite = composite || d == 'c' || d == 'x' || d == 'X';
        ++groups;
    }
    return repeated || (composite && groups > 1);
}

// false when strptime(text, fmt) certainly fails with ValueError.
template <class View>
bool may_parse(const View& t, FormatText fmt, bool c_locale) {
    if (repeats_a_group(fmt)) return true;
    Positions a(t.n), b(t.n);
    if (!a.valid() || !b.valid()) return true;
    Positions *reach = &a, *spare = &b;
    reach->add(0);
    return advance(t, fmt, c_locale, reach, spare) && reach->has(t.n);
}

}  // namespace shape_check
