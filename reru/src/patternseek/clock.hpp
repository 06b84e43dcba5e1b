// The time-of-day test without the regular expression: a scanner that
// answers `anytime_regex.search(text) is not None` for the pattern the
// module compiles at import, deciding exactly as that pattern does:
//
//   (?<!\d)(\d{1,2}:\d{2}(?::\d{2})?|\d{6})(?:\.\d{1,6})?(?:\s*[AP]M)?
//   (?:\s*(?:[+-]\d{2}:?\d{2}|[+-]\d{4}|[A-Z]{3,4}|Z))?(?=\s|$)   (IGNORECASE)
#pragma once

#include "reru.hpp"
#include "shape_check.hpp"

namespace clock_scan {

using shape_check::ascii_digit;
using shape_check::ascii_letter;

constexpr Py_UCS4 kPastEnd = 0x110000;  // no character

// The text as the pattern reads it: \d is any decimal digit, \s any white
// space, and under IGNORECASE [A-Z] also matches four non-ASCII letters
// that fold to ASCII ones.
struct ClockText : reru::Chars {
    explicit ClockText(PyObject* s) : reru::Chars(s, kPastEnd) {}
    bool digit(Py_ssize_t i) const {
        const Py_UCS4 c = (*this)[i];
        return c < 0x80 ? ascii_digit(c) : c != kPastEnd && Py_UNICODE_ISDECIMAL(c);
    }
    // (?=\s|$): white space or the end follows (a final line feed is white space).
    bool ends(Py_ssize_t i) const {
        const Py_UCS4 c = (*this)[i];
        return c == kPastEnd || Py_UNICODE_ISSPACE(c);
    }
    // An ASCII letter, any case.
    bool is(Py_ssize_t i, char lower) const {
        const Py_UCS4 c = (*this)[i];
        return ascii_letter(c) && (c | 0x20) == static_cast<Py_UCS4>(lower);
    }
    bool letter(Py_ssize_t i) const {
        const Py_UCS4 c = (*this)[i];
        return ascii_letter(c) || c == 0x130 || c == 0x131 || c == 0x17F || c == 0x212A;
    }
};

// The optional parts after the clock. White space cannot start any of them,
// so where the text has white space the lookahead is already met and \s*
// never needs to consume any.
// (?:\s*(?:[+-]\d{2}:?\d{2}|[+-]\d{4}|[A-Z]{3,4}|Z))? then the lookahead.
inline bool zone_then_end(const ClockText& t, Py_ssize_t h) {
    if (t.ends(h)) return true;
    if (t[h] == '+' || t[h] == '-') {
        if (!t.digit(h + 1) || !t.digit(h + 2)) return false;
        if (t.digit(h + 3) && t.digit(h + 4) && t.ends(h + 5)) return true;
        return t[h + 3] == ':' && t.digit(h + 4) && t.digit(h + 5) && t.ends(h + 6);
    }
    if (t.is(h, 'z') && t.ends(h + 1)) return true;
    return t.letter(h) && t.letter(h + 1) && t.letter(h + 2) &&
           (t.ends(h + 3) || (t.letter(h + 3) && t.ends(h + 4)));
}

// (?:\s*[AP]M)? then the zone.
inline bool ampm_then_end(const ClockText& t, Py_ssize_t f) {
    if (zone_then_end(t, f)) return true;
    return (t.is(f, 'a') || t.is(f, 'p')) && t.is(f + 1, 'm') && zone_then_end(t, f + 2);
}

// (?:\.\d{1,6})? then the rest.
// Six fraction digits need no look: after the dot (not a digit) they are a
// six-digit clock themselves, followed by the same rest.
inline bool fraction_then_end(const ClockText& t, Py_ssize_t e) {
    if (ampm_then_end(t, e)) return true;
    if (t[e] != '.') return false;
    for (Py_ssize_t j = 1; t.digit(e + j); ++j) {
        if (ampm_then_end(t, e + j + 1)) return true;
        if (j == 5) break;
    }
    return false;
}

// (\d{1,2}:\d{2}(?::\d{2})?|\d{6}) at p, then the rest.
inline bool clock_at(const ClockText& t, Py_ssize_t p) {
    Py_ssize_t run = 1;  // the digits from p (a seventh one fails every alternative)
    while (t.digit(p + run)) ++run;
    if (run == 6 && fraction_then_end(t, p + 6)) return true;
    if (run > 2 || t[p + run] != ':' || !t.digit(p + run + 1) || !t.digit(p + run + 2))
        return false;
    const Py_ssize_t e = p + run + 3;
    if (fraction_then_end(t, e)) return true;
    return t[e] == ':' && t.digit(e + 1) && t.digit(e + 2) && fraction_then_end(t, e + 3);
}

// anytime_regex.search(text) is not None, for the pattern compiled at import.
inline bool has_time_of_day(PyObject* text) {
    const ClockText t(text);
    for (Py_ssize_t p = 0; p < t.n; ++p)
        if (t.digit(p) && (p == 0 || !t.digit(p - 1)) && clock_at(t, p)) return true;
    return false;
}

}  // namespace clock_scan
