// Module roundtrip: does a format keep what a date text says?
//
// keeps_text(text, fmt) parses the text as datetime.datetime.strptime does,
// formats the value back directive by directive and compares each field
// with the part of the text it was read from. A field keeps the text when
// the two differ at most in what formatting cannot reproduce and what does
// not change the value:
//   * numbers (%d %m %y %Y %H %I %M %S %j %U %W %w %u, and %G %V where
//     strptime takes them): the zero-padded rendering ("05") or the
//     non-padded one ("5", what "%-d" writes); a day also written after a
//     space (" 5", what "%e" writes, which strptime's %d reads); digits of
//     any script, by their decimal value (strptime reads them so);
//   * %f: the six digits less trailing zeros ("25" is 250000 microseconds);
//   * names (%a %A %b %B %p): any letter case;
//   * %z: any of strptime's ways of writing the same offset ("+05:30",
//     "+0530", "+05:30:00", and "Z" or "-00:00" for UTC);
//   * literal text and white space: strptime matched them, ignoring case,
//     and a white-space run of the format matched any run of white space;
//     they carry no value, so they always keep the text.
// Anything else that differs changes the value: '10:30 PM' read with
// '%H:%M %p' is 10:30 (strptime ignores %p beside %H), which formats back
// as '10:30 AM'; '2023-05' read with '%Y-%j' is January 5th, whose %j is
// '005' or '5', not '05'; a weekday name that is not the date's weekday;
// a zone name (%Z) without a numeric offset, which strptime drops (the
// value is naive, and %Z formats it as nothing).
//
// The check is native wherever the strptime decision (accept.hpp) is
// exact; there its parsed fields are rendered here. Elsewhere (another
// time locale, directives it does not implement) the real strptime parses
// the text, its own expression gives each directive's span and the value's
// strftime renders each directive; the comparison is the same code.
//
// _tally(values, finder_class) is the loop under chronvale.survey: the
// finder's answers for a sample of values, and for each answer how many
// values it parses and keeps.
#include "patternseek/accept.hpp"
#include "reru.hpp"

#include <datetime.h>

#include <cstdint>
#include <span>

namespace {

using reru::Ref;

reru::ModuleGuard guard{"roundtrip"};

reru::Name n_strptime{"strptime"};
reru::Name n_strftime{"strftime"};
reru::Name n_timere_cache{"_TimeRE_cache"};
reru::Name n_compile{"compile"};
reru::Name n_match{"match"};
reru::Name n_span{"span"};
reru::Name n_groupindex{"groupindex"};
reru::Name n_search{"search"};
reru::Name n_reduce{"__reduce__"};

// ---------------------------------------------------------------------------
// The rule: one directive's field of the text against the value's rendering.

// Characters [start, end) of a str, or of an ASCII C string.
struct View {
    int kind;
    const void* data;
    Py_ssize_t start, end;

    Py_ssize_t size() const { return end - start; }
    Py_UCS4 operator[](Py_ssize_t i) const { return PyUnicode_READ(kind, data, start + i); }
};

View view(PyObject* s, Py_ssize_t start, Py_ssize_t end) {
    return {PyUnicode_KIND(s), PyUnicode_DATA(s), start, end};
}
View view(PyObject* s) { return view(s, 0, PyUnicode_GET_LENGTH(s)); }
View view(const char* ascii) {
    return {PyUnicode_1BYTE_KIND, ascii, 0, static_cast<Py_ssize_t>(std::strlen(ascii))};
}

// What formatting the value writes for one directive.
struct Rendering {
    enum class Kind : unsigned char { number, text, offset, any } kind = Kind::any;
    long number = 0;
    View text{};
    std::int64_t offset_us = 0;
};

Rendering number(long v) { return {Rendering::Kind::number, v, {}, 0}; }
Rendering text(View v) { return {Rendering::Kind::text, 0, v, 0}; }
Rendering offset(std::int64_t us) { return {Rendering::Kind::offset, 0, {}, us}; }

// The zero-padded width of a numeric directive; 0 for any other.
constexpr int width(Py_UCS4 d) {
    switch (d) {
        case 'd':
        case 'm':
        case 'y':
        case 'H':
        case 'I':
        case 'M':
        case 'S':
        case 'U':
        case 'W':
        case 'V':
            return 2;
        case 'j':
            return 3;
        case 'Y':
        case 'G':
            return 4;
        case 'f':
            return 6;
        case 'w':
        case 'u':
            return 1;
        default:
            return 0;
    }
}

// The value of `count` digits (of any script) at `i`, or -1 when one of
// the characters is no digit.
long digits_value(const View& t, Py_ssize_t i, Py_ssize_t count) {
    long v = 0;
    for (Py_ssize_t k = i; k < i + count; ++k) {
        const int digit = Py_UNICODE_TODECIMAL(t[k]);
        if (digit < 0) return -1;
        v = v * 10 + digit;
    }
    return v;
}

// A field that strptime's expression matched for a numeric directive (one
// to six digits) against the number `v`.
bool same_number(Py_UCS4 d, const View& t, long v) {
    Py_ssize_t first = 0;
    // strptime's %d also reads a day written after a space, as %e writes it.
    if (d == 'd' && t.size() == 2 && t[0] == ' ') first = 1;
    const Py_ssize_t digits = t.size() - first;
    long value = digits_value(t, first, digits);
    if (d == 'f') {
        // The fraction's trailing zeros may be left out: strptime fills them in.
        for (Py_ssize_t k = digits; k < 6; ++k) value *= 10;
        return value == v;
    }
    // Padded to the directive's width, or without leading zeros.
    return value == v && (digits == width(d) || digits == 1 || Py_UNICODE_TODECIMAL(t[first]) != 0);
}

// Names compare without regard to letter case.
bool same_text(const View& t, const View& r) {
    if (t.size() != r.size()) return false;
    for (Py_ssize_t i = 0; i < t.size(); ++i)
        if (Py_UNICODE_TOLOWER(t[i]) != Py_UNICODE_TOLOWER(r[i])) return false;
    return true;
}

// The offset of a field in microseconds, as strptime's %z reads it ("Z",
// or a sign, hours, minutes, optionally seconds and a fraction, with or
// without colons) and strftime's writes it; false for the nothing strftime
// writes for a naive value.
bool offset_of(const View& t, std::int64_t& us) {
    us = 0;
    if (t.size() == 0) return false;
    if (t[0] == 'Z') return true;
    Py_ssize_t i = 1;
    std::int64_t seconds = 0;
    int pairs = 0;  // of hours, minutes and seconds
    while (i < t.size() && t[i] != '.') {
        if (t[i] == ':') ++i;
        seconds = seconds * 60 + digits_value(t, i, 2);
        i += 2;
        ++pairs;
    }
    for (; pairs < 3; ++pairs) seconds *= 60;
    // The fraction's digits after the ".", if any (none: -1 digits, value 0).
    const Py_ssize_t digits = t.size() - i - 1;
    std::int64_t fraction = digits_value(t, i + 1, digits);
    for (Py_ssize_t k = digits; k < 6; ++k) fraction *= 10;
    us = seconds * 1000000 + fraction;
    if (t[0] == '-') us = -us;
    return true;
}

bool field_keeps(Py_UCS4 d, const View& t, const Rendering& r) {
    switch (r.kind) {
        case Rendering::Kind::number:
            return same_number(d, t, r.number);
        case Rendering::Kind::text:
            return same_text(t, r.text);
        case Rendering::Kind::offset: {
            std::int64_t us = 0;
            return offset_of(t, us) && us == r.offset_us;
        }
        case Rendering::Kind::any:
            break;
    }
    return true;
}

// ---------------------------------------------------------------------------
// The native path: the decision's fields, rendered here.

enum class Outcome { error, refused, lossy, kept, unknown };

int day_of_year(const accept::Parsed& p) {
    int yday = p.day;
    for (int m = 1; m < p.month; ++m) yday += accept::detail::days_in_month(p.year, m);
    return yday;
}

Rendering render(char d, const accept::Parsed& p, const View& field) {
    namespace ad = accept::detail;
    const int yday = day_of_year(p);
    const int monday0 = ad::weekday(ad::first_of_year(p.year) + yday - 1);
    const int sunday0 = (monday0 + 1) % 7;
    switch (d) {
        case 'd':
            return number(p.day);
        case 'm':
            return number(p.month);
        case 'y':
            return number(p.year % 100);
        case 'Y':
            return number(p.year);
        case 'H':
            return number(p.hour);
        case 'I':
            return number(p.hour % 12 == 0 ? 12 : p.hour % 12);
        case 'M':
            return number(p.minute);
        case 'S':
            return number(p.second);
        case 'f':
            return number(p.microsecond);
        case 'j':
            return number(yday);
        case 'U':
            return number((yday - 1 + 7 - sunday0) / 7);
        case 'W':
            return number((yday - 1 + 7 - monday0) / 7);
        case 'w':
            return number(sunday0);
        case 'u':
            return number(monday0 + 1);
        case 'a':
            return text(view(ad::kDays[monday0]));
        case 'A':
            return text(view(ad::kFullDays[monday0]));
        case 'b':
            return text(view(ad::kMonths[p.month - 1]));
        case 'B':
            return text(view(ad::kFullMonths[p.month - 1]));
        case 'p':
            return text(view(p.hour < 12 ? "am" : "pm"));
        case 'z':
            return offset(p.offset_us);
        case 'Z':
            // With an offset strptime keeps the name as the zone's name, which
            // %Z writes back as it was; without one the value is naive.
            return text(p.has_offset ? field : view(""));
        default:  // %%
            return {};
    }
}

Outcome decided(const accept::Program& prog, PyObject* s, const accept::Facts& facts) {
    accept::Parsed p;
    switch (accept::decide(prog, s, facts, &p)) {
        case accept::Verdict::unknown:
            return Outcome::unknown;
        case accept::Verdict::refused:
            return Outcome::refused;
        case accept::Verdict::accepted:
            break;
    }
    for (const accept::Span& span : std::span(p.spans, static_cast<std::size_t>(p.count))) {
        const View field = view(s, span.start, span.end);
        if (!field_keeps(static_cast<unsigned char>(span.directive), field,
                         render(span.directive, p, field)))
            return Outcome::lossy;
    }
    return Outcome::kept;
}

// ---------------------------------------------------------------------------
// The other path: the real strptime, its expression's spans, strftime.

Ref strptime(PyObject* s, PyObject* fmt) {
    PyObject* args[] = {reinterpret_cast<PyObject*>(PyDateTimeAPI->DateTimeType), s, fmt};
    return Ref::steal(PyObject_VectorcallMethod(n_strptime.get(), args,
                                                3 | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr));
}

Ref call_method(PyObject* self, const reru::Name& name, PyObject* arg) {
    PyObject* args[] = {self, arg};
    return Ref::steal(
        PyObject_VectorcallMethod(name.get(), args, 2 | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr));
}

// How strftime's text for the directive `d` is compared: numbers by value,
// offsets by value, the rest as text.
Rendering rendered(Py_UCS4 d, PyObject* written) {
    const View w = view(written);
    std::int64_t us = 0;
    if (d == 'z' && offset_of(w, us)) return offset(us);
    if (width(d) == 0) return text(w);
    return number(digits_value(w, 0, w.size()));  // -1, no field's value, when not digits
}

// The expression strptime matched the text with: its own cache compiles
// the format (re's cache keeps the result).
Ref expression(PyObject* fmt) {
    Ref module = Ref::steal(PyImport_ImportModule("_strptime"));
    if (!module) return module;
    Ref cache = reru::attr(module.get(), n_timere_cache);
    if (!cache) return cache;
    return call_method(cache.get(), n_compile, fmt);
}

// Each named group of the match is a directive; compares its span with the
// value's strftime of it.
Outcome fields_keep(PyObject* s, PyObject* value, PyObject* regex, PyObject* match) {
    Ref groups = reru::attr(regex, n_groupindex);
    Ref items = Ref::steal(groups ? PyMapping_Items(groups.get()) : nullptr);
    if (!items) return Outcome::error;
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(items.get()); ++i) {
        PyObject* item = PyList_GET_ITEM(items.get(), i);
        PyObject* name = PyTuple_GET_ITEM(item, 0);
        Ref span = call_method(match, n_span, PyTuple_GET_ITEM(item, 1));
        if (!span) return Outcome::error;
        const Py_ssize_t a = PyLong_AsSsize_t(PyTuple_GET_ITEM(span.get(), 0));
        const Py_ssize_t b = PyLong_AsSsize_t(PyTuple_GET_ITEM(span.get(), 1));
        if (PyErr_Occurred()) return Outcome::error;
        if (a < 0) continue;  // a group that took no part in the match
        Ref directive = Ref::steal(PyUnicode_FromFormat("%%%U", name));
        Ref written = directive ? call_method(value, n_strftime, directive.get()) : Ref();
        if (!written) return Outcome::error;
        if (!PyUnicode_Check(written.get())) {
            PyErr_Format(PyExc_TypeError, "Expected %.42s, got %.200s", "str",
                         Py_TYPE(written.get())->tp_name);
            return Outcome::error;
        }
        // (each group is named by its directive's letter)
        const Py_UCS4 d = PyUnicode_GET_LENGTH(name) == 1 ? PyUnicode_READ_CHAR(name, 0) : 0;
        if (!field_keeps(d, view(s, a, b), rendered(d, written.get()))) return Outcome::lossy;
    }
    return Outcome::kept;
}

// `refusal`: what a ValueError of strptime gives. Outcome::error leaves
// strptime's ValueError set (keeps_text raises it); Outcome::refused drops
// it (the tally counts it).
Outcome by_strptime(PyObject* s, PyObject* fmt, Outcome refusal) {
    Ref value = strptime(s, fmt);
    if (!value) {
        if (refusal == Outcome::error || !PyErr_ExceptionMatches(PyExc_ValueError))
            return Outcome::error;
        PyErr_Clear();
        return Outcome::refused;
    }
    Ref regex = expression(fmt);
    Ref match = regex ? call_method(regex.get(), n_match, s) : Ref();
    if (!match) return Outcome::error;
    if (!PyDateTime_Check(value.get())) {
        PyErr_Format(PyExc_TypeError, "Cannot convert %.200s to %.200s",
                     Py_TYPE(value.get())->tp_name, PyDateTimeAPI->DateTimeType->tp_name);
        return Outcome::error;
    }
    // (the genuine strptime matched this very expression; a replacement of
    // it that accepts what the expression does not match cannot be judged,
    // and its value counts as not keeping the text)
    if (match.get() == Py_None) return Outcome::lossy;
    return fields_keep(s, value.get(), regex.get(), match.get());
}

// The whole check of one text; Outcome::error with an exception set.
Outcome check(PyObject* s, PyObject* fmt, Outcome refusal) {
    accept::Facts facts;
    const accept::Reading reading = accept::read_facts(facts);
    if (reading == accept::Reading::error) return Outcome::error;
    accept::Program prog;
    // (a format that is no exact str goes to strptime as it is: its methods
    // may run Python code there)
    if (reading == accept::Reading::usable && PyUnicode_CheckExact(fmt) &&
        accept::compile(fmt, prog)) {
        const Outcome o = decided(prog, s, facts);
        if (o != Outcome::unknown && (o != Outcome::refused || refusal == Outcome::refused))
            return o;
    }
    return by_strptime(s, fmt, refusal);
}

PyObject* keeps_text(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static const char* const params[] = {"text", "fmt"};
    static const reru::Signature sig{"keeps_text", params, 2, 2};
    PyObject* argv[2];
    if (!reru::parse(sig, args, nargs, kwnames, argv) ||
        !reru::check_str_arg(argv[0], "text", reru::NoneOk::no) ||
        !reru::check_str_arg(argv[1], "fmt", reru::NoneOk::no))
        return nullptr;
    switch (check(argv[0], argv[1], Outcome::error)) {
        case Outcome::kept:
            Py_RETURN_TRUE;
        case Outcome::lossy:
            Py_RETURN_FALSE;
        default:
            return nullptr;
    }
}

// ---------------------------------------------------------------------------
// The tally of a sample.

// A zeroed array of counts, freed with it.
class Counts {
public:
    explicit Counts(Py_ssize_t n)
        : data_(
              static_cast<Py_ssize_t*>(PyMem_Calloc(static_cast<size_t>(n), sizeof(Py_ssize_t)))) {
        if (data_ == nullptr) PyErr_NoMemory();
    }
    Counts(const Counts&) = delete;
    Counts& operator=(const Counts&) = delete;
    ~Counts() { PyMem_Free(data_); }
    explicit operator bool() const { return data_ != nullptr; }
    Py_ssize_t& operator[](Py_ssize_t i) { return data_[i]; }

private:
    Py_ssize_t* data_;
};

// Appends `key` to `order` when `seen` does not hold it yet, and returns its
// index in `order`; -1 on error.
Py_ssize_t index_of(PyObject* seen, PyObject* order, PyObject* key) {
    PyObject* found = PyDict_GetItemWithError(seen, key);
    if (found != nullptr) return PyLong_AsSsize_t(found);
    if (PyErr_Occurred()) return -1;
    const Py_ssize_t i = PyList_GET_SIZE(order);
    Ref index = Ref::steal(PyLong_FromSsize_t(i));
    if (!index || PyDict_SetItem(seen, key, index.get()) != 0 || PyList_Append(order, key) != 0)
        return -1;
    return i;
}

// The distinct values of the sample in first-seen order (exact str; a str
// subclass is read as its text), with how often each occurs.
bool distinct_values(PyObject* values, PyObject* order, Counts& counts) {
    Ref seen = Ref::steal(PyDict_New());
    if (!seen) return false;
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(values); ++i) {
        PyObject* item = PyList_GET_ITEM(values, i);
        if (!PyUnicode_Check(item)) {
            PyErr_Format(PyExc_TypeError, "values[%zd] must be str, not %.200s", i,
                         Py_TYPE(item)->tp_name);
            return false;
        }
        Ref value = Ref::steal(PyUnicode_FromObject(item));
        const Py_ssize_t k = value ? index_of(seen.get(), order, value.get()) : -1;
        if (k < 0) return false;
        ++counts[k];
    }
    return true;
}

// The finder's answers, each as a new finder gives it. A finder's only
// state of its own that a search reads and changes is its set of formats
// that failed (seen_formats): a finder whose set is empty searches exactly
// as a new one does. So one finder serves every value, its set emptied
// before each search; the set is the one its pickle state holds. Where
// that state does not hold a set, each value gets a new finder.
class Finders {
public:
    explicit Finders(PyObject* finder_class) : class_(finder_class) {}

    // The answer for `value`; None when the finder finds no format.
    Ref answer(PyObject* value) {
        if (!seen_) {
            finder_ = Ref::steal(PyObject_CallNoArgs(class_));
            if (!finder_ || !failed_formats(finder_.get(), seen_)) return Ref();
        } else if (PySet_Clear(seen_.get()) != 0) {
            return Ref();
        }
        Ref fmt = call_method(finder_.get(), n_search, value);
        if (fmt || !PyErr_ExceptionMatches(PyExc_ValueError)) return fmt;
        PyErr_Clear();
        return Ref::borrow(Py_None);
    }

private:
    // The finder's seen_formats (item 4 of its pickle state) into `seen`,
    // left empty when the state holds no set; false on error.
    static bool failed_formats(PyObject* finder, Ref& seen) {
        Ref reduced = Ref::steal(PyObject_CallMethodNoArgs(finder, n_reduce.get()));
        if (!reduced) return false;
        PyObject* state = PyTuple_CheckExact(reduced.get()) && PyTuple_GET_SIZE(reduced.get()) == 3
                              ? PyTuple_GET_ITEM(reduced.get(), 2)
                              : nullptr;
        if (state != nullptr && PyTuple_CheckExact(state) && PyTuple_GET_SIZE(state) >= 8 &&
            PySet_CheckExact(PyTuple_GET_ITEM(state, 4)))
            seen = Ref::borrow(PyTuple_GET_ITEM(state, 4));
        return true;
    }

    PyObject* class_;
    Ref finder_;
    Ref seen_;
};

PyObject* tally(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static const char* const params[] = {"values", "finder_class"};
    static const reru::Signature sig{"_tally", params, 2, 2};
    PyObject* argv[2];
    if (!reru::parse(sig, args, nargs, kwnames, argv) ||
        !reru::check_arg(argv[0], &PyList_Type, "values", reru::NoneOk::no, true))
        return nullptr;
    // (a copy: the finder runs Python code, which could change the caller's list)
    Ref values = Ref::steal(PyList_GetSlice(argv[0], 0, PyList_GET_SIZE(argv[0])));
    Ref distinct = Ref::steal(PyList_New(0));
    if (!values || !distinct) return nullptr;
    Counts weight(PyList_GET_SIZE(values.get()));
    if (!weight || !distinct_values(values.get(), distinct.get(), weight)) return nullptr;
    const Py_ssize_t n = PyList_GET_SIZE(distinct.get());

    // The finder's answers, each format once, in the order first found.
    Ref seen = Ref::steal(PyDict_New());
    Ref formats = Ref::steal(PyList_New(0));
    Counts found(n);
    if (!seen || !formats || !found) return nullptr;
    Finders finders(argv[1]);
    for (Py_ssize_t i = 0; i < n; ++i) {
        Ref fmt = finders.answer(PyList_GET_ITEM(distinct.get(), i));
        if (!fmt) return nullptr;
        if (fmt.get() == Py_None) continue;
        const Py_ssize_t k = index_of(seen.get(), formats.get(), fmt.get());
        if (k < 0) return nullptr;
        found[k] += weight[i];
    }

    // Every answer against every value.
    const Py_ssize_t m = PyList_GET_SIZE(formats.get());
    Ref result = Ref::steal(PyList_New(m));
    if (!result) return nullptr;
    for (Py_ssize_t k = 0; k < m; ++k) {
        PyObject* fmt = PyList_GET_ITEM(formats.get(), k);
        Py_ssize_t parsed = 0, kept = 0;
        PyObject* example = Py_None;
        for (Py_ssize_t i = 0; i < n; ++i) {
            PyObject* s = PyList_GET_ITEM(distinct.get(), i);
            const Outcome o = check(s, fmt, Outcome::refused);
            if (o == Outcome::error) return nullptr;
            if (o == Outcome::refused) continue;
            parsed += weight[i];
            if (o == Outcome::kept)
                kept += weight[i];
            else if (example == Py_None)
                example = s;
        }
        PyObject* row = Py_BuildValue("(OnnnO)", fmt, found[k], parsed, kept, example);
        if (row == nullptr) return nullptr;
        PyList_SET_ITEM(result.get(), k, row);
    }
    return result.release();
}

const reru::FunctionDef keeps_text_def{"keeps_text", keeps_text,
                                       "keeps_text($module, /, text, fmt)\n--\n\n"};
const reru::FunctionDef tally_def{"_tally", tally,
                                  "_tally($module, /, values, finder_class)\n--\n\n"};

bool body(PyObject* module, PyObject*) {
    PyDateTime_IMPORT;
    if (PyDateTimeAPI == nullptr) return false;
    return reru::add_function(module, keeps_text_def) && reru::add_function(module, tally_def) &&
           reru::set_all(module, {"keeps_text"});
}

}  // namespace

RERU_MODULE(roundtrip, guard, body)
