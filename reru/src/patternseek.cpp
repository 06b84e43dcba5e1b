// Module patternseek: finds the strptime format of a date string by trial.
//
// dFormats is the fixed catalogue of date, time and stand-alone formats;
// DateFormatFinder tries candidates built from it with datetime.strptime,
// remembers answers in a cache shared by the class, and remembers for each
// finder the formats that failed. get_time_components decides with one
// regular expression whether the string carries a time of day.
#include "reru.hpp"
#include "shape_check.hpp"

#include <datetime.h>

#include <algorithm>
#include <array>
#include <bit>
#include <clocale>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <new>
#include <span>
#include <string_view>

using reru::Ref;

namespace {

reru::ModuleGuard guard{"patternseek"};

// ---------------------------------------------------------------------------
// The catalogue. The order of each table is the order in which the finder
// tries the formats.

constexpr std::array<const char*, 19> kDateFormats = {
    "%m/%d/%y",      "%B/%d/%Y",      "%Y/%B/%d", "%y%m%d",    "%m/%d/%Y", "%d/%m/%Y", "%y/%m/%d",
    "%d/%B/%Y",      "%Y/%b/%d",      "%b/%d/%Y", "%Y/%m/%d",  "%Y%m%d",   "%d/%m/%y", "%d/%b/%Y",
    "%a, %b %d, %Y", "%A, %B %d, %Y", "%d/%B/%y", "%B %d, %y", "%d %B %y",
};

constexpr std::array<const char*, 33> kTimeFormats = {
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

constexpr std::array<const char*, 55> kUniqueFormats = {
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

// Interned names used at run time.
reru::Name n_re{"re"};
reru::Name n_compile{"compile"};
reru::Name n_ignorecase{"IGNORECASE"};
reru::Name n_search{"search"};
reru::Name n_anytime_regex{"anytime_regex"};
reru::Name n_py_datetime{"py_datetime"};
reru::Name n_strptime{"strptime"};
reru::Name n_successful{"successful_formats"};
reru::Name n_historical{"historical_formats"};
reru::Name n_add{"add"};
reru::Name n_clear{"clear"};
reru::Name n_replace{"replace"};
reru::Name n_dict{"__dict__"};
reru::Name n_update{"update"};
reru::Name n_new{"__new__"};
reru::Name n_Dates{"Dates"};
reru::Name n_Times{"Times"};
reru::Name n_Unique{"Unique"};
reru::Name n_restore{"__restore_DateFormatFinder"};
reru::Name n_slash{"/"};
reru::Name n_space{" "};

constexpr const char kAnytimeSource[] =
    R"((?<!\d)(\d{1,2}:\d{2}(?::\d{2})?|\d{6})(?:\.\d{1,6})?(?:\s*[AP]M)?(?:\s*(?:[+-]\d{2}:?\d{2}|[+-]\d{4}|[A-Z]{3,4}|Z))?(?=\s|$))";

// The two classes, each with a reference of its own (see reru::add_type).
PyTypeObject* dformats_type = nullptr;
PyTypeObject* finder_type = nullptr;

// AttributeError as raised for a missing method on None.
PyObject* raise_none_attribute(const char* name) {
    PyErr_Format(PyExc_AttributeError, "'NoneType' object has no attribute '%.30s'", name);
    return nullptr;
}

// `container.add(item)`, direct for an exact set.
bool call_add(PyObject* container, PyObject* item) {
    if (PySet_CheckExact(container)) return PySet_Add(container, item) == 0;
    Ref add = reru::attr(container, n_add);
    return add && Ref::steal(PyObject_CallOneArg(add.get(), item));
}

// `text.replace(old, new)`, direct when all three are exact str.
Ref call_replace(PyObject* text, PyObject* old, PyObject* repl) {
    if (PyUnicode_CheckExact(text) && PyUnicode_CheckExact(old) && PyUnicode_CheckExact(repl))
        return Ref::steal(PyUnicode_Replace(text, old, repl, -1));
    PyObject* args[] = {text, old, repl};
    return Ref::steal(PyObject_VectorcallMethod(n_replace.get(), args,
                                                3 | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr));
}

// ---------------------------------------------------------------------------
// dFormats

struct DFormats {
    PyObject_HEAD
    std::span<const char* const> date_entries;
    std::span<const char* const> time_entries;
    std::span<const char* const> unique_entries;
};

PyObject* dformats_new(PyTypeObject* type, PyObject*, PyObject*) {
    auto* self = reinterpret_cast<DFormats*>(type->tp_alloc(type, 0));
    if (self == nullptr) return nullptr;
    self->date_entries = kDateFormats;
    self->time_entries = kTimeFormats;
    self->unique_entries = kUniqueFormats;
    return reinterpret_cast<PyObject*>(self);
}

void dformats_dealloc(PyObject* self) {
    PyTypeObject* tp = Py_TYPE(self);
    tp->tp_free(self);
    Py_DECREF(tp);
}

// A new list of new str objects, one per entry, in order.
PyObject* entries_to_list(std::span<const char* const> entries) {
    Ref list = Ref::steal(PyList_New(static_cast<Py_ssize_t>(entries.size())));
    if (!list) return nullptr;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        PyObject* s = PyUnicode_FromString(entries[i]);
        if (s == nullptr) return nullptr;
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), s);
    }
    return list.release();
}

template <std::span<const char* const> DFormats::* Field, const char* Name>
PyObject* dformats_accessor(PyObject* self, PyObject* const*, Py_ssize_t nargs, PyObject* kwnames) {
    if (!reru::no_params(Name, nargs, kwnames)) return nullptr;
    return entries_to_list(reinterpret_cast<DFormats*>(self)->*Field);
}

constexpr char kDates[] = "Dates";
constexpr char kTimes[] = "Times";
constexpr char kUnique[] = "Unique";
const reru::FunctionDef dates_def{kDates, dformats_accessor<&DFormats::date_entries, kDates>,
                                  "Dates($self, /)\n--\n\n"};
const reru::FunctionDef times_def{kTimes, dformats_accessor<&DFormats::time_entries, kTimes>,
                                  "Times($self, /)\n--\n\n"};
const reru::FunctionDef unique_def{kUnique, dformats_accessor<&DFormats::unique_entries, kUnique>,
                                   "Unique($self, /)\n--\n\n"};

// The catalogue holds nothing but the fixed tables, so a copy is simply a
// new catalogue of the same class.
PyObject* dformats_reduce(PyObject* self, PyObject* const*, Py_ssize_t nargs, PyObject* kwnames) {
    if (!reru::no_params("__reduce__", nargs, kwnames)) return nullptr;
    return Py_BuildValue("(O())", reinterpret_cast<PyObject*>(Py_TYPE(self)));
}
const reru::FunctionDef dformats_reduce_def{"__reduce__", dformats_reduce,
                                            "__reduce__($self, /)\n--\n\n"};

PyType_Slot dformats_slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(dformats_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dformats_dealloc)},
    {Py_tp_doc, const_cast<char*>(
                    "\n    Manages a collection of date and time format strings supported by the "
                    "system.\n    ")},
    {0, nullptr},
};

PyType_Spec dformats_spec = {
    "chronvale.reru.pyd.zududized.patternseek.dFormats",
    sizeof(DFormats),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE,
    dformats_slots,
};

// ---------------------------------------------------------------------------
// Time-of-day test

PyObject* anytime_impl(PyObject* module, PyObject* const*, Py_ssize_t nargs, PyObject* kwnames) {
    if (!reru::no_args("anytime", nargs, kwnames)) return nullptr;
    PyObject* dict = PyModule_GetDict(module);
    Ref re = reru::global(dict, n_re);
    if (!re) return nullptr;
    Ref compile = reru::attr(re.get(), n_compile);
    if (!compile) return nullptr;
    Ref flag = reru::attr(re.get(), n_ignorecase);
    if (!flag) return nullptr;
    Ref source = Ref::steal(PyUnicode_FromStringAndSize(kAnytimeSource, sizeof kAnytimeSource - 1));
    if (!source) return nullptr;
    return PyObject_CallFunctionObjArgs(compile.get(), source.get(), flag.get(), nullptr);
}
const reru::FunctionDef anytime_def{"anytime", anytime_impl, "anytime($module, /)\n--\n\n"};

// The pattern compiled at import (owned, kept for the life of the process).
// While the module global `anytime_regex` still holds it, a search with it
// is answered by the scanner below, which decides exactly as the regular
// expression does.
PyObject* anytime_pattern = nullptr;

// The text as the pattern reads it: \d is any decimal digit, \s any white
// space, and under IGNORECASE [A-Z] also matches four non-ASCII letters
// that fold to ASCII ones.
struct ClockText : reru::Chars {
    explicit ClockText(PyObject* s) : reru::Chars(s, shape_check::kPastEnd) {}
    bool digit(Py_ssize_t i) const {
        const Py_UCS4 c = (*this)[i];
        return c < 0x80 ? shape_check::ascii_digit(c)
                        : c != shape_check::kPastEnd && Py_UNICODE_ISDECIMAL(c);
    }
    // (?=\s|$): white space or the end follows (a final line feed is white space).
    bool ends(Py_ssize_t i) const {
        const Py_UCS4 c = (*this)[i];
        return c == shape_check::kPastEnd || Py_UNICODE_ISSPACE(c);
    }
    // An ASCII letter, any case.
    bool is(Py_ssize_t i, char lower) const {
        const Py_UCS4 c = (*this)[i];
        return shape_check::ascii_letter(c) && (c | 0x20) == static_cast<Py_UCS4>(lower);
    }
    bool letter(Py_ssize_t i) const {
        const Py_UCS4 c = (*this)[i];
        return shape_check::ascii_letter(c) || c == 0x130 || c == 0x131 || c == 0x17F ||
               c == 0x212A;
    }
};

// The optional parts after the clock. White space cannot start any of them,
// so where the text has white space the lookahead is already met and \s*
// never needs to consume any.
// (?:\s*(?:[+-]\d{2}:?\d{2}|[+-]\d{4}|[A-Z]{3,4}|Z))? then the lookahead.
bool zone_then_end(const ClockText& t, Py_ssize_t h) {
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
bool ampm_then_end(const ClockText& t, Py_ssize_t f) {
    if (zone_then_end(t, f)) return true;
    return (t.is(f, 'a') || t.is(f, 'p')) && t.is(f + 1, 'm') && zone_then_end(t, f + 2);
}

// (?:\.\d{1,6})? then the rest.
// Six fraction digits need no look: after the dot (not a digit) they are a
// six-digit clock themselves, followed by the same rest.
bool fraction_then_end(const ClockText& t, Py_ssize_t e) {
    if (ampm_then_end(t, e)) return true;
    if (t[e] != '.') return false;
    for (Py_ssize_t j = 1; t.digit(e + j); ++j) {
        if (ampm_then_end(t, e + j + 1)) return true;
        if (j == 5) break;
    }
    return false;
}

// (\d{1,2}:\d{2}(?::\d{2})?|\d{6}) at p, then the rest.
bool clock_at(const ClockText& t, Py_ssize_t p) {
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
bool scan_time_of_day(PyObject* text) {
    const ClockText t(text);
    for (Py_ssize_t p = 0; p < t.n; ++p)
        if (t.digit(p) && (p == 0 || !t.digit(p - 1)) && clock_at(t, p)) return true;
    return false;
}

// 1 when `anytime_regex.search(text)` finds a match, 0 when not, -1 on error.
int has_time_of_day(PyObject* text) {
    if (text == Py_None) {
        reru::raise_not_none();
        return -1;
    }
    Ref regex = reru::global(guard.dict, n_anytime_regex);
    if (!regex) return -1;
    if (regex.get() == anytime_pattern && PyUnicode_CheckExact(text)) return scan_time_of_day(text);
    PyObject* args[] = {regex.get(), text};
    Ref match = Ref::steal(PyObject_VectorcallMethod(n_search.get(), args,
                                                     2 | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr));
    if (!match) return -1;
    return match.get() != Py_None;
}

PyObject* get_time_components_impl(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                                   PyObject* kwnames) {
    static const reru::Unary sig{"get_time_components", "datetime_string"};
    PyObject* text = sig.str_arg(args, nargs, kwnames, reru::NoneOk::no);
    if (text == nullptr) return nullptr;
    const int found = has_time_of_day(text);
    if (found < 0) return nullptr;
    return PyBool_FromLong(found);
}
const reru::FunctionDef get_time_components_def{"get_time_components", get_time_components_impl,
                                                "get_time_components(datetime_string)\n--\n\n"};

// ---------------------------------------------------------------------------
// Shape pre-check (shape_check.hpp)

bool may_parse(PyObject* text, PyObject* fmt) {
    return shape_check::may_parse(shape_check::Concrete(text), shape_check::FormatText(fmt),
                                  shape_check::time_locale_is_c());
}

// ---------------------------------------------------------------------------
// DateFormatFinder

struct Finder {
    PyObject_HEAD
    PyObject* formats;
    PyObject* date_formats;
    PyObject* time_formats;
    PyObject* unique_formats;
    PyObject* separators;
    PyObject* old_sep;
    PyObject* seen_formats;
    PyObject* precomputed_formats;
};

Finder* as_finder(PyObject* self) { return reinterpret_cast<Finder*>(self); }

// The eight fields in pickling (alphabetical) order, with their types.
struct FieldInfo {
    PyObject* Finder::* field;
    PyTypeObject* type;  // NULL: the dFormats class, instances of subclasses allowed
    const char* type_name;
};
const std::array<FieldInfo, 8> kStateFields = {{
    {&Finder::date_formats, &PyList_Type, "list"},
    {&Finder::formats, nullptr, "dFormats"},
    {&Finder::old_sep, &PyUnicode_Type, "str"},
    {&Finder::precomputed_formats, &PyList_Type, "list"},
    {&Finder::seen_formats, &PySet_Type, "set"},
    {&Finder::separators, &PyList_Type, "list"},
    {&Finder::time_formats, &PyList_Type, "list"},
    {&Finder::unique_formats, &PyList_Type, "list"},
}};

// Stores `value` (borrowed) into a field after the field's type check.
bool set_field(Finder* self, const FieldInfo& info, PyObject* value) {
    if (info.type != nullptr) {
        if (!reru::check_field(value, info.type, info.type_name)) return false;
    } else if (value != Py_None && !PyObject_TypeCheck(value, dformats_type)) {
        PyErr_Format(PyExc_TypeError, "Expected %.42s, got %.200s", info.type_name,
                     Py_TYPE(value)->tp_name);
        return false;
    }
    Py_SETREF(self->*info.field, Py_NewRef(value));
    return true;
}

// The fields by their position in kStateFields.
enum class Field : std::size_t {
    date_formats,
    formats,
    old_sep,
    precomputed_formats,
    seen_formats,
    separators,
    time_formats,
    unique_formats,
};

// Same, taking over an owned reference (NULL means an error is pending).
bool set_field(Finder* self, Field field, Ref value) {
    return value && set_field(self, kStateFields[static_cast<std::size_t>(field)], value.get());
}

PyObject* finder_new(PyTypeObject* type, PyObject*, PyObject*) {
    PyObject* obj = type->tp_alloc(type, 0);
    if (obj == nullptr) return nullptr;
    for (const FieldInfo& info : kStateFields) as_finder(obj)->*info.field = Py_None;
    return obj;
}

int finder_traverse(PyObject* self, visitproc visit, void* arg) {
    Py_VISIT(Py_TYPE(self));
    for (const FieldInfo& info : kStateFields) Py_VISIT(as_finder(self)->*info.field);
    return 0;
}

int finder_clear(PyObject* self) {
    for (const FieldInfo& info : kStateFields) Py_SETREF(as_finder(self)->*info.field, Py_None);
    return 0;
}

void finder_dealloc(PyObject* self) {
    PyTypeObject* tp = Py_TYPE(self);
    PyObject_GC_UnTrack(self);
    for (const FieldInfo& info : kStateFields) Py_CLEAR(as_finder(self)->*info.field);
    tp->tp_free(self);
    Py_DECREF(tp);
}

// Class attributes are always read from DateFormatFinder itself.
Ref class_attr(reru::Name& name) {
    return reru::attr(reinterpret_cast<PyObject*>(finder_type), name);
}

// True when every item of the list is an exact ASCII str.
bool all_ascii_str(PyObject* list) {
    if (!PyList_CheckExact(list)) return false;
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(list); ++i) {
        PyObject* item = PyList_GET_ITEM(list, i);
        if (!PyUnicode_CheckExact(item) || !PyUnicode_IS_ASCII(item)) return false;
    }
    return true;
}

std::string_view ascii_view(PyObject* s) {
    return {reinterpret_cast<const char*>(PyUnicode_DATA(s)),
            static_cast<std::size_t>(PyUnicode_GET_LENGTH(s))};
}

// A set of byte strings with room for a fixed number of entries, for the
// variant computation below: insert() answers whether the text was new.
class TextSet {
public:
    static constexpr std::size_t kSlots = 1024;       // at most half full
    static constexpr std::size_t kArena = 32 * 1024;  // bytes of text

    // False when the set is full (the caller then takes the general path).
    bool insert(std::string_view text, bool& added) {
        std::uint64_t h = 1469598103934665603ULL;
        for (unsigned char c : text) h = (h ^ c) * 1099511628211ULL;
        for (std::size_t i = h & (kSlots - 1);; i = (i + 1) & (kSlots - 1)) {
            Slot& slot = slots_[i];
            if (slot.size == 0) {
                if (count_ * 2 >= kSlots || used_ + text.size() > kArena) return false;
                std::memcpy(arena_ + used_, text.data(), text.size());
                slot = {static_cast<std::uint32_t>(used_),
                        static_cast<std::uint32_t>(text.size() + 1)};
                used_ += text.size();
                ++count_;
                added = true;
                return true;
            }
            if (slot.size == text.size() + 1 &&
                std::memcmp(arena_ + slot.offset, text.data(), text.size()) == 0) {
                added = false;
                return true;
            }
        }
    }

private:
    struct Slot {
        std::uint32_t offset;
        std::uint32_t size;  // length + 1; 0 marks a free slot
    };
    Slot slots_[kSlots] = {};
    char arena_[kArena];
    std::size_t used_ = 0;
    std::size_t count_ = 0;
};

// `text` with every occurrence of `old` (non-empty) replaced by `sep`, into
// `out`; false when it does not fit.
bool replace_into(std::string_view text, std::string_view old, std::string_view sep, char* out,
                  std::size_t capacity, std::size_t& size) {
    size = 0;
    for (std::size_t i = 0; i < text.size();) {
        const bool hit = text.compare(i, old.size(), old) == 0;
        const std::string_view piece = hit ? sep : text.substr(i, 1);
        if (size + piece.size() > capacity) return false;
        std::memcpy(out + size, piece.data(), piece.size());
        size += piece.size();
        i += hit ? old.size() : 1;
    }
    return true;
}

// The variant computation on bytes, for exact ASCII strings (the case of
// every finder built by __init__): only the variants that are added become
// str objects. Returns NULL without an error set when the texts do not fit
// its fixed storage.
Ref precompute_ascii(PyObject* combined, PyObject* separators, PyObject* old_sep) {
    auto* seen = static_cast<TextSet*>(PyMem_Malloc(sizeof(TextSet)));
    if (seen == nullptr) return Ref::steal(PyErr_NoMemory());
    new (seen) TextSet();
    Ref result = Ref::steal(PyList_New(0));
    const std::string_view old = ascii_view(old_sep);
    bool fits = true;
    for (Py_ssize_t i = 0; result && fits && i < PyList_GET_SIZE(combined); ++i) {
        PyObject* entry = PyList_GET_ITEM(combined, i);
        const std::string_view text = ascii_view(entry);
        bool added;
        fits = seen->insert(text, added);
        if (fits && PyList_Append(result.get(), entry) != 0) result.reset();
        // Without old_sep in it, every variant equals the entry just added.
        if (!result || !fits || text.find(old) == std::string_view::npos) continue;
        for (Py_ssize_t j = 0; result && fits && j < PyList_GET_SIZE(separators); ++j) {
            char buffer[512];
            std::size_t size;
            fits = replace_into(text, old, ascii_view(PyList_GET_ITEM(separators, j)), buffer,
                                sizeof buffer, size) &&
                   seen->insert({buffer, size}, added);
            if (!fits || !added) continue;
            Ref variant =
                Ref::steal(PyUnicode_FromStringAndSize(buffer, static_cast<Py_ssize_t>(size)));
            if (!variant || PyList_Append(result.get(), variant.get()) != 0) result.reset();
        }
    }
    PyMem_Free(seen);
    return fits ? result : Ref();
}

// ---------------------------------------------------------------------------
// The pristine catalogue, built once at import and shared by every finder
// built the default way (str objects are immutable, so sharing them cannot
// be told apart from building them again, except by identity).

constexpr std::size_t kDateCount = kDateFormats.size(), kTimeCount = kTimeFormats.size(),
                      kUniqueCount = kUniqueFormats.size();
constexpr const char* kSeparators[] = {"/", ".", "-", " ", ""};
constexpr std::size_t kSepCount = std::size(kSeparators);
constexpr std::size_t kCandidateCount = kDateCount * kTimeCount * kSepCount;
constexpr std::size_t kPartSize = 32;  // room for a date part or a time tail

struct Pristine {
    PyObject* dates[kDateCount];
    PyObject* times[kTimeCount];
    PyObject* unique[kUniqueCount];
    PyObject* separators[kSepCount];
    PyObject* precomputed;   // a list: the separator variants for old_sep "/"
    PyObject* accessors[3];  // dFormats.Dates, .Times, .Unique as the module bound them
    // Stage-2 candidates: `date.replace("/", sep)` and `" " + time` as text,
    // and the candidate str objects, made when first needed.
    char date_parts[kDateCount][kSepCount][kPartSize];
    char time_tails[kTimeCount][kPartSize];
    PyObject* candidates[kCandidateCount];
    // The shape memos: shape key -> the stage-2 candidates the shape allows,
    // and shape key -> the verdicts on the stage-3 lists.
    PyObject* memo[2];
    Py_ssize_t memo_chars;
};
// Owned references, made by the module body and kept for the life of the
// process (the module lives in one interpreter only and is never unloaded).
Pristine pristine;

constexpr Py_ssize_t kMemoChars = Py_ssize_t{1} << 22;  // bound of the keys' total length
constexpr Py_ssize_t kMemoEntries = 1 << 14;

bool fill_strs(PyObject** out, std::span<const char* const> entries) {
    for (std::size_t i = 0; i < entries.size(); ++i)
        if ((out[i] = PyUnicode_InternFromString(entries[i])) == nullptr) return false;
    return true;
}

Ref shared_list(PyObject* const* items, std::size_t count) {
    Ref list = Ref::steal(PyList_New(static_cast<Py_ssize_t>(count)));
    for (std::size_t i = 0; list && i < count; ++i)
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), Py_NewRef(items[i]));
    return list;
}

bool build_pristine(PyObject* dformats_dict) {
    if (!fill_strs(pristine.dates, kDateFormats) || !fill_strs(pristine.times, kTimeFormats) ||
        !fill_strs(pristine.unique, kUniqueFormats) || !fill_strs(pristine.separators, kSeparators))
        return false;
    Ref combined = Ref::steal(PyList_New(0));
    Ref separators = shared_list(pristine.separators, kSepCount);
    if (!combined || !separators) return false;
    for (PyObject* s : pristine.dates)
        if (PyList_Append(combined.get(), s) != 0) return false;
    for (PyObject* s : pristine.unique)
        if (PyList_Append(combined.get(), s) != 0) return false;
    PyObject* slash = n_slash.get();
    Ref precomputed = precompute_ascii(combined.get(), separators.get(), slash);
    if (!precomputed) return PyErr_Occurred() ? false : !PyErr_NoMemory();
    pristine.precomputed = precomputed.release();
    reru::Name* names[] = {&n_Dates, &n_Times, &n_Unique};
    for (int i = 0; i < 3; ++i) {
        PyObject* f = PyDict_GetItemWithError(dformats_dict, names[i]->get());
        if (f == nullptr)
            return PyErr_Occurred() ? false
                                    : !PyErr_Format(PyExc_SystemError, "no %s", names[i]->text());
        pristine.accessors[i] = Py_NewRef(f);
    }
    for (std::size_t d = 0; d < kDateCount; ++d)
        for (std::size_t s = 0; s < kSepCount; ++s) {
            std::size_t size;
            replace_into(kDateFormats[d], "/", kSeparators[s], pristine.date_parts[d][s],
                         kPartSize - 1, size);
            pristine.date_parts[d][s][size] = '\0';
        }
    for (std::size_t t = 0; t < kTimeCount; ++t) {
        pristine.time_tails[t][0] = ' ';
        std::strncpy(pristine.time_tails[t] + 1, kTimeFormats[t], kPartSize - 2);
    }
    for (PyObject*& memo : pristine.memo)
        if ((memo = PyDict_New()) == nullptr) return false;
    return true;
}

// The stage-2 candidate with flat index (d * times + t) * separators + s, as
// a str made once (borrowed; NULL on memory exhaustion).
PyObject* candidate_str(std::size_t index) {
    PyObject*& slot = pristine.candidates[index];
    if (slot == nullptr) {
        const std::size_t d = index / (kTimeCount * kSepCount), t = index / kSepCount % kTimeCount,
                          s = index % kSepCount;
        slot = PyUnicode_FromFormat("%s%s", pristine.date_parts[d][s], pristine.time_tails[t]);
    }
    return slot;
}

// Whether `list` is an exact list holding the pristine strings (the same
// objects, or exact str of the same text).
bool pristine_list(PyObject* list, PyObject* const* items, std::size_t count) {
    if (!PyList_CheckExact(list) || PyList_GET_SIZE(list) != static_cast<Py_ssize_t>(count))
        return false;
    for (std::size_t i = 0; i < count; ++i) {
        PyObject* item = PyList_GET_ITEM(list, static_cast<Py_ssize_t>(i));
        if (item != items[i] &&
            !(PyUnicode_CheckExact(item) && PyUnicode_Compare(item, items[i]) == 0))
            return false;
    }
    return true;
}

bool default_sep(PyObject* old_sep) {
    return old_sep == n_slash.get() ||
           (PyUnicode_CheckExact(old_sep) && PyUnicode_Compare(old_sep, n_slash.get()) == 0);
}

// `formats.<method>()`: a new list of the shared strings when the call would
// give the catalogue's own list (formats is exactly a dFormats, looked up
// the generic way, and the class still holds the module's accessor), else
// the real call.
Ref catalogue_list(PyObject* formats, int which, reru::Name& method) {
    static constexpr std::pair<PyObject* const*, std::size_t> lists[] = {
        {pristine.dates, kDateCount},
        {pristine.times, kTimeCount},
        {pristine.unique, kUniqueCount}};
    if (Py_IS_TYPE(formats, dformats_type) &&
        dformats_type->tp_getattro == PyObject_GenericGetAttr &&
        _PyType_Lookup(dformats_type, method.get()) == pristine.accessors[which])
        return shared_list(lists[which].first, lists[which].second);
    return Ref::steal(PyObject_CallMethodNoArgs(formats, method.get()));
}

// The separator variants of the date and stand-alone formats: every entry
// as it stands, then each of its variants not yet in the list.
Ref precompute_formats(Finder* self) {
    if (default_sep(self->old_sep) &&
        pristine_list(self->date_formats, pristine.dates, kDateCount) &&
        pristine_list(self->unique_formats, pristine.unique, kUniqueCount) &&
        pristine_list(self->separators, pristine.separators, kSepCount))
        return Ref::steal(PyList_GetSlice(pristine.precomputed, 0, PY_SSIZE_T_MAX));
    Ref combined = Ref::steal(PyNumber_Add(self->date_formats, self->unique_formats));
    if (!combined) return Ref();
    {
        Ref separators = Ref::borrow(self->separators), old_sep = Ref::borrow(self->old_sep);
        if (all_ascii_str(combined.get()) && all_ascii_str(separators.get()) &&
            PyUnicode_CheckExact(old_sep.get()) && PyUnicode_IS_ASCII(old_sep.get()) &&
            PyUnicode_GET_LENGTH(old_sep.get()) > 0) {
            Ref fast = precompute_ascii(combined.get(), separators.get(), old_sep.get());
            if (fast || PyErr_Occurred()) return fast;
        }
    }
    const Py_ssize_t n = PyObject_Length(combined.get());
    if (n < 0) return Ref();
    const Py_ssize_t nsep = PyObject_Length(self->separators);
    if (nsep < 0) return Ref();
    Ref result = Ref::steal(PyList_New(0));
    if (!result) return Ref();
    for (Py_ssize_t i = 0; i < n; ++i) {
        Ref entry = Ref::steal(PySequence_GetItem(combined.get(), i));
        if (!entry || PyList_Append(result.get(), entry.get()) != 0) return Ref();
        for (Py_ssize_t j = 0; j < nsep; ++j) {
            // The fields are read at each use and held: replace() and the
            // comparisons below can run Python code that replaces them.
            Ref separators = Ref::borrow(self->separators);
            Ref sep = Ref::steal(PySequence_GetItem(separators.get(), j));
            if (!sep) return Ref();
            Ref old_sep = Ref::borrow(self->old_sep);
            Ref variant = call_replace(entry.get(), old_sep.get(), sep.get());
            if (!variant) return Ref();
            const int present = PySequence_Contains(result.get(), variant.get());
            if (present < 0) return Ref();
            if (!present && PyList_Append(result.get(), variant.get()) != 0) return Ref();
        }
    }
    return result;
}

// The date text must be encodable as UTF-8 before each attempt; the UTF-8
// form is cached by the str object, so only the first check costs.
// The text is the str argument of search, which lets None through.
bool check_encodable(PyObject* text) {
    if (text == Py_None) return raise_none_attribute("encode") != nullptr;
    return PyUnicode_AsUTF8AndSize(text, nullptr) != nullptr;
}

// The pre-check knows the genuine strptime only; a replacement class gets
// every call.
bool precheck_applies(PyObject* cls, PyObject* fmt) {
    return cls == reinterpret_cast<PyObject*>(PyDateTimeAPI->DateTimeType) &&
           PyUnicode_CheckExact(fmt);
}

// One strptime attempt: 1 when `fmt` parses `text` (the format is then added
// to historical_formats), 0 when strptime raised ValueError, -1 on any
// other error.
int call_strptime(PyObject* cls, PyObject* text, PyObject* fmt) {
    Ref strptime = reru::attr(cls, n_strptime);
    if (!strptime) return -1;
    PyObject* args[] = {text, fmt};
    Ref parsed = Ref::steal(PyObject_Vectorcall(strptime.get(), args, 2, nullptr));
    if (!parsed) {
        if (!PyErr_ExceptionMatches(PyExc_ValueError)) return -1;
        PyErr_Clear();
        return 0;
    }
    if (parsed.get() != Py_None && !PyDateTime_Check(parsed.get())) {
        PyErr_Format(PyExc_TypeError, "Cannot convert %.200s to %.200s",
                     Py_TYPE(parsed.get())->tp_name, PyDateTimeAPI->DateTimeType->tp_name);
        return -1;
    }
    Ref historical = class_attr(n_historical);
    return historical && call_add(historical.get(), fmt) ? 1 : -1;
}

int attempt(PyObject* text, PyObject* fmt) {
    Ref cls = reru::global(guard.dict, n_py_datetime);
    if (!cls) return -1;
    if (precheck_applies(cls.get(), fmt) && !may_parse(text, fmt)) return 0;
    return call_strptime(cls.get(), text, fmt);
}

// An attempt counts as found only when the format is a non-empty string.
int attempt_found(PyObject* text, PyObject* fmt) {
    if (!check_encodable(text)) return -1;
    const int r = attempt(text, fmt);
    if (r <= 0) return r;
    return PyObject_IsTrue(fmt);
}

// Whether the conditions of a shortcut were checked since Python code last
// ran, and what they gave.
enum class Verified { no, usable, unusable };

// What both shortcuts re-establish after Python code ran: the text is
// encodable, `py_datetime` is the genuine class, and the time locale.
class Verification {
public:
    void python_ran() { state_ = Verified::no; }
    bool c_locale() const { return c_locale_; }

protected:
    explicit Verification(PyObject* text) : text_(text) {}

    // 1 or 0 while the last verification holds (usable or not); else 2
    // when `py_datetime` is the genuine class and the caller checks the
    // rest, 0 when it is not, -1 on error (raised where the attempt itself
    // would raise).
    int begin() {
        switch (state_) {
            case Verified::usable:
                return 1;
            case Verified::unusable:
                return 0;
            case Verified::no:
                break;
        }
        state_ = Verified::unusable;
        if (!check_encodable(text_)) return -1;
        Ref cls = reru::global(guard.dict, n_py_datetime);
        if (!cls) return -1;
        c_locale_ = shape_check::time_locale_is_c();
        return cls.get() == reinterpret_cast<PyObject*>(PyDateTimeAPI->DateTimeType) ? 2 : 0;
    }

    PyObject* text_;
    Verified state_ = Verified::no;
    bool c_locale_ = true;
};

// Stage 3's shortcut: while py_datetime is the genuine datetime, an entry
// of the date formats or of the precomputed list that is the pristine
// catalogue's entry at that position takes the shape memo's verdict, and
// only the entries the memo lets through are pre-checked on the text
// itself. What is verified holds until Python code runs: a strptime call,
// or a set operation on seen_formats unless the set and the candidate are
// exact str (then hashing and comparing run no Python code).
class PlainShortcut : public Verification {
public:
    explicit PlainShortcut(PyObject* text) : Verification(text) {}

    // 1 when the shortcut applies to the next attempt, 0 when not, -1 on
    // error (raised where the attempt itself would raise).
    int check(Finder* self);
    // After a set operation with `fmt`.
    void set_operation(PyObject* fmt) {
        if (state_ != Verified::no && !(pure_ && PyUnicode_CheckExact(fmt))) state_ = Verified::no;
    }
    bool may_parse(std::size_t index) const {
        return PyBytes_AS_STRING(verdicts_.get())[index] != 0;
    }

private:
    Ref verdicts_;
    int verdicts_locale_ = -1;  // the locale flag the verdicts were made for
    bool pure_ = false;
};

// Which pristine list a stage-3 list is compared with.
enum class PlainList { dates, precomputed, other };

// The position of `fmt` at index i of such a list in the memo's verdicts,
// or -1 when it is not the pristine entry there.
Py_ssize_t verdict_index(PlainList which, Py_ssize_t i, PyObject* fmt) {
    PyObject* entry;
    Py_ssize_t offset = 0;
    if (which == PlainList::dates && i < static_cast<Py_ssize_t>(kDateCount)) {
        entry = pristine.dates[i];
    } else if (which == PlainList::precomputed && i < PyList_GET_SIZE(pristine.precomputed)) {
        entry = PyList_GET_ITEM(pristine.precomputed, i);
        offset = kDateCount;
    } else {
        return -1;
    }
    if (fmt != entry && !(PyUnicode_CheckExact(fmt) && PyUnicode_Compare(fmt, entry) == 0))
        return -1;
    return offset + i;
}

// One stage-3 attempt, through the shortcut where it applies.
int attempt_plain(Finder* self, PyObject* text, PyObject* fmt, Py_ssize_t index,
                  PlainShortcut& fast) {
    const int usable = index >= 0 ? fast.check(self) : 0;
    if (usable < 0) return -1;
    if (!usable) {
        fast.python_ran();
        return attempt_found(text, fmt);
    }
    if (!fast.may_parse(static_cast<std::size_t>(index)) ||
        !shape_check::may_parse(shape_check::Concrete(text), shape_check::FormatText(fmt),
                                fast.c_locale()))
        return 0;
    fast.python_ran();
    const int r =
        call_strptime(reinterpret_cast<PyObject*>(PyDateTimeAPI->DateTimeType), text, fmt);
    return r <= 0 ? r : PyObject_IsTrue(fmt);
}

// Tries every candidate not yet in seen_formats, then every precomputed
// format the same way; failures enter seen_formats. Sets *found (new
// reference) to the first format that parsed, or leaves it NULL.
bool try_list(Finder* self, PyObject* candidates, PyObject* text, Ref* found, PlainList which,
              PlainShortcut& fast) {
    if (!PyList_Check(candidates)) {
        PyErr_Format(PyExc_TypeError, "object of type '%.200s' has no len()",
                     Py_TYPE(candidates)->tp_name);
        return false;
    }
    const Py_ssize_t n = PyList_GET_SIZE(candidates);
    for (Py_ssize_t i = 0; i < n; ++i) {
        if (i >= PyList_GET_SIZE(candidates)) {
            PyErr_SetString(PyExc_IndexError, "list index out of range");
            return false;
        }
        Ref fmt = Ref::borrow(PyList_GET_ITEM(candidates, i));
        // The set is held: hashing and comparing a candidate can run Python
        // code, which may replace the field and free the set.
        Ref seen_set = Ref::borrow(self->seen_formats);
        const int seen = PySequence_Contains(seen_set.get(), fmt.get());
        fast.set_operation(fmt.get());
        if (seen < 0) return false;
        if (seen) continue;
        const int r =
            attempt_plain(self, text, fmt.get(), verdict_index(which, i, fmt.get()), fast);
        if (r < 0) return false;
        if (r) {
            *found = fmt;
            return true;
        }
        seen_set = Ref::borrow(self->seen_formats);
        const bool added = call_add(seen_set.get(), fmt.get());
        fast.set_operation(fmt.get());
        if (!added) return false;
    }
    return true;
}

// The lists are held while they are walked: strptime runs Python code, and
// another thread may replace a field meanwhile.
Ref try_formats(Finder* self, Ref candidates, PyObject* text, PlainList which,
                PlainShortcut& fast) {
    if (!check_encodable(text)) return Ref();
    Ref found;
    if (!try_list(self, candidates.get(), text, &found, which, fast)) return Ref();
    if (found) return found;
    Ref precomputed = Ref::borrow(self->precomputed_formats);
    if (!try_list(self, precomputed.get(), text, &found, PlainList::precomputed, fast))
        return Ref();
    return found ? found : Ref::borrow(Py_None);
}

// Stage 1: a cached answer, re-tested once. Returns the format, None when
// there is no valid cached answer (a stale one is evicted), NULL on error.
Ref search_cache(PyObject* text) {
    Ref cache = class_attr(n_successful);
    if (!cache) return Ref();
    Ref fmt;
    if (PyDict_CheckExact(cache.get())) {
        fmt = Ref::borrow(PyDict_GetItemWithError(cache.get(), text));
        if (!fmt && PyErr_Occurred()) return Ref();
    } else {
        const int present = PySequence_Contains(cache.get(), text);
        if (present < 0) return Ref();
        if (present) {
            cache = class_attr(n_successful);
            if (!cache) return Ref();
            fmt = Ref::steal(PyObject_GetItem(cache.get(), text));
            if (!fmt) return Ref();
        }
    }
    if (!fmt) return Ref::borrow(Py_None);
    const int r = attempt_found(text, fmt.get());
    if (r < 0) return Ref();
    if (r) return fmt;
    cache = class_attr(n_successful);
    if (!cache || PyObject_DelItem(cache.get(), text) != 0) return Ref();
    Ref historical = class_attr(n_historical);
    if (!historical || !call_add(historical.get(), fmt.get())) return Ref();
    return Ref::borrow(Py_None);
}

bool remember(PyObject* text, PyObject* fmt) {
    Ref cache = class_attr(n_successful);
    return cache && PyObject_SetItem(cache.get(), text, fmt) == 0;
}

// `date_format.replace(old_sep, sep) + " " + time_format`
Ref combine(Finder* self, PyObject* date_format, PyObject* sep, PyObject* time_format) {
    Ref old_sep = Ref::borrow(self->old_sep);  // the method lookup can run Python code
    Ref date_part = call_replace(date_format, old_sep.get(), sep);
    if (!date_part) return Ref();
    Ref with_space = Ref::steal(PyNumber_Add(date_part.get(), n_space.get()));
    if (!with_space) return Ref();
    return Ref::steal(PyNumber_Add(with_space.get(), time_format));
}

// Iterates a list field like a Python for-loop (None is not iterable).
bool require_list(PyObject* field) {
    if (PyList_Check(field)) return true;
    PyErr_Format(PyExc_TypeError, "'%.200s' object is not iterable", Py_TYPE(field)->tp_name);
    return false;
}

// The stage-2 candidate `date_format.replace(old_sep, sep) + " " +
// time_format` as bytes, when all of them are exact ASCII strings.
bool combined_bytes(Finder* self, PyObject* date_format, PyObject* sep, PyObject* time_format,
                    char* out, std::size_t capacity, std::size_t& size) {
    for (PyObject* s : {date_format, sep, time_format, self->old_sep})
        if (!PyUnicode_CheckExact(s) || !PyUnicode_IS_ASCII(s)) return false;
    const std::string_view old = ascii_view(self->old_sep), tail = ascii_view(time_format);
    if (old.empty() ||
        !replace_into(ascii_view(date_format), old, ascii_view(sep), out, capacity, size) ||
        size + 1 + tail.size() > capacity)
        return false;
    out[size++] = ' ';
    std::memcpy(out + size, tail.data(), tail.size());
    size += tail.size();
    return true;
}

// 1 when the pre-check rejects a stage-2 candidate, so that it need not be
// built at all (a rejected candidate has no other effect in this stage); 0
// when it must be tried; -1 on error (raised where the attempt would raise).
int reject_unbuilt(Finder* self, PyObject* text, PyObject* date_format, PyObject* sep,
                   PyObject* time_format, bool c_locale) {
    if (!check_encodable(text)) return -1;
    Ref cls = reru::global(guard.dict, n_py_datetime);
    if (!cls) return -1;
    if (!precheck_applies(cls.get(), date_format)) return 0;
    char buffer[512];
    std::size_t size;
    if (combined_bytes(self, date_format, sep, time_format, buffer, sizeof buffer, size))
        return shape_check::may_parse(shape_check::Concrete(text),
                                      {buffer, static_cast<Py_ssize_t>(size)}, c_locale)
                   ? 0
                   : 1;
    // Non-ASCII or long parts: built as a str, which runs no Python code
    // when all of them are exact str.
    for (PyObject* s : {sep, time_format, self->old_sep})
        if (!PyUnicode_CheckExact(s)) return 0;
    Ref candidate = combine(self, date_format, sep, time_format);
    if (!candidate) return -1;
    return shape_check::may_parse(shape_check::Concrete(text),
                                  shape_check::FormatText(candidate.get()), c_locale)
               ? 0
               : 1;
}

// ---------------------------------------------------------------------------
// Stage 2: the shape memo

// The shape of a text: every ASCII digit as '0', every other ASCII
// character as it is, every other character as one of three stand-ins
// (decimal digit, white space, anything else), which the pre-check treats
// alike; in front, whether LC_TIME is the C locale.
Py_UCS4 shape_of(Py_UCS4 c) {
    if (c < 0x80) return shape_check::ascii_digit(c) ? '0' : c;
    if (Py_UNICODE_ISDECIMAL(c)) return 0x660;
    return Py_UNICODE_ISSPACE(c) ? 0x3000 : 0xE9;
}

Ref shape_key(PyObject* text, bool c_locale) {
    const reru::Chars chars(text);
    Py_UCS4 maxchar = 'C';
    if (!PyUnicode_IS_ASCII(text))
        for (Py_ssize_t i = 0; i < chars.n; ++i) maxchar = std::max(maxchar, shape_of(chars[i]));
    Ref key = Ref::steal(PyUnicode_New(chars.n + 1, maxchar));
    if (!key) return key;
    const int kind = PyUnicode_KIND(key.get());
    void* data = PyUnicode_DATA(key.get());
    PyUnicode_WRITE(kind, data, 0, c_locale ? 'C' : 'L');
    for (Py_ssize_t i = 0; i < chars.n; ++i) PyUnicode_WRITE(kind, data, i + 1, shape_of(chars[i]));
    return key;
}

using shape_check::Positions;

// The time formats (bit t) whose " " + time tail can follow a date part
// that ends at `ends`.
std::uint64_t time_verdicts(const shape_check::ShapeView& view, const Positions& ends,
                            bool c_locale) {
    Positions a(view.n), b(view.n);
    if (!a.valid() || !b.valid()) return ~std::uint64_t{0};  // unchecked: all may parse
    std::uint64_t bits = 0;
    for (std::size_t t = 0; t < kTimeCount; ++t) {
        Positions *reach = &a, *spare = &b;
        reach->assign(ends);
        const char* tail = pristine.time_tails[t];
        if (shape_check::advance(view, {tail, static_cast<Py_ssize_t>(std::strlen(tail))}, c_locale,
                                 reach, spare) &&
            reach->has(view.n))
            bits |= std::uint64_t{1} << t;
    }
    return bits;
}

// Date parts whose end positions were seen, with their time verdicts: the
// time formats are walked once per distinct set of end positions.
class KnownEnds {
public:
    ~KnownEnds() {
        for (std::size_t k = 0; k < count_; ++k) {
            known_[k].ends->~Positions();
            PyMem_Free(known_[k].ends);
        }
    }
    std::uint64_t verdicts(const shape_check::ShapeView& view, const Positions& ends,
                           bool c_locale) {
        for (std::size_t k = 0; k < count_; ++k)
            if (*known_[k].ends == ends) return known_[k].times;
        const std::uint64_t times = time_verdicts(view, ends, c_locale);
        void* room = PyMem_Malloc(sizeof(Positions));
        if (room == nullptr) return times;
        auto* copy = new (room) Positions(view.n);
        if (!copy->valid()) {
            copy->~Positions();
            PyMem_Free(room);
            return times;
        }
        copy->assign(ends);
        known_[count_++] = {copy, times};
        return times;
    }

private:
    struct Known {
        Positions* ends;
        std::uint64_t times;
    };
    Known known_[kDateCount * kSepCount];
    std::size_t count_ = 0;
};

// The time formats that can follow date part (d, s), through the shape view.
std::uint64_t date_part_verdicts(const shape_check::ShapeView& view, const char* part,
                                 bool c_locale, KnownEnds& known) {
    Positions a(view.n), b(view.n);
    if (!a.valid() || !b.valid()) return ~std::uint64_t{0};
    Positions *reach = &a, *spare = &b;
    reach->add(0);
    if (!shape_check::advance(view, {part, static_cast<Py_ssize_t>(std::strlen(part))}, c_locale,
                              reach, spare) ||
        reach->empty())
        return 0;
    return known.verdicts(view, *reach, c_locale);
}

// The flat indices (d * times + t) * separators + s, ascending, of the
// stage-2 candidates of the pristine catalogue that the shape view of the
// text does not reject, as bytes of 16-bit numbers. Each distinct date
// part is walked once and continued from its end positions (a date part
// ends in a directive and a time format starts with one, so no white-space
// run or directive spans the joint).
Ref shape_survivors(PyObject* text, bool c_locale) {
    const shape_check::ShapeView view(text);
    std::uint64_t verdicts[kDateCount][kSepCount];
    KnownEnds known;
    std::size_t count = 0;
    for (std::size_t d = 0; d < kDateCount; ++d)
        for (std::size_t s = 0; s < kSepCount; ++s) {
            verdicts[d][s] = date_part_verdicts(view, pristine.date_parts[d][s], c_locale, known);
            count += static_cast<std::size_t>(std::popcount(verdicts[d][s]));
        }
    Ref out = Ref::steal(PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(count * 2)));
    if (!out) return out;
    char* p = PyBytes_AS_STRING(out.get());
    for (std::size_t d = 0; d < kDateCount; ++d)
        for (std::size_t t = 0; t < kTimeCount; ++t)
            for (std::size_t s = 0; s < kSepCount; ++s)
                if (verdicts[d][s] >> t & 1) {
                    const auto index =
                        static_cast<std::uint16_t>((d * kTimeCount + t) * kSepCount + s);
                    std::memcpy(p, &index, 2);
                    p += 2;
                }
    return out;
}

// The shape view's verdicts on the date formats and then the precomputed
// list of the pristine catalogue (one byte each, 1 when the entry may
// parse), for stage 3.
Ref shape_verdicts(PyObject* text, bool c_locale) {
    const shape_check::ShapeView view(text);
    const Py_ssize_t count = PyList_GET_SIZE(pristine.precomputed);
    Ref out =
        Ref::steal(PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(kDateCount) + count));
    if (!out) return out;
    char* p = PyBytes_AS_STRING(out.get());
    for (PyObject* entry : pristine.dates)
        *p++ = shape_check::may_parse(view, shape_check::FormatText(entry), c_locale);
    for (PyObject* entry :
         std::span(PySequence_Fast_ITEMS(pristine.precomputed), static_cast<std::size_t>(count)))
        *p++ = shape_check::may_parse(view, shape_check::FormatText(entry), c_locale);
    return out;
}

// The memo entry of `which` for the text's shape, from the process-wide
// memo or computed and remembered. The memo is emptied when it grows past
// its bounds.
enum class Memo { survivors, verdicts };

Ref memo_entry(Memo which, PyObject* text, bool c_locale) {
    Ref key = shape_key(text, c_locale);
    if (!key) return key;
    Ref memo = Ref::borrow(pristine.memo[static_cast<int>(which)]);
    if (PyObject* found = PyDict_GetItemWithError(memo.get(), key.get())) return Ref::borrow(found);
    if (PyErr_Occurred()) return Ref();
    Ref value =
        which == Memo::survivors ? shape_survivors(text, c_locale) : shape_verdicts(text, c_locale);
    if (!value) return value;
    const Py_ssize_t size = PyUnicode_GET_LENGTH(key.get());
    if (PyDict_GET_SIZE(pristine.memo[0]) + PyDict_GET_SIZE(pristine.memo[1]) >= kMemoEntries ||
        pristine.memo_chars + size > kMemoChars) {
        PyDict_Clear(pristine.memo[0]);
        PyDict_Clear(pristine.memo[1]);
        pristine.memo_chars = 0;
    }
    if (PyDict_SetItem(memo.get(), key.get(), value.get()) != 0) return Ref();
    pristine.memo_chars += size;
    return value;
}

int PlainShortcut::check(Finder* self) {
    const int started = begin();
    if (started != 2) return started;
    pure_ = PySet_CheckExact(self->seen_formats);
    if (pure_) {
        Py_ssize_t pos = 0;
        PyObject* key;
        Py_hash_t hash;
        while (pure_ && _PySet_NextEntry(self->seen_formats, &pos, &key, &hash))
            pure_ = PyUnicode_CheckExact(key);
    }
    if (!verdicts_ || verdicts_locale_ != c_locale_) {
        verdicts_ = memo_entry(Memo::verdicts, text_, c_locale_);
        if (!verdicts_) return -1;
        verdicts_locale_ = c_locale_;
    }
    state_ = Verified::usable;
    return 1;
}

// ---------------------------------------------------------------------------
// Stage 2: the walk

// Where the three for-loops of stage 2 stand: date_formats is held from the
// start, time_formats is read at each date format and separators at each
// time format, as a Python for-loop over the attribute would.
struct Walk {
    explicit Walk(Finder* finder) : self(finder) {}

    Finder* self;
    Ref dates, times, seps;
    Ref date_format, time_format;  // the loop variables
    Py_ssize_t d = 0, t = 0, s = -1;
    int level = 0;  // lists loaded: 0 none, 1 times, 2 times and separators

    // Moves to the next candidate: 1, or 0 after the last one, -1 on error.
    int step() {
        ++s;
        for (;;) {
            if (level == 2) {
                if (s < PyList_GET_SIZE(seps.get())) return 1;
                ++t;
                level = 1;
            }
            if (level == 1) {
                if (t < PyList_GET_SIZE(times.get())) {
                    time_format = Ref::borrow(PyList_GET_ITEM(times.get(), t));
                    seps = Ref::borrow(self->separators);
                    if (!require_list(seps.get())) return -1;
                    s = 0;
                    level = 2;
                    continue;
                }
                ++d;
                level = 0;
            }
            if (d >= PyList_GET_SIZE(dates.get())) return 0;
            date_format = Ref::borrow(PyList_GET_ITEM(dates.get(), d));
            times = Ref::borrow(self->time_formats);
            if (!require_list(times.get())) return -1;
            t = 0;
            level = 1;
        }
    }
    std::size_t flat() const {
        return static_cast<std::size_t>((d * kTimeCount + t) * kSepCount + s);
    }
    // Moves forward to a candidate of the pristine catalogue, reading the
    // fields where the loops would have read them (nothing can have changed
    // them since, and they are pristine).
    void jump(std::size_t index) {
        const auto nd = static_cast<Py_ssize_t>(index / (kTimeCount * kSepCount));
        const auto nt = static_cast<Py_ssize_t>(index / kSepCount % kTimeCount);
        if (nd != d) {
            date_format = Ref::borrow(PyList_GET_ITEM(dates.get(), nd));
            times = Ref::borrow(self->time_formats);
        }
        if (nd != d || nt != t) {
            time_format = Ref::borrow(PyList_GET_ITEM(times.get(), nt));
            seps = Ref::borrow(self->separators);
        }
        d = nd;
        t = nt;
        s = static_cast<Py_ssize_t>(index % kSepCount);
    }
};

// When the walk may jump from one memo survivor to the next. A rejected
// candidate has no effect, and what it would read (the text's encoding,
// py_datetime, the fields, the lists it walks, the locale) can change only
// when Python code runs, so the conditions are checked again after every
// such call: py_datetime is the genuine datetime, and the fields and the
// held lists are the pristine catalogue with the default old_sep.
class Shortcut : public Verification {
public:
    explicit Shortcut(PyObject* text) : Verification(text) {}

    // 1 when the walk may jump now, 0 when it must take the candidate as it
    // comes, -1 on error (raised where the candidate itself would raise).
    int check(const Walk& w) {
        const int started = begin();
        if (started != 2) return started;
        Finder* self = w.self;
        if (!default_sep(self->old_sep)) return 0;
        for (PyObject* list : {self->date_formats, w.dates.get()})
            if (!pristine_list(list, pristine.dates, kDateCount)) return 0;
        for (PyObject* list : {self->time_formats, w.times.get()})
            if (!pristine_list(list, pristine.times, kTimeCount)) return 0;
        for (PyObject* list : {self->separators, w.seps.get()})
            if (!pristine_list(list, pristine.separators, kSepCount)) return 0;
        if (!survivors_ || survivors_locale_ != c_locale_) {
            survivors_ = memo_entry(Memo::survivors, text_, c_locale_);
            if (!survivors_) return -1;
            survivors_locale_ = c_locale_;
            next_ = 0;
        }
        state_ = Verified::usable;
        return 1;
    }

    // The first survivor at or after `flat`, or kCandidateCount.
    std::size_t next_at(std::size_t flat) {
        const char* data = PyBytes_AS_STRING(survivors_.get());
        const auto count = static_cast<std::size_t>(PyBytes_GET_SIZE(survivors_.get()) / 2);
        for (; next_ < count; ++next_) {
            std::uint16_t index;
            std::memcpy(&index, data + 2 * next_, 2);
            if (index >= flat) return index;
        }
        return kCandidateCount;
    }

private:
    Ref survivors_;
    std::size_t next_ = 0;
    int survivors_locale_ = -1;  // the locale flag the survivors were found for
};

// A memo survivor: the concrete pre-check, then strptime. 1 found, 0 not, -1 error.
int try_survivor(PyObject* text, PyObject* candidate, Shortcut& fast) {
    if (!shape_check::may_parse(shape_check::Concrete(text), shape_check::FormatText(candidate),
                                fast.c_locale()))
        return 0;
    const int r =
        call_strptime(reinterpret_cast<PyObject*>(PyDateTimeAPI->DateTimeType), text, candidate);
    fast.python_ran();
    return r;
}

// One candidate taken as it comes: the pre-check where it applies, else
// the candidate is built and tried. 1 found (*found set), 0 not, -1 error.
int try_stepped(Walk& w, PyObject* text, Shortcut& fast, Ref* found) {
    Ref date_format = w.date_format, time_format = w.time_format;
    Ref sep = Ref::borrow(PyList_GET_ITEM(w.seps.get(), w.s));
    const int rejected = reject_unbuilt(w.self, text, date_format.get(), sep.get(),
                                        time_format.get(), fast.c_locale());
    if (rejected) return rejected < 0 ? -1 : 0;
    fast.python_ran();
    Ref candidate = combine(w.self, date_format.get(), sep.get(), time_format.get());
    if (!candidate) return -1;
    const int r = attempt_found(text, candidate.get());
    if (r > 0) *found = candidate;
    return r;
}

// Stage 2: every date format × time format × separator, in that order.
Ref search_with_time(Finder* self, PyObject* text) {
    Walk w(self);
    w.dates = Ref::borrow(self->date_formats);
    if (!require_list(w.dates.get())) return Ref();
    Shortcut fast(text);
    for (;;) {
        const int more = w.step();
        if (more < 0) return Ref();
        if (!more) break;
        const int jumping = fast.check(w);
        if (jumping < 0) return Ref();
        Ref found;
        int r;
        if (jumping) {
            const std::size_t index = fast.next_at(w.flat());
            if (index == kCandidateCount) break;  // nothing further can parse
            w.jump(index);
            found = Ref::borrow(candidate_str(index));
            if (!found) return Ref();
            r = try_survivor(text, found.get(), fast);
        } else {
            r = try_stepped(w, text, fast, &found);
        }
        if (r < 0) return Ref();
        if (r) return remember(text, found.get()) ? found : Ref();
    }
    PyErr_SetString(PyExc_ValueError,
                    "No matching format found for the given date string with time components.");
    return Ref();
}

// Stage 3: date formats, then the precomputed list, skipping known failures.
Ref search_without_time(Finder* self, PyObject* text) {
    PlainShortcut fast(text);
    for (PyObject* Finder::* field : {&Finder::date_formats, &Finder::unique_formats}) {
        const PlainList which =
            field == &Finder::date_formats ? PlainList::dates : PlainList::other;
        Ref found = try_formats(self, Ref::borrow(self->*field), text, which, fast);
        if (!found) return Ref();
        const int ok = PyObject_IsTrue(found.get());
        if (ok < 0) return Ref();
        if (ok) return remember(text, found.get()) ? found : Ref();
    }
    PyErr_SetString(PyExc_ValueError, "No matching format found for the given date string.");
    return Ref();
}

PyObject* search_impl(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static const reru::Unary sig{"search", "date_string"};
    PyObject* text = sig.str_arg(args, nargs, kwnames);
    if (text == nullptr) return nullptr;
    // Keep the finder alive even if a strptime replacement drops it.
    Ref keep = Ref::borrow(self);
    Finder* finder = as_finder(self);
    Ref cached = search_cache(text);
    if (!cached) return nullptr;
    if (cached.get() != Py_None) return cached.release();
    const int timed = has_time_of_day(text);
    if (timed < 0) return nullptr;
    return (timed ? search_with_time(finder, text) : search_without_time(finder, text)).release();
}
const reru::FunctionDef search_def{"search", search_impl, "search($self, /, date_string)\n--\n\n"};

PyObject* clear_cache_impl(PyObject*, PyObject* const*, Py_ssize_t nargs, PyObject* kwnames) {
    if (!reru::no_args("clear_cache", nargs, kwnames)) return nullptr;
    for (reru::Name* name : {&n_successful, &n_historical}) {
        Ref container = class_attr(*name);
        if (!container) return nullptr;
        if (!Ref::steal(PyObject_CallMethodNoArgs(container.get(), n_clear.get()))) return nullptr;
    }
    Py_RETURN_NONE;
}
const reru::FunctionDef clear_cache_def{"clear_cache", clear_cache_impl, "clear_cache()\n--\n\n"};

int finder_init(PyObject* obj, PyObject* args, PyObject* kwds) {
    static const char* const params[] = {"old_sep"};
    static const reru::Signature sig{"__init__", params, 1, 0};
    PyObject* old_sep;
    if (!reru::parse_tuple(sig, args, kwds, &old_sep)) return -1;
    if (old_sep == nullptr) old_sep = n_slash.get();
    Finder* self = as_finder(obj);
    Ref formats = Ref::steal(PyObject_CallNoArgs(reinterpret_cast<PyObject*>(dformats_type)));
    if (!set_field(self, Field::formats, std::move(formats))) return -1;
    const std::pair<Field, reru::Name*> lists[] = {
        {Field::date_formats, &n_Dates},
        {Field::time_formats, &n_Times},
        {Field::unique_formats, &n_Unique},
    };
    for (int i = 0; i < 3; ++i) {
        // Read at each use and held: the call can run Python code that
        // replaces the field.
        Ref current = Ref::borrow(self->formats);
        if (!set_field(self, lists[i].first, catalogue_list(current.get(), i, *lists[i].second)))
            return -1;
    }
    if (!set_field(self, Field::separators, shared_list(pristine.separators, kSepCount))) return -1;
    if (!set_field(self, Field::old_sep, Ref::borrow(old_sep))) return -1;
    if (!set_field(self, Field::seen_formats, Ref::steal(PySet_New(nullptr)))) return -1;
    return set_field(self, Field::precomputed_formats, precompute_formats(self)) ? 0 : -1;
}

// ---------------------------------------------------------------------------
// Pickling

constexpr long kChecksum = 0xAFAD1CD;
constexpr const char kFieldNames[] =
    "date_formats, formats, old_sep, precomputed_formats, seen_formats, separators, "
    "time_formats, unique_formats";

// The instance dictionary (of a subclass instance), or None when the
// instance has none; NULL on error.
Ref instance_dict(PyObject* self) {
    Ref dict = reru::attr(self, n_dict);
    if (dict || !PyErr_ExceptionMatches(PyExc_AttributeError)) return dict;
    PyErr_Clear();
    return Ref::borrow(Py_None);
}

PyObject* finder_reduce(PyObject* self, PyObject* const*, Py_ssize_t nargs, PyObject* kwnames) {
    if (!reru::no_params("__reduce__", nargs, kwnames)) return nullptr;
    Ref dict = instance_dict(self);
    if (!dict) return nullptr;
    const int filled = dict.get() == Py_None ? 0 : PyObject_IsTrue(dict.get());
    if (filled < 0) return nullptr;
    const bool with_dict = filled > 0;
    Ref state = Ref::steal(PyTuple_New(with_dict ? 9 : 8));
    if (!state) return nullptr;
    bool any_set = with_dict;
    for (std::size_t i = 0; i < kStateFields.size(); ++i) {
        PyObject* value = as_finder(self)->*kStateFields[i].field;
        any_set = any_set || value != Py_None;
        PyTuple_SET_ITEM(state.get(), static_cast<Py_ssize_t>(i), Py_NewRef(value));
    }
    if (with_dict) PyTuple_SET_ITEM(state.get(), 8, dict.release());
    Ref restore = reru::global(guard.dict, n_restore);
    if (!restore) return nullptr;
    PyObject* type = reinterpret_cast<PyObject*>(Py_TYPE(self));
    if (any_set)
        return Py_BuildValue("(O(OlO)O)", restore.get(), type, kChecksum, Py_None, state.get());
    return Py_BuildValue("(O(OlO))", restore.get(), type, kChecksum, state.get());
}
const reru::FunctionDef finder_reduce_def{"__reduce__", finder_reduce,
                                          "__reduce__($self, /)\n--\n\n"};

// Assigns the eight fields from a state tuple and merges a ninth item, a
// non-empty dictionary, into the instance dictionary.
bool apply_state(PyObject* self, PyObject* state) {
    const Py_ssize_t size = PyTuple_GET_SIZE(state);
    for (std::size_t i = 0; i < kStateFields.size(); ++i) {
        if (static_cast<Py_ssize_t>(i) >= size) {
            PyErr_SetString(PyExc_IndexError, "tuple index out of range");
            return false;
        }
        if (!set_field(as_finder(self), kStateFields[i], PyTuple_GET_ITEM(state, i))) return false;
    }
    if (size <= 8) return true;
    const int extra = PyObject_IsTrue(PyTuple_GET_ITEM(state, 8));
    if (extra <= 0) return extra == 0;
    Ref dict = reru::attr(self, n_dict);
    if (!dict) return false;
    Ref update = reru::attr(dict.get(), n_update);
    return update && Ref::steal(PyObject_CallOneArg(update.get(), PyTuple_GET_ITEM(state, 8)));
}

PyObject* finder_setstate(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                          PyObject* kwnames) {
    static const reru::Unary sig{"__setstate__", "state"};
    PyObject* state = sig.arg(args, nargs, kwnames);
    if (state == nullptr) return nullptr;
    if (state == Py_None) {
        reru::raise_not_none();
        return nullptr;
    }
    if (!reru::check_field(state, &PyTuple_Type, "tuple")) return nullptr;
    if (!apply_state(self, state)) return nullptr;
    Py_RETURN_NONE;
}
const reru::FunctionDef finder_setstate_def{"__setstate__", finder_setstate,
                                            "__setstate__($self, /, state)\n--\n\n"};

PyObject* restore_impl(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static const char* const params[] = {"type", "checksum", "state"};
    static const reru::Signature sig{"__restore_DateFormatFinder", params, 3, 3};
    PyObject* in[3];
    if (!reru::parse(sig, args, nargs, kwnames, in)) return nullptr;
    PyObject *type = in[0], *checksum = in[1], *state = in[2];
    Ref accepted = Ref::steal(Py_BuildValue("(lll)", 0x552620AL, 0xAFAD1CDL, 0x917722DL));
    if (!accepted) return nullptr;
    const int known = PySequence_Contains(accepted.get(), checksum);
    if (known < 0) return nullptr;
    if (!known) {
        Ref error = reru::import_attr("pickle", "PickleError");
        if (!error) return nullptr;
        Ref text = Ref::steal(PyUnicode_FromFormat(
            "Incompatible checksums (0x%%x vs (0xafad1cd, 0x917722d, 0x552620a) = (%s))",
            kFieldNames));
        if (!text) return nullptr;
        Ref message = Ref::steal(PyUnicode_Format(text.get(), checksum));
        if (message) PyErr_SetObject(error.get(), message.get());
        return nullptr;
    }
    if (!reru::check_arg(state, &PyTuple_Type, "state", reru::NoneOk::yes, true)) return nullptr;
    PyObject* call_args[] = {reinterpret_cast<PyObject*>(finder_type), type};
    Ref obj = Ref::steal(PyObject_VectorcallMethod(n_new.get(), call_args,
                                                   2 | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr));
    if (!obj) return nullptr;
    if (state != Py_None) {
        if (!PyObject_TypeCheck(obj.get(), finder_type)) {
            PyErr_Format(PyExc_TypeError, "Expected %.42s, got %.200s", "DateFormatFinder",
                         Py_TYPE(obj.get())->tp_name);
            return nullptr;
        }
        if (!apply_state(obj.get(), state)) return nullptr;
    }
    return obj.release();
}
const reru::FunctionDef restore_def{
    "__restore_DateFormatFinder", restore_impl,
    "__restore_DateFormatFinder($module, /, type, checksum, state)\n--\n\n"};

PyType_Slot finder_slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(finder_new)},
    {Py_tp_init, reinterpret_cast<void*>(finder_init)},
    {Py_tp_dealloc, reinterpret_cast<void*>(finder_dealloc)},
    {Py_tp_traverse, reinterpret_cast<void*>(finder_traverse)},
    {Py_tp_clear, reinterpret_cast<void*>(finder_clear)},
    {0, nullptr},
};

PyType_Spec finder_spec = {
    "chronvale.reru.pyd.zududized.patternseek.DateFormatFinder",   sizeof(Finder), 0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_HAVE_GC, finder_slots,
};

// ---------------------------------------------------------------------------
// Module body

bool set_class_attr(const char* name, Ref value) {
    if (!value ||
        PyObject_SetAttrString(reinterpret_cast<PyObject*>(finder_type), name, value.get()) != 0)
        return false;
    return true;
}

bool body(PyObject* module, PyObject* dict) {
    PyDateTime_IMPORT;
    if (PyDateTimeAPI == nullptr) return false;
    if (!reru::add_type(module, &dformats_spec, "dFormats", dformats_type) ||
        !reru::add_type(module, &finder_spec, "DateFormatFinder", finder_type))
        return false;

    Ref re = Ref::steal(PyImport_ImportModule("re"));
    if (!reru::set_global(dict, "re", re.get())) return false;
    Ref py_datetime = reru::import_attr("datetime", "datetime");
    if (!reru::set_global(dict, "py_datetime", py_datetime.get())) return false;

    for (const reru::FunctionDef* def : {&unique_def, &dates_def, &times_def})
        if (!reru::add_method(dformats_type, module, *def)) return false;
    if (!build_pristine(dformats_type->tp_dict)) return false;
    if (!reru::add_method(dformats_type, module, dformats_reduce_def) ||
        !reru::refuse_pickling(dformats_type, module, /*keep_reduce=*/true))
        return false;

    if (!reru::add_function(module, anytime_def)) return false;
    Ref regex = Ref::steal(anytime_impl(module, nullptr, 0, nullptr));
    if (!reru::set_global(dict, "anytime_regex", regex.get())) return false;
    anytime_pattern = Py_NewRef(regex.get());
    Ref annotations = Ref::steal(Py_BuildValue("{ss}", "datetime_string", "str"));
    if (!annotations ||
        !reru::add_annotated_function(module, get_time_components_def, annotations.get()))
        return false;

    if (!set_class_attr("successful_formats", Ref::steal(PyDict_New())) ||
        !set_class_attr("historical_formats", Ref::steal(PySet_New(nullptr))))
        return false;
    if (!reru::add_method(finder_type, module, search_def) ||
        !reru::add_method(finder_type, module, clear_cache_def, /*is_static=*/true) ||
        !reru::add_method(finder_type, module, finder_reduce_def) ||
        !reru::add_method(finder_type, module, finder_setstate_def))
        return false;

    if (!reru::set_all(module, {"DateFormatFinder"})) return false;
    return reru::add_function(module, restore_def);
}

}  // namespace

RERU_MODULE(patternseek, guard, body)
