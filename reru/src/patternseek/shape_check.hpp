// The shape pre-check of the format finder: can strptime(text, fmt) succeed
// at all?
//
// datetime.strptime turns its format into a regular expression (each
// directive becomes a fixed alternation, each run of white space becomes
// \s+, everything else is a literal matched case-insensitively), matches it
// at the start of the text and fails unless the match covers the whole text.
// The check asks whether the text can be covered by the format at all: it
// computes the set of text positions where a match of the format so far can
// end, one format element at a time, and looks whether the end of the text
// is among them.
//
// The check is deliberately looser than strptime, so it rejects a candidate
// only where strptime certainly fails: the locale-dependent directives
// (names outside the C locale, zone names, %c/%x/%X) accept any run of
// characters, a non-ASCII text character matches any ASCII letter of the
// format, and a non-ASCII literal of the format matches any non-ASCII
// character or ASCII letter of the text.
//
// Position sets are bit sets (bit p of word p / 64), and each element of the
// format moves the whole set at once: a character class is an AND with the
// text's mask of that class followed by a shift, and a run of white space
// is one carry-propagating addition over the text's white-space mask. So a
// format costs a few word operations per element for texts under 64
// characters, and for longer texts time linear in the words the set spans;
// a white-space run is crossed in one pass however often it is entered.
// The masks are built from one class code per character, lazily, one word
// at a time, and only where the position set is not empty.
//
// The check reads a text through one of two views. The concrete view reads
// the text as it is. The shape view reads every ASCII digit as "some
// digit", matching any digit class, range or literal digit of the format:
// its verdict is the same for every text of one shape (same characters
// apart from the values of ASCII digits, non-ASCII characters only by
// class) and never stricter than the concrete one, so the finder can
// remember it per shape.
#pragma once

#include "reru.hpp"

#include <array>
#include <bit>
#include <clocale>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace shape_check {

// ---------------------------------------------------------------------------
// Characters

constexpr bool ascii_letter(Py_UCS4 c) { return (c | 0x20) >= 'a' && (c | 0x20) <= 'z'; }
constexpr bool ascii_digit(Py_UCS4 c) { return c - '0' < 10; }
// White space as str.isspace() and the regular expression \s see it, for ASCII.
constexpr bool ascii_space(Py_UCS4 c) {
    return (c >= 0x09 && c <= 0x0D) || (c >= 0x1C && c <= 0x20);
}

// The class code of a text character: ASCII characters stand for themselves;
// every other character counts only as a decimal digit, white space or
// anything else (the shape keeps no more of it).
enum : std::uint8_t { kForeignDigit = 128, kForeignSpace = 129, kForeignOther = 130 };
constexpr int kCodes = 131;

inline std::uint8_t class_code(Py_UCS4 c) {
    if (c < 0x80) return static_cast<std::uint8_t>(c);
    if (Py_UNICODE_ISDECIMAL(c)) return kForeignDigit;
    return Py_UNICODE_ISSPACE(c) ? kForeignSpace : kForeignOther;
}

// ---------------------------------------------------------------------------
// Predicates: what one element of a format's regular expression accepts.
//   0-127     an ASCII literal of the format (letters folded to lower case:
//             literals match case-insensitively)
//   kDigit    \d, any decimal digit
//   kSpace    \s
//   kSign     [+-]
//   kUpperZ   Z, case-sensitive (the %z directive's own)
//   kForeign  a non-ASCII literal of the format
//   kRange+10*lo+hi   the ASCII digit range [lo-hi]

enum : std::uint8_t { kDigit = 128, kSpace, kSign, kUpperZ, kForeign, kRange };
constexpr int kPredicates = kRange + 100;

constexpr std::uint8_t range(int lo, int hi) {
    return static_cast<std::uint8_t>(kRange + 10 * lo + hi);
}

constexpr std::uint8_t literal(Py_UCS4 c) {
    if (c >= 0x80) return kForeign;
    return static_cast<std::uint8_t>(ascii_letter(c) ? (c | 0x20) : c);
}

// Whether predicate p accepts class code c, in the shape view or not.
constexpr bool accepts(int p, int c, bool shape) {
    const bool digit = c < 0x80 && ascii_digit(static_cast<Py_UCS4>(c));
    if (p >= kRange) {
        const int lo = (p - kRange) / 10, hi = (p - kRange) % 10;
        return digit && (shape || (c - '0' >= lo && c - '0' <= hi));
    }
    switch (p) {
        case kDigit:
            return digit || c == kForeignDigit;
        case kSpace:
            return c == kForeignSpace || (c < 0x80 && ascii_space(static_cast<Py_UCS4>(c)));
        case kSign:
            return c == '+' || c == '-';
        case kUpperZ:
            return c == 'Z';
        case kForeign:
            return c == kForeignOther || c == kForeignDigit ||
                   (c < 0x80 && ascii_letter(static_cast<Py_UCS4>(c)));
        default:
            break;
    }
    if (ascii_digit(static_cast<Py_UCS4>(p))) return c == p || (shape && digit);
    if (ascii_letter(static_cast<Py_UCS4>(p)))
        return c == p || c == (p & ~0x20) || c == kForeignOther;
    return c == p;
}

// Membership of every class code in every predicate, for each view.
struct Membership {
    std::uint64_t bits[2][kPredicates][3];
};
constexpr Membership make_membership() {
    Membership m{};
    for (int view = 0; view < 2; ++view)
        for (int p = 0; p < kPredicates; ++p)
            for (int c = 0; c < kCodes; ++c)
                if (accepts(p, c, view == 1))
                    m.bits[view][p][c >> 6] |= std::uint64_t{1} << (c & 63);
    return m;
}
// Built when the library loads (evaluating it at compile time exceeds what
// some compilers allow a constant expression to take).
inline const Membership kMembership = make_membership();

constexpr bool excludes_space(int p) {
    for (int c = 0; c < kCodes; ++c)
        if (accepts(p, c, true) && accepts(kSpace, c, true)) return false;
    return true;
}
// Every predicate but \s and the literal space excludes white space; the
// masks of those are never needed where the position set lies inside a run
// of white space.
static_assert(!excludes_space(kSpace) && !excludes_space(' ') && excludes_space(kForeign) &&
              excludes_space('a') && excludes_space(kDigit) && excludes_space(range(0, 9)));

// ---------------------------------------------------------------------------
// The alternations of the numeric directives, in the regular-expression
// subset strptime uses for them: literal characters, [x-y] and \d.

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

constexpr const char* const* numeric_alternatives(Py_UCS4 directive) {
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
constexpr bool locale_directive(Py_UCS4 directive) {
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

constexpr const char* const* c_locale_names(Py_UCS4 directive) {
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

// The alternatives of a directive as chains of predicates, made from the
// tables above at compile time.
struct Chain {
    std::uint8_t size = 0;
    std::uint8_t preds[9] = {};
};
struct Alternation {
    Chain chains[12];
    std::uint8_t count = 0;
};

// One alternative ("3[0-1]", "[1-2]\d", " [1-9]", ...) or one name.
constexpr Chain chain_of(const char* alt) {
    Chain chain;
    while (*alt) {
        if (alt[0] == '\\') {  // \d
            chain.preds[chain.size++] = kDigit;
            alt += 2;
        } else if (alt[0] == '[') {  // [x-y]
            chain.preds[chain.size++] = range(alt[1] - '0', alt[3] - '0');
            alt += 5;
        } else {
            chain.preds[chain.size++] = literal(static_cast<unsigned char>(*alt));
            ++alt;
        }
    }
    return chain;
}

struct Alternations {
    Alternation numeric[128];  // by directive
    Alternation names[128];    // in the C locale, by directive
};
constexpr Alternations make_alternations() {
    Alternations out{};
    for (Py_UCS4 d = 0; d < 128; ++d) {
        if (const char* const* alts = numeric_alternatives(d))
            for (; *alts; ++alts) out.numeric[d].chains[out.numeric[d].count++] = chain_of(*alts);
        if (const char* const* names = c_locale_names(d))
            for (; *names; ++names) out.names[d].chains[out.names[d].count++] = chain_of(*names);
    }
    return out;
}
inline constexpr Alternations kAlternations = make_alternations();

// The alternation of a directive: its numeric alternatives, or its names in
// the C locale; NULL for the others.
inline const Alternation* alternation(Py_UCS4 directive, bool c_locale) {
    if (directive >= 128) return nullptr;
    if (kAlternations.numeric[directive].count) return &kAlternations.numeric[directive];
    if (c_locale && kAlternations.names[directive].count) return &kAlternations.names[directive];
    return nullptr;
}

// Whether LC_TIME is the C (or POSIX) locale, where the name directives
// accept the names above only.
inline bool time_locale_is_c() {
    const char* current = std::setlocale(LC_TIME, nullptr);
    return current != nullptr &&
           (std::strcmp(current, "C") == 0 || std::strcmp(current, "POSIX") == 0);
}

// ---------------------------------------------------------------------------
// Position sets

using Word = std::uint64_t;

// Bit p of words[p / 64] is position p; only words lo..hi may be non-zero.
struct Bits {
    Word* words;
    Py_ssize_t lo, hi;  // lo > hi: empty

    bool empty() const {
        for (Py_ssize_t k = lo; k <= hi; ++k)
            if (words[k]) return false;
        return true;
    }
    bool has(Py_ssize_t pos) const {
        const Py_ssize_t k = pos >> 6;
        return k >= lo && k <= hi && (words[k] >> (pos & 63)) & 1;
    }
    Py_ssize_t first() const {
        for (Py_ssize_t k = lo; k <= hi; ++k)
            if (words[k]) return k * 64 + std::countr_zero(words[k]);
        return -1;
    }
    bool operator==(const Bits& other) const {
        const Py_ssize_t from = lo < other.lo ? lo : other.lo, to = hi > other.hi ? hi : other.hi;
        for (Py_ssize_t k = from; k <= to; ++k)
            if (word(k) != other.word(k)) return false;
        return true;
    }
    Word word(Py_ssize_t k) const { return k >= lo && k <= hi ? words[k] : 0; }
};

// ---------------------------------------------------------------------------
// A text as the check reads it: a class code per character, the white-space
// mask, and the masks of the predicates, each word built when first needed.
// Texts under 64 characters live in the object itself; longer ones on the
// heap, and when an allocation fails the text is not ok() and every check
// on it answers "may parse" (a check can only get looser, never wrong).

class Text {
public:
    // Working position sets a computation may use at once.
    static constexpr int kScratch = 12;

    // `min_words`: at least this many words per set (the tests use it to
    // run short texts through the code of long ones).
    Text(PyObject* s, bool shape, Py_ssize_t min_words = 1)
        : n_(PyUnicode_GET_LENGTH(s)),
          words_(n_ / 64 + 1 > min_words ? n_ / 64 + 1 : min_words),
          shape_(shape) {
        if (words_ == 1) {
            codes_ = local_codes_;
            space_ = &local_space_;
            scratch_ = local_scratch_;
        } else {
            heap_ = static_cast<unsigned char*>(PyMem_Malloc(heap_size()));
            if (heap_ == nullptr) return;
            codes_ = heap_;
            space_ = reinterpret_cast<Word*>(heap_ + align(n_));
            scratch_ = space_ + words_;
            for (Word& b : heap_made_) b = 0;
        }
        const int kind = PyUnicode_KIND(s);
        const void* data = PyUnicode_DATA(s);
        for (Py_ssize_t k = 0; k < words_; ++k) space_[k] = 0;
        for (Py_ssize_t i = 0; i < n_; ++i) {
            const std::uint8_t c = class_code(PyUnicode_READ(kind, data, i));
            codes_[i] = c;
            if (kMembership.bits[0][kSpace][c >> 6] >> (c & 63) & 1)
                space_[i >> 6] |= Word{1} << (i & 63);
        }
        ok_ = true;
    }
    Text(const Text&) = delete;
    Text& operator=(const Text&) = delete;
    ~Text() {
        if (heap_ == nullptr) return;
        for (int i = 0; i < made_count_; ++i) PyMem_Free(heap_masks_[made_[i]]);
        PyMem_Free(heap_);
    }

    bool ok() const { return ok_; }
    Py_ssize_t size() const { return n_; }
    Py_ssize_t words() const { return words_; }
    Word space(Py_ssize_t k) const { return space_[k]; }
    // Words visited so far by the steps over this text (its cost, for tests).
    std::size_t work() const { return work_; }
    void visited(Py_ssize_t words) { work_ += static_cast<std::size_t>(words); }
    // Format elements walked through element_of() (for tests).
    std::size_t elements() const { return elements_; }
    void walked() { ++elements_; }

    // Word k of the mask of predicate p (bit i: character 64k + i matches).
    // Built on first use; the check for that is all that stays inline.
    Word mask(int p, Py_ssize_t k) {
        if (words_ == 1) {
            if (local_built_[p >> 6] >> (p & 63) & 1) return local_masks_[p];
            return build_local(p);
        }
        const Word* m = heap_masks_[p];
        if (heap_made_[p >> 6] >> (p & 63) & 1 && m[words_ + (k >> 6)] >> (k & 63) & 1) return m[k];
        return build_heap(p, k);
    }

    // Scratch set i (0 <= i < kScratch), empty.
    Bits scratch(int i) { return {scratch_ + static_cast<Py_ssize_t>(i) * words_, 0, -1}; }

private:
    [[gnu::noinline]] Word build_local(int p) {
        local_built_[p >> 6] |= Word{1} << (p & 63);
        return local_masks_[p] = build(p, 0);
    }
    [[gnu::noinline]] Word build_heap(int p, Py_ssize_t k) {
        Word*& m = heap_masks_[p];
        if (!(heap_made_[p >> 6] >> (p & 63) & 1)) {
            m = static_cast<Word*>(
                PyMem_Calloc(static_cast<std::size_t>(words_ + words_ / 64 + 1), sizeof(Word)));
            if (m == nullptr) {  // looser from here on, and not ok()
                ok_ = false;
                return ~Word{0};
            }
            heap_made_[p >> 6] |= Word{1} << (p & 63);
            made_[made_count_++] = static_cast<std::uint8_t>(p);
        }
        m[words_ + (k >> 6)] |= Word{1} << (k & 63);
        return m[k] = build(p, k);
    }
    static Py_ssize_t align(Py_ssize_t bytes) { return (bytes + 7) & ~Py_ssize_t{7}; }
    std::size_t heap_size() const {
        return static_cast<std::size_t>(align(n_)) +
               static_cast<std::size_t>(words_ * (1 + kScratch)) * sizeof(Word);
    }
    Word build(int p, Py_ssize_t k) const {
        const std::uint64_t* member = kMembership.bits[shape_ ? 1 : 0][p];
        Word w = 0;
        const Py_ssize_t end = (k + 1) * 64 < n_ ? (k + 1) * 64 : n_;
        for (Py_ssize_t i = k * 64; i < end; ++i) {
            const std::uint8_t c = codes_[i];
            w |= (member[c >> 6] >> (c & 63) & 1) << (i & 63);
        }
        return w;
    }

    Py_ssize_t n_, words_;
    std::size_t work_ = 0, elements_ = 0;
    bool shape_, ok_ = false;
    unsigned char* heap_ = nullptr;
    unsigned char* codes_ = nullptr;
    Word* space_ = nullptr;
    Word* scratch_ = nullptr;
    unsigned char local_codes_[64];
    Word local_space_;
    Word local_scratch_[kScratch];
    Word local_built_[(kPredicates + 63) / 64] = {};
    Word local_masks_[kPredicates];
    // The masks of longer texts, each allocated when first needed.
    Word* heap_masks_[kPredicates];
    Word heap_made_[(kPredicates + 63) / 64];
    std::uint8_t made_[kPredicates];
    int made_count_ = 0;
};

// ---------------------------------------------------------------------------
// Steps over position sets

// out = (in & mask(p)) << 1: every position after a character of class p
// that starts at a position of `in`. `out` may be `in`.
inline void step(Text& t, const Bits& in, int p, Bits& out) {
    const Py_ssize_t lo = in.lo, hi = in.hi;
    const bool no_space = p != kSpace && p != ' ';
    Word carry = 0;
    Py_ssize_t first = -1, last = -1;
    for (Py_ssize_t k = lo; k <= hi; ++k) {
        Word v = in.words[k];
        if (no_space) v &= ~t.space(k);
        if (v) v &= t.mask(p, k);
        const Word shifted = v << 1 | carry;
        carry = v >> 63;
        out.words[k] = shifted;
        if (shifted) {
            if (first < 0) first = k;
            last = k;
        }
    }
    t.visited(hi - lo + 1);
    if (carry && hi + 1 < t.words()) {
        out.words[hi + 1] = carry;
        if (first < 0) first = hi + 1;
        last = hi + 1;
    }
    out.lo = first < 0 ? 0 : first;
    out.hi = last;
}

// into |= from.
inline void merge(Bits& into, const Bits& from) {
    if (from.lo > from.hi) return;
    if (into.lo > into.hi) {
        for (Py_ssize_t k = from.lo; k <= from.hi; ++k) into.words[k] = from.words[k];
        into.lo = from.lo;
        into.hi = from.hi;
        return;
    }
    for (Py_ssize_t k = from.lo; k < into.lo; ++k) into.words[k] = 0;
    for (Py_ssize_t k = into.hi + 1; k <= from.hi; ++k) into.words[k] = 0;
    if (from.lo < into.lo) into.lo = from.lo;
    if (from.hi > into.hi) into.hi = from.hi;
    for (Py_ssize_t k = from.lo; k <= from.hi; ++k) into.words[k] |= from.words[k];
}

inline void copy(Bits& into, const Bits& from) {
    into.lo = from.lo;
    into.hi = from.hi;
    for (Py_ssize_t k = from.lo; k <= from.hi; ++k) into.words[k] = from.words[k];
}

// \s+: the positions after a run of white space that starts at a position
// of `in`. For each run of white space holding positions of `in`, adding
// those positions to the run's bits carries from the first of them out of
// the run, so (S + X) ^ S | X covers that position up to the run's end.
//
// Of the positions inside a run only its last character can start what
// follows: a run of white space in a format is followed by an element that
// is not white space, and every such element begins with a character that
// is no white space, except the alternative " [1-9]" of %d, whose space
// must be followed by a digit, and the directives that take any run of
// characters, for which the run's last character starts as early as any
// other that matters. So the set keeps, of each run, the position of its
// last character and the one after it: what follows is then walked from
// there, not over the run again.
inline void space_run(Text& t, const Bits& in, Bits& out) {
    Word carry = 0, shift_in = 0;
    Py_ssize_t first = -1, last = -1;
    Py_ssize_t k = in.lo;
    for (; k < t.words() && (k <= in.hi || carry || shift_in); ++k) {
        const Word s = t.space(k);
        const Word x = (k <= in.hi ? in.words[k] : 0) & s;
        const Word sum = s + x + carry;
        carry = (sum < s || (sum == s && (x | carry))) ? 1 : 0;
        const Word covered = ((sum ^ s) | x) & s;
        const Word next_space = k + 1 < t.words() ? t.space(k + 1) << 63 : 0;
        const Word run_end = ~s | (s & ~(s >> 1 | next_space));
        const Word shifted = (covered << 1 | shift_in) & run_end;
        shift_in = covered >> 63;
        out.words[k] = shifted;
        if (shifted) {
            if (first < 0) first = k;
            last = k;
        }
    }
    t.visited(k - in.lo);
    out.lo = first < 0 ? 0 : first;
    out.hi = last;
}

// Every position from the first of `in` to the end of the text.
inline void any_run(Text& t, const Bits& in, Bits& out) {
    const Py_ssize_t from = in.first();
    if (from < 0) {
        out.lo = 0;
        out.hi = -1;
        return;
    }
    const Py_ssize_t n = t.size(), fk = from >> 6, lk = n >> 6;
    for (Py_ssize_t k = fk; k <= lk; ++k) {
        Word m = ~Word{0};
        if (k == fk) m &= ~Word{0} << (from & 63);
        if (k == lk) m &= ~Word{0} >> (63 - (n & 63));
        out.words[k] = m;
    }
    t.visited(lk - fk + 1);
    out.lo = fk;
    out.hi = lk;
}

// Every chain of an alternation from `in`, their ends into `out`; `a` and
// `b` are working sets.
inline void alternation_step(Text& t, const Bits& in, const Alternation& alt, Bits& out, Bits& a,
                             Bits& b) {
    out.lo = 0;
    out.hi = -1;
    for (int c = 0; c < alt.count; ++c) {
        const Chain& chain = alt.chains[c];
        Bits *x = &a, *y = &b;
        step(t, in, chain.preds[0], *x);
        for (int i = 1; i < chain.size && !x->empty(); ++i) {
            step(t, *x, chain.preds[i], *y);
            std::swap(x, y);
        }
        merge(out, *x);
    }
}

// %z: [+-]\d\d:?[0-5]\d(:?[0-5]\d(\.\d{1,6})?)? or a case-sensitive Z.
inline void offset_step(Text& t, const Bits& in, Bits& out, Bits* w) {
    Bits &a = w[0], &b = w[1], &minutes = w[2], &seconds = w[3];
    out.lo = 0;
    out.hi = -1;
    step(t, in, kUpperZ, a);
    merge(out, a);
    step(t, in, kSign, a);
    step(t, a, kDigit, b);
    step(t, b, kDigit, a);
    // :?[0-5]\d from the positions in `from`, into `into`
    auto colon_pair = [&](const Bits& from, Bits& into) {
        step(t, from, ':', b);
        merge(b, from);
        step(t, b, range(0, 5), into);
        step(t, into, kDigit, into);
    };
    colon_pair(a, minutes);
    merge(out, minutes);
    colon_pair(minutes, seconds);
    merge(out, seconds);
    step(t, seconds, '.', a);
    for (int i = 0; i < 6 && !a.empty(); ++i) {
        step(t, a, kDigit, a);
        merge(out, a);
    }
}

// The characters of a format (a str, or ASCII bytes).
struct FormatText : reru::Chars {
    using reru::Chars::Chars;
    explicit FormatText(std::string_view s)
        : reru::Chars(s.data(), static_cast<Py_ssize_t>(s.size())) {}
};

// One directive from `in` into `out`. False for a directive strptime does
// not know (it raises ValueError).
inline bool directive_step(Text& t, Py_UCS4 directive, bool c_locale, const Bits& in, Bits& out,
                           Bits* w) {
    if (const Alternation* alt = alternation(directive, c_locale)) {
        alternation_step(t, in, *alt, out, w[0], w[1]);
    } else if (locale_directive(directive)) {
        any_run(t, in, out);
    } else if (directive == 'z') {
        offset_step(t, in, out, w);
    } else {
        return false;
    }
    return true;
}

// One element of the format, the one at fmt[i] (a directive, a run of white
// space or one character), from the positions in `in` into `out`; the
// working sets `w` are used on the way. Returns the index after the
// element, or -1 when the format is bad (a stray % or an unknown directive).
inline Py_ssize_t element(Text& t, FormatText fmt, Py_ssize_t i, bool c_locale, const Bits& in,
                          Bits& out, Bits* w) {
    const Py_UCS4 c = fmt[i];
    if (c == '%') {
        if (i + 1 >= fmt.n) return -1;  // stray %
        return directive_step(t, fmt[i + 1], c_locale, in, out, w) ? i + 2 : -1;
    }
    if (Py_UNICODE_ISSPACE(c)) {
        while (i < fmt.n && Py_UNICODE_ISSPACE(fmt[i])) ++i;
        space_run(t, in, out);
        return i;
    }
    step(t, in, literal(c), out);
    return i + 1;
}

// Moves the position set in `*reach` over the format; `*spare` and the
// working sets are used on the way. On return *reach holds the positions
// where a match of the format can end. False when the format is bad.
inline bool advance(Text& t, FormatText fmt, bool c_locale, Bits*& reach, Bits*& spare, Bits* w) {
    for (Py_ssize_t i = 0; i < fmt.n && !reach->empty();) {
        if ((i = element(t, fmt, i, c_locale, *reach, *spare, w)) < 0) return false;
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

// ---------------------------------------------------------------------------
// The same steps for a text under 64 characters, where a position set is one
// word and every step a few operations on it. The tests hold the two to the
// same verdicts on every input (Text's min_words runs short texts through
// sets of several words).

inline Word step_word(Text& t, Word in, int p) { return in ? (in & t.mask(p, 0)) << 1 : 0; }

inline Word alternation_word(Text& t, Word in, const Alternation& alt) {
    Word out = 0;
    for (int c = 0; c < alt.count; ++c) {
        const Chain& chain = alt.chains[c];
        Word x = in;
        for (int i = 0; i < chain.size && x; ++i) x = (x & t.mask(chain.preds[i], 0)) << 1;
        out |= x;
    }
    return out;
}

// \s+, as space_run: the bits of the text's characters stay below bit 63,
// so the addition cannot carry out of the word.
inline Word space_word(Text& t, Word in) {
    const Word s = t.space(0), x = in & s;
    const Word covered = (((s + x) ^ s) | x) & s;
    return (covered << 1) & (~s | (s & ~(s >> 1)));
}

inline Word any_word(Text& t, Word in) {
    if (!in) return 0;
    return (~Word{0} << std::countr_zero(in)) & (~Word{0} >> (63 - t.size()));
}

inline Word offset_word(Text& t, Word in) {
    Word out = step_word(t, in, kUpperZ);
    Word a = step_word(t, step_word(t, step_word(t, in, kSign), kDigit), kDigit);
    auto colon_pair = [&t](Word from) {  // :?[0-5]\d
        const Word b = from | step_word(t, from, ':');
        return step_word(t, step_word(t, b, range(0, 5)), kDigit);
    };
    const Word minutes = colon_pair(a), seconds = colon_pair(minutes);
    out |= minutes | seconds;
    a = step_word(t, seconds, '.');
    for (int i = 0; i < 6 && a; ++i) {
        a = step_word(t, a, kDigit);
        out |= a;
    }
    return out;
}

// element() for one word.
[[gnu::always_inline]] inline Py_ssize_t element_word(Text& t, FormatText fmt, Py_ssize_t i,
                                                      bool c_locale, Word& reach) {
    const Py_UCS4 c = fmt[i];
    if (c == '%') {
        if (i + 1 >= fmt.n) return -1;  // stray %
        const Py_UCS4 directive = fmt[i + 1];
        if (const Alternation* alt = alternation(directive, c_locale))
            reach = alternation_word(t, reach, *alt);
        else if (locale_directive(directive))
            reach = any_word(t, reach);
        else if (directive == 'z')
            reach = offset_word(t, reach);
        else
            return -1;
        return i + 2;
    }
    if (Py_UNICODE_ISSPACE(c)) {
        while (i < fmt.n && Py_UNICODE_ISSPACE(fmt[i])) ++i;
        reach = space_word(t, reach);
        return i;
    }
    reach = step_word(t, reach, literal(c));
    return i + 1;
}

// advance() for one word: false when the format is bad.
inline bool advance_word(Text& t, FormatText fmt, bool c_locale, Word& reach) {
    for (Py_ssize_t i = 0; i < fmt.n && reach;)
        if ((i = element_word(t, fmt, i, c_locale, reach)) < 0) return false;
    return true;
}

// The working sets of one check: the reach, its spare, and those of the
// steps. Sets 0..1 are the reach; 2..kScratch-1 go to the steps.
struct Work {
    explicit Work(Text& t) : a(t.scratch(0)), b(t.scratch(1)) {
        for (int i = 0; i < Text::kScratch - 2; ++i) w[i] = t.scratch(i + 2);
    }
    Bits a, b;
    Bits w[Text::kScratch - 2];
};

// The positions where a match of `fmt` starting at a position of `from`
// can end, into `out` (a set of the caller's); false when the format is bad.
inline bool ends_after(Text& t, FormatText fmt, bool c_locale, const Bits& from, Bits& out) {
    if (t.words() == 1) {
        Word reach = from.word(0);
        const bool good = advance_word(t, fmt, c_locale, reach);
        out.words[0] = good ? reach : 0;
        out.lo = 0;
        out.hi = good && reach ? 0 : -1;
        return good;
    }
    Work work(t);
    Bits *reach = &work.a, *spare = &work.b;
    copy(*reach, from);
    if (!advance(t, fmt, c_locale, reach, spare, work.w)) {
        out.lo = 0;
        out.hi = -1;
        return false;
    }
    copy(out, *reach);
    return true;
}

// element() for a text of any size; `w` are the working sets of a Work.
inline Py_ssize_t element_of(Text& t, FormatText fmt, Py_ssize_t i, bool c_locale, const Bits& in,
                             Bits& out, Bits* w) {
    t.walked();
    if (t.words() > 1) return element(t, fmt, i, c_locale, in, out, w);
    Word reach = in.word(0);
    i = element_word(t, fmt, i, c_locale, reach);
    out.words[0] = reach;
    out.lo = 0;
    out.hi = reach ? 0 : -1;
    return i;
}

// False when strptime(text, fmt) certainly fails with ValueError, for a
// format that names no group twice.
inline bool may_cover(Text& t, FormatText fmt, bool c_locale) {
    if (!t.ok()) return true;
    if (t.words() == 1) {
        Word reach = 1;
        return advance_word(t, fmt, c_locale, reach) && (reach >> t.size() & 1);
    }
    Work work(t);
    Bits *reach = &work.a, *spare = &work.b;
    reach->words[0] = 1;
    reach->lo = reach->hi = 0;
    const bool good = advance(t, fmt, c_locale, reach, spare, work.w);
    return !t.ok() || (good && reach->has(t.size()));
}

// False when strptime(text, fmt) certainly fails with ValueError.
inline bool may_parse(Text& t, FormatText fmt, bool c_locale) {
    return repeats_a_group(fmt) || may_cover(t, fmt, c_locale);
}

}  // namespace shape_check
