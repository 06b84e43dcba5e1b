// Module joinmark: isISOT(date_string) tells whether a string is an ISO 8601
// date-time with a "T" between date and time, in the basic layout
// (20240115T123045) or the extended one (2024-01-15T12:30:45).
//
// The test is a fixed-position scan of the string's UTF-8 bytes, read up to
// the first NUL, with a calendar check. Every read is bounded by the length
// of that text: a position at or past its end reads as the NUL, so a layout
// that needs more bytes than there are simply does not match.
#include "reru.hpp"
#include "reru/text.hpp"

namespace {

using reru::Utf8Text;

constexpr bool is_digit(unsigned char c) { return c >= '0' && c <= '9'; }

// The C library's atoi over the `Len` bytes at `p` (at most four, so no
// overflow): leading white space, one optional sign, then digits up to the
// first other byte; no digit gives 0.
template <int Len>
int field_value(const unsigned char* p) {
    int i = 0;
    while (i < Len && reru::is_ascii_space(p[i])) ++i;
    bool negative = false;
    if (i < Len && (p[i] == '+' || p[i] == '-')) negative = p[i++] == '-';
    int value = 0;
    while (i < Len && is_digit(p[i])) value = value * 10 + (p[i++] - '0');
    return negative ? -value : value;
}

// Whether the bytes at `p` have the shape `pattern`, where "d" stands for a
// digit and any other character for itself. The caller makes sure the
// bytes exist. Written without early exits so that a constant pattern
// unrolls into straight-line tests.
template <size_t N>
inline bool has_shape(const unsigned char* p, const char (&pattern)[N]) {
    bool ok = true;
#pragma GCC unroll 16
    for (size_t i = 0; i + 1 < N; ++i)
        ok &= pattern[i] == 'd' ? is_digit(p[i]) : p[i] == static_cast<unsigned char>(pattern[i]);
    return ok;
}

// The value of two and of four decimal digits.
int two_digits(const unsigned char* p) { return (p[0] - '0') * 10 + (p[1] - '0'); }
int four_digits(const unsigned char* p) { return two_digits(p) * 100 + two_digits(p + 2); }

bool is_leap(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

bool valid_date(int year, int month, int day) {
    static constexpr int month_days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12 || day < 1) return false;
    return day <= month_days[month - 1] + (month == 2 && is_leap(year) ? 1 : 0);
}

bool valid_time(int hour, int minute, int second) {
    return hour >= 0 && hour <= 23 && minute >= 0 && minute <= 59 && second >= 0 && second <= 59;
}

// YYYYMMDDThhmmss, then an optional point with three bytes of any kind,
// then an optional "Z" or a sign with four bytes of any kind. The fields
// are converted as atoi converts them, not required to be digits; plain
// digits, the usual case, are read directly.
bool basic_layout(const Utf8Text& t) {
    const unsigned char* s = t.bytes();
    if (t.size < 15 || s[8] != 'T') return false;
    const bool digits = has_shape(s, "ddddddddTdddddd");
    const int year = digits ? four_digits(s) : field_value<4>(s);
    const int month = digits ? two_digits(s + 4) : field_value<2>(s + 4);
    const int day = digits ? two_digits(s + 6) : field_value<2>(s + 6);
    const int hour = digits ? two_digits(s + 9) : field_value<2>(s + 9);
    const int minute = digits ? two_digits(s + 11) : field_value<2>(s + 11);
    const int second = digits ? two_digits(s + 13) : field_value<2>(s + 13);
    if (!valid_date(year, month, day) || !valid_time(hour, minute, second)) return false;
    const Py_ssize_t p = t.at(15) == '.' ? 19 : 15;
    const unsigned char c = t.at(p);
    const Py_ssize_t expected = c == 'Z' ? p + 1 : (c == '+' || c == '-') ? p + 5 : p;
    return expected == t.size;
}

// Position after the zone at `p`: a "Z", or a sign with hh:mm (any
// values), or nothing; -1 when a sign is not followed by hh:mm.
Py_ssize_t after_zone(const Utf8Text& t, Py_ssize_t p) {
    const unsigned char c = t.at(p);
    if (c == 'Z') return p + 1;
    if (c != '+' && c != '-') return p;
    return p + 6 <= t.size && has_shape(t.bytes() + p + 1, "dd:dd") ? p + 6 : -1;
}

// YYYY-MM-DDThh:mm, optionally :ss and then a point with any number of
// digits, then an optional zone.
bool extended_layout(const Utf8Text& t) {
    const unsigned char* s = t.bytes();
    if (t.size < 16 || !has_shape(s, "dddd-dd-ddTdd:dd")) return false;
    if (!valid_date(four_digits(s), two_digits(s + 5), two_digits(s + 8))) return false;
    Py_ssize_t p = 16;
    int second = 0;
    if (t.at(16) == ':') {
        if (t.size < 19 || !has_shape(s + 17, "dd")) return false;
        second = two_digits(s + 17);
        p = 19;
        if (t.at(19) == '.') {
            for (p = 20; is_digit(t.at(p));) ++p;
        }
    }
    return valid_time(two_digits(s + 11), two_digits(s + 14), second) && after_zone(t, p) == t.size;
}

// The answer for the whole UTF-8 text of the argument, before the cut at a
// NUL. Both layouts need 15 bytes or more and a "T" at 8 or at 10; a cut
// cannot create either, so most texts are ruled out before the NUL is
// looked for.
bool is_iso_t(const Utf8Text& whole) {
    if (whole.size < 15 || (whole.data[8] != 'T' && whole.data[10] != 'T')) return false;
    const Utf8Text t = reru::until_nul(whole);
    return basic_layout(t) || extended_layout(t);
}

const reru::Unary isISOT_sig{"isISOT", "date_string"};

PyObject* isISOT(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    Utf8Text whole;
    if (reru::utf8_arg(isISOT_sig, reru::Declared::str, args, nargs, kwnames, whole) == nullptr)
        return nullptr;
    return Py_NewRef(is_iso_t(whole) ? Py_True : Py_False);
}

const reru::FunctionDef isISOT_def{"isISOT", isISOT, "isISOT($module, /, date_string)\n--\n\n"};

reru::ModuleGuard guard{"joinmark"};

}  // namespace

RERU_MODULE(joinmark, guard, reru::sole_function<isISOT_def>)
