// Does datetime.datetime.strptime(text, fmt) accept the text? Decided
// natively, the way strptime decides it, wherever that can be done exactly;
// "unknown" everywhere else, and the caller then makes the real call.
//
// How strptime decides (established by running it):
//
// * The format becomes a regular expression, compiled with IGNORECASE:
//   each directive an alternation in a fixed order (the tables below),
//   each run of white space \s+ (Unicode white space, greedy), every other
//   character a literal. The expression is matched at the start of the
//   text; the FIRST match in the expression's priority order is taken, and
//   the text is refused when that match ends before the end of the text.
//   IGNORECASE lets four non-ASCII letters match ASCII ones: U+0130 and
//   U+0131 match "i", U+212A matches "k", U+017F matches "s". \d is any
//   Unicode decimal digit, [0-9] only the ASCII ones.
// * A "%" followed by a character that is not a directive, or a "%" at the
//   end, is refused whatever the text. A directive used twice is a regular
//   expression error (not ValueError): unknown here.
// * The matched values are then converted: names are looked up after
//   lower-casing (a lookalike letter lower-cases to a non-ASCII letter, so
//   the lookup refuses it); a later directive overrides an earlier one for
//   the same field; %I counts 12 as 0 unless %p says "pm"; %p alone does
//   nothing; %y 69-99 is 19xx, 00-68 is 20xx; %j, or a week (%U/%W) with a
//   weekday (%a/%A/%w/%u) and any year, gives the date, overriding month and
//   day; a missing year is 1900 (1904 while the computation runs when the
//   month and day are Feb 29, and 1900 again at the end, so Feb 29 without a
//   year is refused). Finally datetime() checks the year (1..9999), the day
//   of the month and the second (60 and 61 match but are refused), and the
//   UTC offset of %z must be strictly within 24 hours.
// * %z: "Z" (case-sensitive), or a sign, two digits, an optional colon,
//   minutes, and optionally (colon) seconds and a fraction of 1-6 digits;
//   the two colons must be used consistently.
// * %V with %Y is refused whatever the text.
//
// The decision is only valid while strptime would run as it did when it was
// studied: the interpreter's own _strptime functions, LC_TIME "C" or
// "POSIX", and strptime's locale/zone cache current (a call that rebuilds
// the cache also calls time.tzset(), an effect that must not be skipped).
// read_facts() checks that without running Python code.
//
// Header-only; included by patternseek.cpp and by the test hook.
#pragma once

#include "reru.hpp"

#include <clocale>
#include <cstdint>
#include <cstring>
#include <initializer_list>

namespace accept {

enum class Verdict : unsigned char { refused, accepted, unknown };
enum class Reading : unsigned char { usable, unusable, error };

// ---------------------------------------------------------------------------
// Facts: what the decision depends on at this moment.

constexpr int kMaxZones = 8;
constexpr int kMaxZoneLength = 15;

struct Facts {
    // The names %Z accepts, lower-case ASCII, in the order of strptime's
    // alternation; zone_count -1 when %Z cannot be decided.
    int zone_count = -1;
    int zone_longest = 0;
    unsigned char zone_length[kMaxZones] = {};
    char zones[kMaxZones][kMaxZoneLength + 1] = {};
};

// ---------------------------------------------------------------------------
// Programs: formats compiled for the decision.

enum class Op : unsigned char { literal, space, directive };

struct Step {
    Op op;
    char c;  // the literal (letters lower-cased) or the directive letter
};

constexpr int kMaxSteps = 64;

struct Program {
    unsigned char count = 0;
    bool refuse_all = false;     // strptime refuses every text
    bool spaces = false;         // some step is \s+ (no bound on the length)
    bool zone = false;           // some step is %Z
    unsigned short longest = 0;  // the longest match without \s+ and %Z
    signed char ampm_step = -1;  // the step of %p
    Step steps[kMaxSteps] = {};
};

// What an accepted text gave: each directive's span in the text (in format
// order) and the fields of the datetime strptime returns.
struct Span {
    Py_ssize_t start, end;
    char directive;
};

struct Parsed {
    int count = 0;
    Span spans[kMaxSteps] = {};
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, microsecond = 0;
    bool has_offset = false;
    std::int64_t offset_us = 0;  // the UTC offset in microseconds
};

namespace detail {

constexpr Py_UCS4 kEnd = 0x110000;  // past the end of the text

constexpr bool ascii_letter(Py_UCS4 c) { return (c | 0x20) >= 'a' && (c | 0x20) <= 'z'; }

inline bool is_digit(Py_UCS4 c) {
    return c < 0x80 ? c - '0' < 10u : Py_UNICODE_ISDECIMAL(c);  // kEnd is no digit
}
inline int digit_value(Py_UCS4 c) {
    return c < 0x80 ? static_cast<int>(c - '0') : Py_UNICODE_TODECIMAL(c);
}
inline bool is_space(Py_UCS4 c) {
    if (c < 0x80) return c == ' ' || (c >= '\t' && c <= '\r') || (c >= 0x1c && c <= 0x1f);
    return Py_UNICODE_ISSPACE(c);  // nor white space
}

// The non-ASCII letters that IGNORECASE matches to the lower-case ASCII
// letter `f`.
constexpr bool lookalike(Py_UCS4 c, char f) {
    switch (f) {
        case 'i':
            return c == 0x130 || c == 0x131;
        case 'k':
            return c == 0x212a;
        case 's':
            return c == 0x17f;
        default:
            return false;
    }
}

// A text character against an ASCII character of the expression (letters
// given lower-case), case-insensitively.
inline bool same(Py_UCS4 c, char f) {
    const Py_UCS4 u = static_cast<unsigned char>(f);
    if (c == u) return true;
    if (!ascii_letter(u)) return false;
    return c < 0x80 ? (c | 0x20) == u : lookalike(c, f);
}

// The alternations of the numeric directives, in strptime's order. A class
// with lo == 0 is \d.
struct Cls {
    unsigned char lo, hi;
};
struct Alt {
    unsigned char length;
    Cls c[3];
};
constexpr Cls D{0, 0};
constexpr Cls R(char lo, char hi) {
    return {static_cast<unsigned char>(lo), static_cast<unsigned char>(hi)};
}
constexpr Cls C(char c) { return R(c, c); }

constexpr Alt kDay[] = {{2, {C('3'), R('0', '1')}},
                        {2, {R('1', '2'), D}},
                        {2, {C('0'), R('1', '9')}},
                        {1, {R('1', '9')}},
                        {2, {C(' '), R('1', '9')}}};
constexpr Alt kHour24[] = {{2, {C('2'), R('0', '3')}}, {2, {R('0', '1'), D}}, {1, {D}}};
constexpr Alt kHour12[] = {
    {2, {C('1'), R('0', '2')}}, {2, {C('0'), R('1', '9')}}, {1, {R('1', '9')}}};
constexpr Alt kMinute[] = {{2, {R('0', '5'), D}}, {1, {D}}};
constexpr Alt kSecond[] = {{2, {C('6'), R('0', '1')}}, {2, {R('0', '5'), D}}, {1, {D}}};
constexpr Alt kWeek[] = {{2, {C('5'), R('0', '3')}}, {2, {R('0', '4'), D}}, {1, {D}}};
constexpr Alt kYearDay[] = {{3, {C('3'), C('6'), R('0', '6')}}, {3, {C('3'), R('0', '5'), D}},
                            {3, {R('1', '2'), D, D}},           {3, {C('0'), R('1', '9'), D}},
                            {3, {C('0'), C('0'), R('1', '9')}}, {2, {R('1', '9'), D}},
                            {2, {C('0'), R('1', '9')}},         {1, {R('1', '9')}}};
constexpr Alt kWeekday[] = {{1, {R('0', '6')}}};
constexpr Alt kIsoWeekday[] = {{1, {R('1', '7')}}};
constexpr Alt kYear2[] = {{2, {D, D}}};
constexpr Alt kPercent[] = {{1, {C('%')}}};
// The four-digit year is matched as a run (see next_end).

struct Alts {
    const Alt* alts;
    int count;
};
template <int N>
constexpr Alts alts(const Alt (&a)[N]) {
    return {a, N};
}

constexpr Alts numeric(char d) {
    switch (d) {
        case 'd':
            return alts(kDay);
        case 'H':
            return alts(kHour24);
        case 'I':
        case 'm':
            return alts(kHour12);  // 1[0-2]|0[1-9]|[1-9] for both
        case 'M':
            return alts(kMinute);
        case 'S':
            return alts(kSecond);
        case 'U':
        case 'W':
            return alts(kWeek);
        case 'j':
            return alts(kYearDay);
        case 'w':
            return alts(kWeekday);
        case 'u':
            return alts(kIsoWeekday);
        case 'y':
            return alts(kYear2);
        case '%':
            return alts(kPercent);
        default:
            return {nullptr, 0};
    }
}

// The C locale's names, in the order of strptime's alternations, and the
// lists its lookups index (weekdays from Monday, months from January).
constexpr const char* kFullDaysAlt[] = {"wednesday", "thursday", "saturday", "tuesday",
                                        "monday",    "friday",   "sunday"};
constexpr const char* kFullDays[] = {"monday", "tuesday",  "wednesday", "thursday",
                                     "friday", "saturday", "sunday"};
constexpr const char* kDays[] = {"mon", "tue", "wed", "thu", "fri", "sat", "sun"};
constexpr const char* kFullMonthsAlt[] = {"september", "february", "november", "december",
                                          "january",   "october",  "august",   "march",
                                          "april",     "june",     "july",     "may"};
constexpr const char* kFullMonths[] = {"january",   "february", "march",    "april",
                                       "may",       "june",     "july",     "august",
                                       "september", "october",  "november", "december"};
constexpr const char* kMonths[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                   "jul", "aug", "sep", "oct", "nov", "dec"};
constexpr const char* kAmPm[] = {"am", "pm"};

// Where each name of an alternation stands in its lookup list.
constexpr unsigned char kFullDaysAt[] = {2, 3, 5, 1, 0, 4, 6};
constexpr unsigned char kFullMonthsAt[] = {8, 1, 10, 11, 0, 9, 7, 2, 3, 5, 6, 4};
constexpr unsigned char kInOrder[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};

struct Names {
    const char* const* alt;   // regex order
    const unsigned char* at;  // the lookup position of each
    int count;
};

constexpr Names names(char d) {
    switch (d) {
        case 'A':
            return {kFullDaysAlt, kFullDaysAt, 7};
        case 'a':
            return {kDays, kInOrder, 7};
        case 'B':
            return {kFullMonthsAlt, kFullMonthsAt, 12};
        case 'b':
            return {kMonths, kInOrder, 12};
        case 'p':
            return {kAmPm, kInOrder, 2};
        default:
            return {nullptr, nullptr, 0};
    }
}

// A set of ASCII characters as two words of bits.
struct CharSet {
    std::uint64_t bits[2] = {};
    constexpr explicit CharSet(const char* chars) {
        for (; *chars; ++chars) bits[*chars >> 6] |= std::uint64_t{1} << (*chars & 63);
    }
    constexpr bool has(Py_UCS4 d) const { return d < 0x80 && (bits[d >> 6] >> (d & 63) & 1); }
};

// Every directive strptime knows; any other letter after "%" is refused.
constexpr bool known_directive(Py_UCS4 d) {
    constexpr CharSet known("%ABGHIMSUVWXYZabcdfjmpuwxyz");
    return known.has(d);
}
// The directives decided here.
constexpr bool implemented(Py_UCS4 d) {
    constexpr CharSet decided("%ABHIMSUWYZabdfjmpuwyz");
    return decided.has(d);
}

// The longest text each directive matches (%Z excluded).
constexpr int longest(char d) {
    switch (d) {
        case 'A':
        case 'B':
            return 9;
        case 'a':
        case 'b':
        case 'j':
            return 3;
        case 'Y':
            return 4;
        case 'f':
            return 6;
        case 'z':
            return 16;
        case 'Z':
            return 0;
        case 'w':
        case 'u':
        case '%':
            return 1;
        default:
            return 2;
    }
}

// ---------------------------------------------------------------------------
// Calendar arithmetic on proleptic Gregorian ordinals (0001-01-01 is 1).

constexpr int kMaxOrdinal = 3652059;  // 9999-12-31

constexpr bool leap(int y) { return y % 4 == 0 && (y % 100 != 0 || y % 400 == 0); }
constexpr int days_in_month(int y, int m) {
    constexpr unsigned char days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && leap(y) ? 29 : days[m - 1];
}
constexpr bool valid_date(int y, int m, int d) {
    return y >= 1 && y <= 9999 && m >= 1 && m <= 12 && d >= 1 && d <= days_in_month(y, m);
}
constexpr int first_of_year(int y) {
    const int p = y - 1;
    return p * 365 + p / 4 - p / 100 + p / 400 + 1;
}
constexpr void from_ordinal(int n, int& y, int& m, int& d) {
    // Days since 0000-03-01, in 400-year eras.
    const int z = n + 305;
    const int era = z / 146097;
    const int doe = z - era * 146097;
    const int yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y = yoe + era * 400 + (m <= 2);
}
constexpr int weekday(int n) { return (n + 6) % 7; }  // Monday is 0

// ---------------------------------------------------------------------------
// Matching: a depth-first walk over the steps in the expression's priority
// order, which finds the same first match as the regular-expression engine.
// A (step, position) pair that failed once fails again (no step looks back),
// so each is explored once: time linear in text times format.

template <class Char>
struct Text {
    const Char* s;
    Py_ssize_t n;
    Py_UCS4 operator[](Py_ssize_t i) const { return i < n ? s[i] : kEnd; }
};

// %z's possible ends from `p`, in priority order.
template <class Char>
int offset_ends(const Text<Char>& t, Py_ssize_t p, Py_ssize_t* out) {
    int k = 0;
    if (t[p] == 'Z') {
        out[k++] = p + 1;
        return k;
    }
    if ((t[p] != '+' && t[p] != '-') || !is_digit(t[p + 1]) || !is_digit(t[p + 2])) return 0;
    Py_ssize_t q = p + 3 + (t[p + 3] == ':');
    if (t[q] - '0' > 5u || !is_digit(t[q + 1])) return 0;
    const Py_ssize_t e = q + 2;
    Py_ssize_t r = e + (t[e] == ':');
    if (t[r] - '0' <= 5u && is_digit(t[r + 1])) {
        const Py_ssize_t g = r + 2;
        if (t[g] == '.') {
            int digits = 0;
            while (digits < 6 && is_digit(t[g + 1 + digits])) ++digits;
            for (; digits > 0; --digits) out[k++] = g + 1 + digits;
        }
        out[k++] = g;
    }
    out[k++] = e;
    return k;
}

// The end of the next alternative of step `s` from `p` (0 when none is
// left: every step consumes a character). `alt` holds the step's progress, 0 at first.
template <class Char>
Py_ssize_t next_end(const Text<Char>& t, const Step& s, Py_ssize_t p, std::int32_t& alt,
                    const Facts& facts) {
    switch (s.op) {
        case Op::literal:
            if (alt != 0) return 0;
            alt = 1;
            return same(t[p], s.c) ? p + 1 : 0;
        case Op::space:
        case Op::directive:
            break;
    }
    if (s.op == Op::space || s.c == 'f' || s.c == 'Y') {
        // \s+ and [0-9]{1,6}: greedy, the longest run first; \d\d\d\d: four.
        if (alt == 0) {
            Py_ssize_t q = p;
            if (s.op == Op::space) {
                while (is_space(t[q])) ++q;
            } else if (s.c == 'f') {
                while (q - p < 6 && t[q] - '0' < 10u) ++q;
            } else {
                while (q - p < 4 && is_digit(t[q])) ++q;
                if (q - p < 4) q = p;
            }
            alt = static_cast<std::int32_t>(q - p);
            return q > p ? q : 0;
        }
        if (s.c == 'Y' && s.op == Op::directive) return 0;
        return --alt > 0 ? p + alt : 0;
    }
    if (s.c == 'z') {
        Py_ssize_t ends[9];
        const int count = offset_ends(t, p, ends);
        return alt < count ? ends[alt++] : 0;
    }
    if (s.c == 'Z') {
        while (alt < facts.zone_count) {
            const int z = alt++;
            Py_ssize_t q = p;
            const char* name = facts.zones[z];
            for (; *name && same(t[q], *name); ++name) ++q;
            if (*name == 0) return q;
        }
        return 0;
    }
    if (const Names list = names(s.c); list.alt != nullptr) {
        while (alt < list.count) {
            const char* name = list.alt[alt++];
            Py_ssize_t q = p;
            for (; *name && same(t[q], *name); ++name) ++q;
            if (*name == 0) return q;
        }
        return 0;
    }
    const Alts a = numeric(s.c);
    while (alt < a.count) {
        const Alt& one = a.alts[alt++];
        int k = 0;
        for (; k < one.length; ++k) {
            const Py_UCS4 c = t[p + k];
            const Cls cls = one.c[k];
            if (cls.lo == 0 ? !is_digit(c) : c < cls.lo || c > cls.hi) break;
        }
        if (k == one.length) return p + k;
    }
    return 0;
}

// Failed (step, position) pairs: one bit each, on the stack for short
// texts and on the heap for long ones.
class Failures {
public:
    Failures(int steps, Py_ssize_t n) : words_((n + 64) / 64) {
        const Py_ssize_t total = words_ * (steps + 1);
        bits_ = total <= kLocal ? local_
                                : static_cast<std::uint64_t*>(PyMem_Calloc(
                                      static_cast<size_t>(total), sizeof(std::uint64_t)));
        if (bits_ == local_)
            std::memset(local_, 0, static_cast<size_t>(total) * sizeof(std::uint64_t));
    }
    Failures(const Failures&) = delete;
    Failures& operator=(const Failures&) = delete;
    ~Failures() {
        if (bits_ != local_) PyMem_Free(bits_);
    }
    bool valid() const { return bits_ != nullptr; }
    bool has(int step, Py_ssize_t p) const {
        return (bits_[step * words_ + (p >> 6)] >> (p & 63)) & 1;
    }
    void add(int step, Py_ssize_t p) {
        bits_[step * words_ + (p >> 6)] |= std::uint64_t{1} << (p & 63);
    }

private:
    static constexpr Py_ssize_t kLocal = kMaxSteps + 1;
    Py_ssize_t words_;
    std::uint64_t* bits_;
    std::uint64_t local_[kLocal];
};

// The integer value of the digits in [a, b) (leading spaces skipped).
template <class Char>
int value(const Text<Char>& t, Py_ssize_t a, Py_ssize_t b) {
    int v = 0;
    for (; a < b; ++a)
        if (t[a] != ' ') v = v * 10 + digit_value(t[a]);
    return v;
}

// Whether the lookup of a matched name finds it: strptime looks up the
// lower-cased text, and a lookalike letter (U+0130, U+0131, U+017F) lower-
// cases to a letter that is not ASCII. (U+212A lower-cases to "k", which
// no name holds, so it never matches one.)
template <class Char>
bool found(const Text<Char>& t, Py_ssize_t a, Py_ssize_t b) {
    for (; a < b; ++a)
        if (t[a] >= 0x80) return false;
    return true;
}

// The offset of a matched %z in microseconds; false when strptime refuses it
// (colons used inconsistently, or 24 hours or more).
template <class Char>
bool offset_value(const Text<Char>& t, Py_ssize_t a, Py_ssize_t b, std::int64_t& us) {
    if (t[a] == 'Z') {
        us = 0;
        return true;
    }
    const bool colon = t[a + 3] == ':';
    const Py_ssize_t mm = a + 3 + colon;
    std::int64_t seconds = value(t, a + 1, a + 3) * 3600 + value(t, mm, mm + 2) * 60;
    std::int64_t fraction = 0;
    if (mm + 2 < b) {
        if ((t[mm + 2] == ':') != colon) return false;
        const Py_ssize_t ss = mm + 2 + colon;
        seconds += value(t, ss, ss + 2);
        if (t[ss + 2] == '.') {
            fraction = value(t, ss + 3, b);
            for (Py_ssize_t k = b - (ss + 3); k < 6; ++k) fraction *= 10;
        }
    }
    us = seconds * 1000000 + fraction;
    if (t[a] == '-') us = -us;
    return us > -86400000000LL && us < 86400000000LL;
}

// The conversion after the match: the fields, then datetime's checks.
template <class Char>
Verdict convert(const Text<Char>& t, const Program& prog, const Py_ssize_t* at,
                const std::int32_t* alt, Parsed* out) {
    int year = -1, month = 1, day = 1, hour = 0, minute = 0, second = 0, fraction = 0;
    int julian = 0, wday = -1, week = -1;
    bool by_julian = false;  // the date is day `julian` of the year
    char week_kind = 0;      // the directive that gave the week
    bool has_offset = false;
    std::int64_t offset = 0;
    // %I reads %p wherever it stands: am when absent.
    const bool pm = prog.ampm_step >= 0 && (t[at[prog.ampm_step]] | 0x20) == 'p';
    int spans = 0;
    for (int i = 0; i < prog.count; ++i) {
        const Step& s = prog.steps[i];
        if (s.op != Op::directive) continue;
        const Py_ssize_t a = at[i], b = at[i + 1];
        if (out != nullptr) out->spans[spans++] = {a, b, s.c};
        switch (s.c) {
            case 'y': {
                const int v = value(t, a, b);
                year = v + (v <= 68 ? 2000 : 1900);
                break;
            }
            case 'Y':
                year = value(t, a, b);
                break;
            case 'm':
                month = value(t, a, b);
                break;
            case 'd':
                day = value(t, a, b);
                break;
            case 'H':
                hour = value(t, a, b);
                break;
            case 'I':
                hour = value(t, a, b);
                if (pm) {
                    if (hour != 12) hour += 12;
                } else if (hour == 12) {
                    hour = 0;
                }
                break;
            case 'M':
                minute = value(t, a, b);
                break;
            case 'S':
                second = value(t, a, b);
                break;
            case 'f':
                fraction = value(t, a, b);
                for (Py_ssize_t k = b - a; k < 6; ++k) fraction *= 10;
                break;
            case 'j':
                julian = value(t, a, b);
                by_julian = true;
                break;
            case 'U':
            case 'W':
                week = value(t, a, b);
                week_kind = s.c;
                break;
            case 'w':
                wday = (value(t, a, b) + 6) % 7;
                break;
            case 'u':
                wday = value(t, a, b) - 1;
                break;
            case 'a':
            case 'A':
            case 'b':
            case 'B': {
                if (!found(t, a, b)) return Verdict::refused;
                const int k = names(s.c).at[alt[i] - 1];  // the alternative that matched
                if (s.c == 'a' || s.c == 'A')
                    wday = k;
                else
                    month = k + 1;
                break;
            }
            case 'z':
                if (!offset_value(t, a, b, offset)) return Verdict::refused;
                has_offset = true;
                break;
            default:  // %p, %Z, %%: nothing to convert
                break;
        }
    }
    if (out != nullptr) out->count = spans;

    bool leap_fix = false;
    if (year < 0) {
        leap_fix = month == 2 && day == 29;
        year = leap_fix ? 1904 : 1900;
    }
    if (!by_julian && wday >= 0 && week_kind != 0) {
        by_julian = true;
        int first = weekday(first_of_year(year));
        int dow = wday;
        if (week_kind == 'U') {  // weeks from Sunday
            first = (first + 1) % 7;
            dow = (dow + 1) % 7;
        }
        julian = week == 0 ? 1 + dow - first : 1 + (7 - first) % 7 + 7 * (week - 1) + dow;
        // A day before the year (week 0) is in the year before: the same
        // ordinal below, refused there when that year would be 0.
    }
    if (!by_julian) {
        if (!valid_date(year, month, day)) return Verdict::refused;
    } else {
        if (year < 1 || year > 9999) return Verdict::refused;
        const int n = julian - 1 + first_of_year(year);
        if (n < 1 || n > kMaxOrdinal) return Verdict::refused;  // year 0 or 10000
        from_ordinal(n, year, month, day);
    }
    if (leap_fix) year = 1900;
    if (!valid_date(year, month, day) || second > 59) return Verdict::refused;
    if (out != nullptr) {
        out->year = year;
        out->month = month;
        out->day = day;
        out->hour = hour;
        out->minute = minute;
        out->second = second;
        out->microsecond = fraction;
        out->has_offset = has_offset;
        out->offset_us = offset;
    }
    return Verdict::accepted;
}

template <class Char>
Verdict run(const Program& prog, const Text<Char>& t, const Facts& facts, Parsed* out, long* work) {
    const int n = prog.count;
    Failures failed(n, t.n);
    if (!failed.valid()) return Verdict::unknown;
    Py_ssize_t at[kMaxSteps + 1];
    std::int32_t alt[kMaxSteps + 1];
    int i = 0;
    at[0] = 0;
    alt[0] = 0;
    while (i < n) {
        if (work != nullptr) ++*work;
        const Py_ssize_t end = next_end(t, prog.steps[i], at[i], alt[i], facts);
        if (end != 0) {
            if (failed.has(i + 1, end)) continue;
            ++i;
            at[i] = end;
            alt[i] = 0;
        } else {
            failed.add(i, at[i]);
            if (i == 0) return Verdict::refused;  // no match
            --i;
        }
    }
    if (at[n] != t.n) return Verdict::refused;  // unconverted data remains
    return convert(t, prog, at, alt, out);
}

// Formats as characters: a str, or ASCII bytes.
inline bool compile_chars(const reru::Chars& f, Program& prog) {
    prog = Program{};
    // A stray "%" or an unknown directive: refused whatever the text.
    for (Py_ssize_t i = 0; i < f.n; ++i) {
        if (f[i] != '%') continue;
        if (i + 1 == f.n || !known_directive(f[i + 1])) {
            prog.refuse_all = true;
            return true;
        }
        ++i;
    }
    std::uint64_t used[2] = {0, 0};  // the directive letters seen
    auto seen = [&used](char d) { return (used[d >> 6] >> (d & 63)) & 1; };
    bool iso_week = false, other = false;
    int count = 0, length = 0;
    for (Py_ssize_t i = 0; i < f.n;) {
        const Py_UCS4 c = f[i];
        if (count == kMaxSteps || c >= 0x80) return false;
        Step& s = prog.steps[count++];
        if (c == '%') {
            const char d = static_cast<char>(f[i + 1]);
            i += 2;
            s = {Op::directive, d};
            if (d == '%') {
                length += 1;
                continue;
            }
            if (seen(d)) return false;  // a group named twice
            used[d >> 6] |= std::uint64_t{1} << (d & 63);
            if (d == 'V')
                iso_week = true;
            else if (!implemented(static_cast<Py_UCS4>(d)))
                other = true;  // %c, %x, %X, %G
            length += longest(d);
            prog.zone = prog.zone || d == 'Z';
            if (d == 'p') prog.ampm_step = static_cast<signed char>(count - 1);
        } else if (is_space(c)) {
            while (i < f.n && is_space(f[i])) ++i;
            s = {Op::space, ' '};
            prog.spaces = true;
        } else {
            ++i;
            s = {Op::literal, static_cast<char>(ascii_letter(c) ? (c | 0x20) : c)};
            length += 1;
        }
    }
    if (iso_week && seen('Y') && !other) {
        prog.refuse_all = true;  // %V beside %Y
        return true;
    }
    if (iso_week || other) return false;
    prog.count = static_cast<unsigned char>(count);
    prog.longest = static_cast<unsigned short>(length);
    return true;
}

}  // namespace detail

// Compiles `format` (an exact str, or ASCII bytes). False: not decided here
// (the caller asks strptime).
inline bool compile(PyObject* format, Program& prog) {
    return detail::compile_chars(reru::Chars(format), prog);
}
inline bool compile(const char* format, Py_ssize_t length, Program& prog) {
    return detail::compile_chars(reru::Chars(format, length), prog);
}

// Whether datetime.datetime.strptime(text, <the program's format>) accepts
// `text` (an exact str) under `facts`, which must have been read since
// Python code last ran. Runs no Python code and allocates only for texts
// longer than 63 characters. `work`, when given, counts the matching steps
// taken (for the tests).
inline Verdict decide(const Program& prog, PyObject* text, const Facts& facts,
                      Parsed* out = nullptr, long* work = nullptr) {
    if (prog.refuse_all) return Verdict::refused;
    if (prog.zone && facts.zone_count < 0) return Verdict::unknown;
    const Py_ssize_t n = PyUnicode_GET_LENGTH(text);
    // A text longer than any match: the first match cannot cover it.
    if (!prog.spaces && n > prog.longest + (prog.zone ? facts.zone_longest : 0))
        return Verdict::refused;
    if (n >= 0x7fffffff) return Verdict::unknown;
    const void* data = PyUnicode_DATA(text);
    switch (PyUnicode_KIND(text)) {
        case PyUnicode_1BYTE_KIND:
            return detail::run(prog, detail::Text<Py_UCS1>{static_cast<const Py_UCS1*>(data), n},
                               facts, out, work);
        case PyUnicode_2BYTE_KIND:
            return detail::run(prog, detail::Text<Py_UCS2>{static_cast<const Py_UCS2*>(data), n},
                               facts, out, work);
        default:
            return detail::run(prog, detail::Text<Py_UCS4>{static_cast<const Py_UCS4*>(data), n},
                               facts, out, work);
    }
}

// ---------------------------------------------------------------------------
// The preconditions.

namespace detail {

// Objects held for the life of the process (owned references).
struct Held {
    bool ready = false;
    bool genuine = false;  // the functions found at init look like the interpreter's own
    PyObject* strptime_dict = nullptr;  // _strptime.__dict__
    PyObject* time_dict = nullptr;
    PyObject* timere_type = nullptr;
    PyObject* localetime_type = nullptr;
    // Module globals strptime's code calls through, and their values at init.
    static constexpr int kPins = 18;
    PyObject* pin_dict[kPins] = {};
    PyObject* pin_name[kPins] = {};
    PyObject* pin_value[kPins] = {};
    int pins = 0;
    PyObject* n_cache = nullptr;  // "_TimeRE_cache"
    PyObject* n_locale_time = nullptr;
    PyObject* n_lang = nullptr;
    PyObject* n_tzname = nullptr;
    PyObject* n_daylight = nullptr;
    PyObject* n_getitem = nullptr;
    PyObject* c_lang = nullptr;  // (None, None): the language strptime finds for the C locale
    // A reading of read_current() stands while no dictionary it read has
    // changed since: a dict watcher clears `clean` at any change to them.
    int watcher = -1;
    bool clean = false;
    bool recheck = false;            // the checked cache's items changed since
    PyObject* clean_lang = nullptr;  // borrowed, like the two below, while clean
    PyObject* clean_cache = nullptr;
    PyObject* clean_locale = nullptr;
    // The cache object last found sound, its locale object and its zones.
    PyObject* checked_cache = nullptr;
    PyObject* checked_locale = nullptr;
    Facts checked;
};

inline Held held;

// The expressions strptime's cache must hold for the decided directives.
constexpr const char* kPatterns[][2] = {
    {"d", "(?P<d>3[0-1]|[1-2]\\d|0[1-9]|[1-9]| [1-9])"},
    {"f", "(?P<f>[0-9]{1,6})"},
    {"H", "(?P<H>2[0-3]|[0-1]\\d|\\d)"},
    {"I", "(?P<I>1[0-2]|0[1-9]|[1-9])"},
    {"j", "(?P<j>36[0-6]|3[0-5]\\d|[1-2]\\d\\d|0[1-9]\\d|00[1-9]|[1-9]\\d|0[1-9]|[1-9])"},
    {"m", "(?P<m>1[0-2]|0[1-9]|[1-9])"},
    {"M", "(?P<M>[0-5]\\d|\\d)"},
    {"S", "(?P<S>6[0-1]|[0-5]\\d|\\d)"},
    {"U", "(?P<U>5[0-3]|[0-4]\\d|\\d)"},
    {"W", "(?P<W>5[0-3]|[0-4]\\d|\\d)"},
    {"w", "(?P<w>[0-6])"},
    {"u", "(?P<u>[1-7])"},
    {"y", "(?P<y>\\d\\d)"},
    {"Y", "(?P<Y>\\d\\d\\d\\d)"},
    {"z", "(?P<z>[+-]\\d\\d:?[0-5]\\d(:?[0-5]\\d(\\.\\d{1,6})?)?|(?-i:Z))"},
    {"%", "%"},
    {"A", "(?P<A>wednesday|thursday|saturday|tuesday|monday|friday|sunday)"},
    {"a", "(?P<a>mon|tue|wed|thu|fri|sat|sun)"},
    {"B",
     "(?P<B>september|february|november|december|january|october|august|march|april|june|july|"
     "may)"},
    {"b", "(?P<b>jan|feb|mar|apr|may|jun|jul|aug|sep|oct|nov|dec)"},
    {"p", "(?P<p>am|pm)"},
};

// Borrowed value of `name` in `dict` without running Python code (the key
// is an exact str); NULL when absent or on error (check PyErr_Occurred).
inline PyObject* lookup(PyObject* dict, const char* name) {
    PyObject* key = PyUnicode_InternFromString(name);
    if (key == nullptr) return nullptr;
    PyObject* v = PyDict_GetItemWithError(dict, key);
    Py_DECREF(key);
    return v;
}

// A list of exact str equal to `expected` (with a leading "" when `blank`).
inline bool names_equal(PyObject* list, const char* const* expected, int count, bool blank) {
    if (!PyList_CheckExact(list) || PyList_GET_SIZE(list) != count + blank) return false;
    for (int i = 0; i < count + blank; ++i) {
        PyObject* s = PyList_GET_ITEM(list, i);
        const char* want = blank ? (i == 0 ? "" : expected[i - 1]) : expected[i];
        if (!PyUnicode_CheckExact(s) || PyUnicode_CompareWithASCIIString(s, want) != 0)
            return false;
    }
    return true;
}

// The zone names of the cache's %Z expression "(?P<Z>a|b|...)", each
// escaped by re.escape. zone_count stays -1 when they are not decidable
// here (empty, not ASCII, white space, too many or too long).
inline void read_zones(PyObject* pattern, Facts& f) {
    f.zone_count = -1;
    if (!PyUnicode_CheckExact(pattern) || !PyUnicode_IS_ASCII(pattern)) return;
    const char* s = static_cast<const char*>(PyUnicode_DATA(pattern));
    const Py_ssize_t n = PyUnicode_GET_LENGTH(pattern);
    if (n < 8 || std::strncmp(s, "(?P<Z>", 6) != 0 || s[n - 1] != ')') return;
    int count = 0, len = 0;
    for (Py_ssize_t i = 6; i < n; ++i) {
        char c = s[i];
        if (c == '|' || i == n - 1) {
            if (len == 0) return;
            f.zones[count][len] = 0;
            f.zone_length[count++] = static_cast<unsigned char>(len);
            if (len > f.zone_longest) f.zone_longest = len;
            len = 0;
            continue;
        }
        if (c == '\\')
            c = s[++i];
        else if (std::strchr("()[]{}.*+?^$", c))
            return;  // not a plain literal
        if (count == kMaxZones || len == kMaxZoneLength ||
            is_space(static_cast<unsigned char>(c)) || i == n - 1)
            return;
        f.zones[count][len++] =
            static_cast<char>(ascii_letter(static_cast<unsigned char>(c)) ? (c | 0x20) : c);
    }
    f.zone_count = count;
}

// Whether `cache` (a TimeRE) holds the expressions and names decided here;
// then keeps it, its locale object and its zones.
inline Reading check_cache(PyObject* cache, PyObject* locale_time) {
    Held& h = held;
    for (const auto& entry : kPatterns) {
        PyObject* v = lookup(cache, entry[0]);
        if (v == nullptr) return PyErr_Occurred() ? Reading::error : Reading::unusable;
        if (!PyUnicode_CheckExact(v) || PyUnicode_CompareWithASCIIString(v, entry[1]) != 0)
            return Reading::unusable;
    }
    Facts zones;
    PyObject* z = lookup(cache, "Z");
    if (z != nullptr)
        read_zones(z, zones);
    else if (PyErr_Occurred())
        return Reading::error;
    PyObject* ld = PyObject_GenericGetDict(locale_time, nullptr);
    if (ld == nullptr) return Reading::error;
    struct {
        const char* name;
        const char* const* names;
        int count;
        bool blank;
    } lists[] = {{"a_weekday", kDays, 7, false},
                 {"f_weekday", kFullDays, 7, false},
                 {"a_month", kMonths, 12, true},
                 {"f_month", kFullMonths, 12, true},
                 {"am_pm", kAmPm, 2, false}};
    Reading r = Reading::usable;
    for (const auto& l : lists) {
        PyObject* v = lookup(ld, l.name);
        if (v == nullptr) {
            r = PyErr_Occurred() ? Reading::error : Reading::unusable;
            break;
        }
        if (!names_equal(v, l.names, l.count, l.blank)) {
            r = Reading::unusable;
            break;
        }
    }
    Py_DECREF(ld);
    if (r != Reading::usable) return r;
    Py_INCREF(cache);
    Py_XSETREF(h.checked_cache, cache);
    Py_INCREF(locale_time);
    Py_XSETREF(h.checked_locale, locale_time);
    h.checked = zones;
    return Reading::usable;
}

// An int (or bool) value without overflow (reading an exact int or a bool
// cannot fail otherwise).
inline bool small_int(PyObject* v, long& out) {
    if (!PyLong_Check(v) || (!PyLong_CheckExact(v) && !PyBool_Check(v))) return false;
    int overflow = 0;
    out = PyLong_AsLongAndOverflow(v, &overflow);
    return overflow == 0;
}

// A tuple of exact str.
inline bool str_tuple(PyObject* v) {
    if (!PyTuple_CheckExact(v)) return false;
    for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(v); ++i)
        if (!PyUnicode_CheckExact(PyTuple_GET_ITEM(v, i))) return false;
    return true;
}

inline bool same_str_tuple(PyObject* a, PyObject* b) {
    if (!str_tuple(a) || !str_tuple(b) || PyTuple_GET_SIZE(a) != PyTuple_GET_SIZE(b)) return false;
    for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(a); ++i) {
        PyObject* x = PyTuple_GET_ITEM(a, i);
        PyObject* y = PyTuple_GET_ITEM(b, i);
        if (PyUnicode_GET_LENGTH(x) != PyUnicode_GET_LENGTH(y) ||
            PyUnicode_KIND(x) != PyUnicode_KIND(y) ||
            std::memcmp(PyUnicode_DATA(x), PyUnicode_DATA(y),
                        static_cast<size_t>(PyUnicode_GET_LENGTH(x)) * PyUnicode_KIND(x)) != 0)
            return false;
    }
    return true;
}

}  // namespace detail

// Drops everything init() took hold of.
inline void release() {
    detail::Held& h = detail::held;
    h.clean = false;
    for (int i = 0; i < h.pins; ++i) {
        Py_CLEAR(h.pin_dict[i]);
        Py_CLEAR(h.pin_name[i]);
        Py_CLEAR(h.pin_value[i]);
    }
    for (PyObject** p : {&h.strptime_dict, &h.time_dict, &h.timere_type, &h.localetime_type,
                         &h.n_cache, &h.n_locale_time, &h.n_lang, &h.n_tzname, &h.n_daylight,
                         &h.n_getitem, &h.c_lang, &h.checked_cache, &h.checked_locale})
        Py_CLEAR(*p);
    h.pins = 0;
    h.ready = h.genuine = false;
}

namespace detail {
// A plain function of the module whose namespace is `globals`, named `name`.
inline bool defined_in(PyObject* f, PyObject* globals, const char* name) {
    if (!PyFunction_Check(f) || PyFunction_GET_GLOBALS(f) != globals) return false;
    auto* code = reinterpret_cast<PyCodeObject*>(PyFunction_GET_CODE(f));
    return PyUnicode_CompareWithASCIIString(code->co_qualname, name) == 0;
}

// A module from sys.modules (new reference), or NULL, without importing
// anything or running Python code.
inline PyObject* loaded(const char* name) {
    PyObject* key = PyUnicode_InternFromString(name);
    if (key == nullptr) return nullptr;
    PyObject* m = PyImport_GetModule(key);
    Py_DECREF(key);
    if (m != nullptr && !PyModule_Check(m)) Py_CLEAR(m);
    return m;
}
}  // namespace detail

// Takes hold of what the preconditions are checked against: strptime's
// module and the globals its code calls through, as they are now. It
// imports nothing and runs no Python code: it is ready only once
// datetime.strptime has loaded its modules (at its first use) and while
// their functions are the interpreter's own (a wrapper installed before is
// never taken for the real thing); until then it returns false, holding
// nothing and with no exception set, and may be called again.
inline bool init() {
    detail::Held& h = detail::held;
    if (h.ready) return true;
    const bool held = [&] {
        PyObject* strptime_module = detail::loaded("_strptime");
        if (strptime_module == nullptr) return false;
        h.strptime_dict = Py_NewRef(PyModule_GetDict(strptime_module));
        Py_DECREF(strptime_module);
        struct {
            const char* module;  // nullptr: _strptime itself
            const char* name;
        } pins[] = {{nullptr, "_strptime_datetime"},
                    {nullptr, "_strptime"},
                    {nullptr, "_getlang"},
                    {nullptr, "_calc_julian_from_U_or_W"},
                    {nullptr, "TimeRE"},
                    {nullptr, "LocaleTime"},
                    {nullptr, "time"},
                    {nullptr, "locale"},
                    {nullptr, "calendar"},
                    {nullptr, "datetime_date"},
                    {nullptr, "datetime_timedelta"},
                    {nullptr, "datetime_timezone"},
                    {nullptr, "re_compile"},
                    {nullptr, "IGNORECASE"},
                    {nullptr, "_regex_cache"},
                    {"locale", "getlocale"},
                    {"calendar", "isleap"},
                    {"time", "tzset"}};
        static_assert(sizeof(pins) / sizeof(pins[0]) == detail::Held::kPins);
        for (const auto& pin : pins) {
            PyObject* dict = h.strptime_dict;
            if (pin.module != nullptr) {
                PyObject* m = detail::loaded(pin.module);
                if (m == nullptr) return false;
                dict = PyModule_GetDict(m);
                Py_DECREF(m);  // the module stays in sys.modules; its dict is held below
            }
            PyObject* name = PyUnicode_InternFromString(pin.name);
            if (name == nullptr) return false;
            PyObject* v = PyDict_GetItemWithError(dict, name);
            if (v == nullptr) {
                Py_DECREF(name);
                return false;
            }
            h.pin_dict[h.pins] = Py_NewRef(dict);
            h.pin_name[h.pins] = name;
            h.pin_value[h.pins] = Py_NewRef(v);
            ++h.pins;
        }
        h.timere_type = Py_NewRef(h.pin_value[4]);
        h.localetime_type = Py_NewRef(h.pin_value[5]);
        h.time_dict = Py_NewRef(h.pin_dict[17]);
        const char* names[] = {"_TimeRE_cache", "locale_time", "lang",
                               "tzname",        "daylight",    "__getitem__"};
        PyObject** slots[] = {&h.n_cache,  &h.n_locale_time, &h.n_lang,
                              &h.n_tzname, &h.n_daylight,    &h.n_getitem};
        for (int i = 0; i < 6; ++i)
            if ((*slots[i] = PyUnicode_InternFromString(names[i])) == nullptr) return false;
        if ((h.c_lang = Py_BuildValue("(OO)", Py_None, Py_None)) == nullptr) return false;
        // The functions must be plain functions of _strptime itself.
        h.genuine = detail::defined_in(h.pin_value[0], h.strptime_dict, "_strptime_datetime") &&
                    detail::defined_in(h.pin_value[1], h.strptime_dict, "_strptime") &&
                    detail::defined_in(h.pin_value[2], h.strptime_dict, "_getlang") &&
                    PyType_Check(h.timere_type) && PyType_Check(h.localetime_type);
        return h.genuine;
    }();
    if (!held) {
        PyErr_Clear();  // nothing to report: not ready yet
        release();
        return false;
    }
    h.ready = true;
    return true;
}

namespace detail {
// Whether two locale languages, as strptime's cache keeps them (a tuple of
// two str or None), are the same.
inline bool same_lang(PyObject* a, PyObject* b) {
    if (!PyTuple_CheckExact(a) || !PyTuple_CheckExact(b) || PyTuple_GET_SIZE(a) != 2 ||
        PyTuple_GET_SIZE(b) != 2)
        return false;
    for (Py_ssize_t i = 0; i < 2; ++i) {
        PyObject* x = PyTuple_GET_ITEM(a, i);
        PyObject* y = PyTuple_GET_ITEM(b, i);
        if (x == Py_None || y == Py_None) {
            if (x != y) return false;
        } else if (!PyUnicode_CheckExact(x) || !PyUnicode_CheckExact(y) ||
                   PyUnicode_Compare(x, y) != 0) {
            return false;
        }
    }
    return true;
}
}  // namespace detail

// Whether every global strptime's code calls through is still the one
// init() took hold of (no Python code runs).
inline bool pins_hold() {
    using detail::held;
    if (!held.ready) return false;
    for (int i = 0; i < held.pins; ++i)
        if (PyDict_GetItemWithError(held.pin_dict[i], held.pin_name[i]) != held.pin_value[i])
            return false;
    return true;
}

// Ends the clean state (for a caller whose language object changes).
inline void forget_reading() { detail::held.clean = false; }

namespace detail {
inline int on_change(PyDict_WatchEvent, PyObject* dict, PyObject*, PyObject*) {
    held.clean = false;
    // the cache's own items (its expressions) changed: check them again
    if (dict == held.checked_cache) held.recheck = true;
    return 0;
}

// Watches each of `dicts`, so that a change to any ends the clean state.
// False when one cannot be watched (every reading is then made in full).
inline bool watch(std::initializer_list<PyObject*> dicts) {
    if (held.watcher < 0 && (held.watcher = PyDict_AddWatcher(on_change)) < 0) {
        PyErr_Clear();
        return false;
    }
    for (PyObject* d : dicts)
        if (PyDict_Watch(held.watcher, d) != 0) {
            PyErr_Clear();
            return false;
        }
    return true;
}
}  // namespace detail

// Whether strptime would run as it is now, without rebuilding its
// locale/zone cache, for a locale whose language (as strptime computes it)
// is `lang`: the pinned globals are unchanged and the cache was built for
// that language and for the current time.tzname and time.daylight. The
// cache's locale object goes to `locale_time` (borrowed, held by the
// cache). Runs no Python code.
inline Reading read_current(PyObject* lang_now, PyObject*& cache_out, PyObject*& locale_time_out) {
    using detail::held;
    if (!init()) return Reading::unusable;
    // (the types are compared again: an object's class can change without
    // any dictionary changing)
    if (held.clean && lang_now == held.clean_lang &&
        reinterpret_cast<PyObject*>(Py_TYPE(held.clean_cache)) == held.timere_type &&
        reinterpret_cast<PyObject*>(Py_TYPE(held.clean_locale)) == held.localetime_type) {
        cache_out = held.clean_cache;
        locale_time_out = held.clean_locale;
        return Reading::usable;
    }
    if (!pins_hold()) return PyErr_Occurred() ? Reading::error : Reading::unusable;
    PyObject* cache = PyDict_GetItemWithError(held.strptime_dict, held.n_cache);
    if (cache == nullptr) return PyErr_Occurred() ? Reading::error : Reading::unusable;
    PyTypeObject* type = Py_TYPE(cache);
    // The cache's items are read through dict's own __getitem__.
    if (reinterpret_cast<PyObject*>(type) != held.timere_type || type->tp_base != &PyDict_Type ||
        type->tp_getattro != PyObject_GenericGetAttr)
        return Reading::unusable;
    PyObject* type_dict = PyType_GetDict(type);
    if (type_dict == nullptr) return Reading::error;
    const int overridden = PyDict_Contains(type_dict, held.n_getitem);
    Py_DECREF(type_dict);
    if (overridden < 0) return Reading::error;
    if (overridden) return Reading::unusable;
    PyObject* cd = PyObject_GenericGetDict(cache, nullptr);
    if (cd == nullptr) return Reading::error;
    // held by the cache's dict, which the cache holds
    PyObject* lt = PyDict_GetItemWithError(cd, held.n_locale_time);
    Py_DECREF(cd);
    if (lt == nullptr) return PyErr_Occurred() ? Reading::error : Reading::unusable;
    if (reinterpret_cast<PyObject*>(Py_TYPE(lt)) != held.localetime_type ||
        Py_TYPE(lt)->tp_getattro != PyObject_GenericGetAttr)
        return Reading::unusable;
    // The cache is rebuilt when the locale's language, time.tzname or
    // time.daylight differ from what it was built with.
    reru::Ref ld = reru::Ref::steal(PyObject_GenericGetDict(lt, nullptr));
    if (!ld) return Reading::error;
    PyObject* lang = PyDict_GetItemWithError(ld.get(), held.n_lang);
    PyObject* tzname = PyDict_GetItemWithError(ld.get(), held.n_tzname);
    PyObject* daylight = PyDict_GetItemWithError(ld.get(), held.n_daylight);
    PyObject* now_tzname = PyDict_GetItemWithError(held.time_dict, held.n_tzname);
    PyObject* now_daylight = PyDict_GetItemWithError(held.time_dict, held.n_daylight);
    if (PyErr_Occurred()) return Reading::error;
    if (lang == nullptr || tzname == nullptr || daylight == nullptr || now_tzname == nullptr ||
        now_daylight == nullptr || !detail::same_lang(lang, lang_now))
        return Reading::unusable;
    long d1 = 0, d2 = 0;
    if (!detail::same_str_tuple(tzname, now_tzname) || !detail::small_int(daylight, d1) ||
        !detail::small_int(now_daylight, d2) || d1 != d2)
        return Reading::unusable;
    cache_out = cache;
    locale_time_out = lt;
    reru::Ref cache_dict = reru::Ref::steal(PyObject_GenericGetDict(cache, nullptr));
    reru::Ref timere_dict = reru::Ref::steal(PyType_GetDict(Py_TYPE(cache)));
    reru::Ref locale_type_dict = reru::Ref::steal(PyType_GetDict(Py_TYPE(lt)));
    if (cache_dict && timere_dict && locale_type_dict &&
        detail::watch({held.strptime_dict, held.pin_dict[15], held.pin_dict[16], held.time_dict,
                       cache, cache_dict.get(), ld.get(), timere_dict.get(),
                       locale_type_dict.get()})) {
        held.clean = true;
        held.clean_lang = lang_now;
        held.clean_cache = cache;
        held.clean_locale = lt;
    }
    PyErr_Clear();
    return Reading::usable;
}

// Whether the cache that read_current() found holds the expressions and
// names decided here (checked once per cache object), with its zones into
// `facts`. Runs no Python code.
inline Reading read_decidable(PyObject* cache, PyObject* locale_time, Facts& facts) {
    using detail::held;
    facts.zone_count = -1;
    if (cache != held.checked_cache || locale_time != held.checked_locale || held.recheck) {
        held.recheck = false;
        const Reading r = detail::check_cache(cache, locale_time);
        if (r != Reading::usable) {
            Py_CLEAR(held.checked_cache);
            return r;
        }
    }
    facts = held.checked;
    return Reading::usable;
}

// Whether LC_TIME is the C (or POSIX) locale, whose names are the English
// ones decided here.
inline bool c_time_locale() {
    const char* current = std::setlocale(LC_TIME, nullptr);
    return current != nullptr &&
           (std::strcmp(current, "C") == 0 || std::strcmp(current, "POSIX") == 0);
}

// Reads the preconditions of the decision into `facts` without running
// Python code: LC_TIME is "C" or "POSIX", strptime would run as it is now
// (read_current), and its cache holds the expressions and names decided
// here (read_decidable).
inline Reading read_facts(Facts& facts) {
    using detail::held;
    facts.zone_count = -1;
    if (!c_time_locale() || !init()) return Reading::unusable;
    PyObject *cache = nullptr, *lt = nullptr;
    const Reading current = read_current(held.c_lang, cache, lt);
    return current == Reading::usable ? read_decidable(cache, lt, facts) : current;
}

}  // namespace accept
