// Module patternseek: finds the strptime format of a date string by trial.
//
// dFormats is the fixed catalogue of date, time and stand-alone formats;
// DateFormatFinder tries candidates built from it with datetime.strptime,
// remembers answers in a cache shared by the class, and remembers for each
// finder the formats that failed. get_time_components decides with one
// regular expression whether the string carries a time of day.
//
// The search below is the plain algorithm, step by step. Everything that
// makes it fast without changing what it does lives beside it, in the
// verdict layer (patternseek/verdicts.hpp, where its contract is stated):
// the search asks it whether a candidate is proved refused before calling
// strptime, and which candidates of a loop it may pass over. Built with
// CHRONVALE_PLAIN_ROAD (the test-only twin module), the layer proves
// nothing and every candidate is tried.
#include "anytime_pattern.hpp"
#include "patternseek/catalogue.hpp"
#include "patternseek/clock.hpp"
#include "patternseek/verdicts.hpp"
#include "reru.hpp"

#include <datetime.h>

#include <array>
#include <span>
#include <string_view>

#ifndef CHRONVALE_FINDER_MODULE
#define CHRONVALE_FINDER_MODULE patternseek
#define CHRONVALE_FINDER_PATH "chronvale.reru.pyd.zududized.patternseek"
#endif
#define CHRONVALE_STR(x) #x
#define CHRONVALE_NAME(x) CHRONVALE_STR(x)

using reru::Ref;

namespace {

reru::ModuleGuard guard{CHRONVALE_NAME(CHRONVALE_FINDER_MODULE)};

// Interned names used at run time.
reru::Name n_re{"re"};
reru::Name n_compile{"compile"};
reru::Name n_ignorecase{"IGNORECASE"};
reru::Name n_search{"search"};
reru::Name n_anytime_regex{"anytime_regex"};
reru::Name n_strptime{"strptime"};
reru::Name n_successful{"successful_formats"};
reru::Name n_historical{"historical_formats"};
reru::Name n_add{"add"};
reru::Name n_clear{"clear"};
reru::Name n_dict{"__dict__"};
reru::Name n_update{"update"};
reru::Name n_new{"__new__"};
reru::Name n_Dates{"Dates"};
reru::Name n_Times{"Times"};
reru::Name n_Unique{"Unique"};
reru::Name n_restore{"__restore_DateFormatFinder"};
reru::Name n_space{" "};
using verdicts::n_py_datetime;

// The two classes, each with a reference of its own (see reru::add_type).
PyTypeObject* dformats_type = nullptr;
PyTypeObject* finder_type = nullptr;

#ifdef CHRONVALE_PLAIN_ROAD
constexpr bool kShortcuts = false;
#else
constexpr bool kShortcuts = true;
#endif

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

// ---------------------------------------------------------------------------
// dFormats

struct DFormats {
    PyObject_HEAD
    std::span<const std::string_view> date_entries;
    std::span<const std::string_view> time_entries;
    std::span<const std::string_view> unique_entries;
};

PyObject* dformats_new(PyTypeObject* type, PyObject*, PyObject*) {
    auto* self = reinterpret_cast<DFormats*>(type->tp_alloc(type, 0));
    if (self == nullptr) return nullptr;
    self->date_entries = catalogue::kDates;
    self->time_entries = catalogue::kTimes;
    self->unique_entries = catalogue::kUnique;
    return reinterpret_cast<PyObject*>(self);
}

void dformats_dealloc(PyObject* self) {
    PyTypeObject* tp = Py_TYPE(self);
    tp->tp_free(self);
    Py_DECREF(tp);
}

// A new list of new str objects, one per entry, in order.
PyObject* entries_to_list(std::span<const std::string_view> entries) {
    Ref list = Ref::steal(PyList_New(static_cast<Py_ssize_t>(entries.size())));
    if (!list) return nullptr;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        PyObject* s = PyUnicode_FromStringAndSize(entries[i].data(),
                                                  static_cast<Py_ssize_t>(entries[i].size()));
        if (s == nullptr) return nullptr;
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), s);
    }
    return list.release();
}

template <std::span<const std::string_view> DFormats::* Field, const char* Name>
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
    CHRONVALE_FINDER_PATH ".dFormats",        sizeof(DFormats), 0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE, dformats_slots,
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
    Ref source = Ref::steal(PyUnicode_FromStringAndSize(anytime_source, sizeof anytime_source - 1));
    if (!source) return nullptr;
    return PyObject_CallFunctionObjArgs(compile.get(), source.get(), flag.get(), nullptr);
}
const reru::FunctionDef anytime_def{"anytime", anytime_impl, "anytime($module, /)\n--\n\n"};

// The pattern compiled at import (owned, kept for the life of the process).
// While the module global `anytime_regex` still holds it, a search with it
// is answered by the scanner of clock.hpp, which decides exactly as the
// regular expression does.
PyObject* anytime_pattern = nullptr;

// 1 when `anytime_regex.search(text)` finds a match, 0 when not, -1 on error.
int has_time_of_day(PyObject* text) {
    if (text == Py_None) {
        reru::raise_not_none();
        return -1;
    }
    Ref regex = reru::global(guard.dict, n_anytime_regex);
    if (!regex) return -1;
    if (kShortcuts && regex.get() == anytime_pattern && PyUnicode_CheckExact(text))
        return clock_scan::has_time_of_day(text);
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
// DateFormatFinder: the instance

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

// Iterates a list field like a Python for-loop (None is not iterable).
bool require_list(PyObject* field) {
    if (PyList_Check(field)) return true;
    PyErr_Format(PyExc_TypeError, "'%.200s' object is not iterable", Py_TYPE(field)->tp_name);
    return false;
}

// ---------------------------------------------------------------------------
// _precompute_formats: every date and stand-alone format as it stands, then
// each of its separator variants not yet in the list.

Ref precompute_formats(Finder* self) {
    Ref combined = Ref::steal(PyNumber_Add(self->date_formats, self->unique_formats));
    if (!combined) return Ref();
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
            Ref variant = reru::str_replace(entry.get(), old_sep.get(), sep.get());
            if (!variant) return Ref();
            const int present = PySequence_Contains(result.get(), variant.get());
            if (present < 0) return Ref();
            if (!present && PyList_Append(result.get(), variant.get()) != 0) return Ref();
        }
    }
    return result;
}

// ---------------------------------------------------------------------------
// The search: the cache, then date x time x separator when the text has a
// time of day, else the date formats and the precomputed list.

struct Search {
    Search(Finder* finder, PyObject* date_string)
        : self(finder), text(date_string), layer(date_string, guard.dict) {}

    Finder* self;
    PyObject* text;  // the date string: an exact str, or None
    verdicts::Layer layer;
};

// `date_string.encode()` (strict UTF-8): the search encodes the text before
// each attempt of stages 1 and 2 and once per try_formats; the UTF-8 form
// is cached by the str object, so only the first check costs.
bool encode(PyObject* text) {
    if (text == Py_None) return raise_none_attribute("encode") != nullptr;
    return PyUnicode_AsUTF8AndSize(text, nullptr) != nullptr;
}

// strptime(text, fmt) through py_datetime: 1 when it returned a datetime,
// 0 when it raised ValueError, -1 on any other error.
int call_strptime(PyObject* text, PyObject* fmt) {
    Ref cls = reru::global(guard.dict, n_py_datetime);
    if (!cls) return -1;
    Ref strptime = reru::attr(cls.get(), n_strptime);
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
    return 1;
}

// generate_formats(date_bytes, [fmt]): one attempt. 1 when `fmt` parses
// the text (the format is then added to historical_formats), 0 when
// strptime refused it, -1 on any other error. The layer's verdict stands
// in for the call where it proves the outcome. `stage3`: the candidate
// comes from a list of stage 3.
int attempt(Search& s, PyObject* fmt, bool stage3) {
    const verdicts::Verdict verdict = s.layer.judge(fmt, stage3);
    if (verdict == verdicts::Verdict::refused) return 0;
    s.layer.python_ran();
    if (verdict != verdicts::Verdict::accepted) {
        const int parsed = call_strptime(s.text, fmt);
        if (parsed <= 0) return parsed;
    }
    Ref historical = class_attr(n_historical);
    return historical && call_add(historical.get(), fmt) ? 1 : -1;
}

// The attempt's result counts as found only when it is a non-empty string.
int found(Search& s, PyObject* fmt, int attempted) {
    if (attempted <= 0) return attempted;
    const int nonempty = PyObject_IsTrue(fmt);
    if (!PyUnicode_CheckExact(fmt)) s.layer.python_ran();
    return nonempty;
}

bool remember(PyObject* text, PyObject* fmt) {
    Ref cache = class_attr(n_successful);
    return cache && PyObject_SetItem(cache.get(), text, fmt) == 0;
}

// Stage 1: a cached answer, re-tested once. Returns the format, None when
// there is no valid cached answer (a stale one is evicted), NULL on error.
Ref search_cache(Search& s) {
    Ref cache = class_attr(n_successful);
    if (!cache) return Ref();
    Ref fmt;
    if (PyDict_CheckExact(cache.get())) {
        fmt = Ref::borrow(PyDict_GetItemWithError(cache.get(), s.text));
        if (!fmt && PyErr_Occurred()) return Ref();
    } else {
        const int present = PySequence_Contains(cache.get(), s.text);
        if (present < 0) return Ref();
        if (present) {
            cache = class_attr(n_successful);
            if (!cache) return Ref();
            fmt = Ref::steal(PyObject_GetItem(cache.get(), s.text));
            if (!fmt) return Ref();
        }
    }
    s.layer.python_ran();  // a key's __eq__ may have run
    if (!fmt) return Ref::borrow(Py_None);
    if (!encode(s.text)) return Ref();
    const int r = found(s, fmt.get(), attempt(s, fmt.get(), false));
    if (r < 0) return Ref();
    if (r) return fmt;
    cache = class_attr(n_successful);
    if (!cache || PyObject_DelItem(cache.get(), s.text) != 0) return Ref();
    Ref historical = class_attr(n_historical);
    if (!historical || !call_add(historical.get(), fmt.get())) return Ref();
    s.layer.python_ran();
    return Ref::borrow(Py_None);
}

// `date_format.replace(old_sep, sep) + " " + time_format`, with old_sep as
// the field holds it now.
Ref combine(Search& s, PyObject* date_format, PyObject* sep, PyObject* time_format) {
    Ref old_sep = Ref::borrow(s.self->old_sep);  // a method lookup can run Python code
    Ref date_part = reru::str_replace(date_format, old_sep.get(), sep);
    if (!date_part) return Ref();
    Ref with_space = Ref::steal(PyNumber_Add(date_part.get(), n_space.get()));
    if (!with_space) return Ref();
    Ref candidate = Ref::steal(PyNumber_Add(with_space.get(), time_format));
    for (PyObject* part : {date_format, sep, time_format, old_sep.get()})
        if (!PyUnicode_CheckExact(part)) s.layer.python_ran();
    return candidate;
}

// Stage 2: for date_format in date_formats, for time_format in
// time_formats, for sep in separators: try the candidate. Each loop holds
// its list as a Python for-loop does (a field replaced meanwhile is read
// again by the next inner loop); the layer tells each loop where its next
// candidate that is not proved refused stands.
Ref search_with_time(Search& s) {
    Finder* self = s.self;
    Ref dates = Ref::borrow(self->date_formats);
    if (!require_list(dates.get())) return Ref();
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(dates.get()); ++i) {
        Ref date_format = Ref::borrow(PyList_GET_ITEM(dates.get(), i));
        Ref times = Ref::borrow(self->time_formats);
        if (!require_list(times.get())) return Ref();
        auto next_time = [&](Py_ssize_t from) {
            return s.layer.next_time(date_format.get(), i, times.get(), from, self->separators,
                                     self->old_sep);
        };
        for (Py_ssize_t j = next_time(0); j < PyList_GET_SIZE(times.get()); j = next_time(j + 1)) {
            Ref time_format = Ref::borrow(PyList_GET_ITEM(times.get(), j));
            Ref seps = Ref::borrow(self->separators);
            if (!require_list(seps.get())) return Ref();
            auto next_sep = [&](Py_ssize_t from) {
                return s.layer.next_separator(date_format.get(), i, time_format.get(), j,
                                              seps.get(), from, self->old_sep);
            };
            for (Py_ssize_t k = next_sep(0); k < PyList_GET_SIZE(seps.get()); k = next_sep(k + 1)) {
                Ref sep = Ref::borrow(PyList_GET_ITEM(seps.get(), k));
                Ref candidate = combine(s, date_format.get(), sep.get(), time_format.get());
                if (!candidate || !encode(s.text)) return Ref();
                const int r = found(s, candidate.get(), attempt(s, candidate.get(), false));
                if (r < 0) return Ref();
                if (r) return remember(s.text, candidate.get()) ? candidate : Ref();
            }
        }
    }
    PyErr_SetString(PyExc_ValueError,
                    "No matching format found for the given date string with time components.");
    return Ref();
}

// try_formats' walk over one list: every position (the length taken once),
// skipping the formats in seen_formats, adding those that failed. Sets
// *result (new reference) to the first format that parsed.
bool try_list(Search& s, PyObject* candidates, Ref* result) {
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
        Ref seen_set = Ref::borrow(s.self->seen_formats);
        // An entry proved refused ends in seen_formats whether it was there
        // or not; where the set's operations run no Python code, adding it
        // is all the steps below would do.
        if (s.layer.refused_entry(seen_set.get(), fmt.get())) {
            if (PySet_Add(seen_set.get(), fmt.get()) != 0) return false;
            continue;
        }
        const int seen = PySet_CheckExact(seen_set.get())
                             ? PySet_Contains(seen_set.get(), fmt.get())
                             : PySequence_Contains(seen_set.get(), fmt.get());
        s.layer.operation_on(seen_set.get(), fmt.get());
        if (seen < 0) return false;
        if (seen) continue;
        const int r = found(s, fmt.get(), attempt(s, fmt.get(), true));
        if (r < 0) return false;
        if (r) {
            *result = fmt;
            return true;
        }
        seen_set = Ref::borrow(s.self->seen_formats);
        const bool added = call_add(seen_set.get(), fmt.get());
        s.layer.operation_on(seen_set.get(), fmt.get());
        if (!added) return false;
    }
    return true;
}

// try_formats(candidates, date_string): the candidates, then the
// precomputed list as the field holds it after them. The lists are held
// while they are walked.
Ref try_formats(Search& s, Ref candidates) {
    if (!encode(s.text)) return Ref();
    Ref result;
    if (!try_list(s, candidates.get(), &result)) return Ref();
    if (result) return result;
    Ref precomputed = Ref::borrow(s.self->precomputed_formats);
    if (!try_list(s, precomputed.get(), &result)) return Ref();
    return result ? result : Ref::borrow(Py_None);
}

// Stage 3: date formats, then the stand-alone formats, each followed by the
// precomputed list, skipping known failures.
Ref search_without_time(Search& s) {
    for (PyObject* Finder::* field : {&Finder::date_formats, &Finder::unique_formats}) {
        Ref result = try_formats(s, Ref::borrow(s.self->*field));
        if (!result) return Ref();
        const int ok = PyObject_IsTrue(result.get());
        if (ok < 0) return Ref();
        if (ok) return remember(s.text, result.get()) ? result : Ref();
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
    if (kShortcuts) verdicts::learn_locale_language();
    Search s(as_finder(self), text);
    Ref cached = search_cache(s);
    if (!cached) return nullptr;
    if (cached.get() != Py_None) return cached.release();
    const int timed = has_time_of_day(text);
    if (timed < 0) return nullptr;
    if (!kShortcuts || !PyUnicode_CheckExact(text)) s.layer.python_ran();
    return (timed ? search_with_time(s) : search_without_time(s)).release();
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

// ---------------------------------------------------------------------------
// Construction. A finder built the default way gets new lists holding the
// catalogue's shared str objects (made once, at import) and a copy of the
// precomputed list made from them, which is what the steps below would
// build: str objects are immutable, so only identity can tell.

Ref shared_list(PyObject* const* items, std::size_t count) {
    Ref list = Ref::steal(PyList_New(static_cast<Py_ssize_t>(count)));
    for (std::size_t i = 0; list && i < count; ++i)
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), Py_NewRef(items[i]));
    return list;
}

// dFormats.Dates, .Times and .Unique as the module bound them (owned).
PyObject* accessors[3];

// `formats.<method>()`: a new list of the shared strings when the call would
// give the catalogue's own list (formats is exactly a dFormats, looked up
// the generic way, and the class still holds the module's accessor), else
// the real call.
Ref catalogue_list(PyObject* formats, int which, reru::Name& method) {
    using verdicts::pristine;
    static constexpr std::pair<PyObject* const*, std::size_t> lists[] = {
        {pristine.dates, catalogue::kDateCount},
        {pristine.times, catalogue::kTimeCount},
        {pristine.unique, catalogue::kUniqueCount}};
    if (kShortcuts && Py_IS_TYPE(formats, dformats_type) &&
        dformats_type->tp_getattro == PyObject_GenericGetAttr &&
        _PyType_Lookup(dformats_type, method.get()) == accessors[which])
        return shared_list(lists[which].first, lists[which].second);
    return Ref::steal(PyObject_CallMethodNoArgs(formats, method.get()));
}

// _precompute_formats, or a copy of the catalogue's precomputed list when
// the lists and old_sep are the catalogue's.
Ref precomputed_for(Finder* self) {
    using verdicts::pristine;
    using verdicts::pristine_list;
    if (kShortcuts && verdicts::same_str(self->old_sep, pristine.old_sep) &&
        pristine_list(self->date_formats, pristine.dates, catalogue::kDateCount) &&
        pristine_list(self->unique_formats, pristine.unique, catalogue::kUniqueCount) &&
        pristine_list(self->separators, pristine.separators, catalogue::kSepCount))
        return Ref::steal(PyList_GetSlice(pristine.precomputed, 0, PY_SSIZE_T_MAX));
    return precompute_formats(self);
}

int finder_init(PyObject* obj, PyObject* args, PyObject* kwds) {
    static const char* const params[] = {"old_sep"};
    static const reru::Signature sig{"__init__", params, 1, 0};
    PyObject* old_sep;
    if (!reru::parse_tuple(sig, args, kwds, &old_sep)) return -1;
    if (old_sep == nullptr) old_sep = verdicts::pristine.old_sep;
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
    if (!set_field(self, Field::separators,
                   shared_list(verdicts::pristine.separators, catalogue::kSepCount)))
        return -1;
    if (!set_field(self, Field::old_sep, Ref::borrow(old_sep))) return -1;
    if (!set_field(self, Field::seen_formats, Ref::steal(PySet_New(nullptr)))) return -1;
    return set_field(self, Field::precomputed_formats, precomputed_for(self)) ? 0 : -1;
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
    CHRONVALE_FINDER_PATH ".DateFormatFinder",
    sizeof(Finder),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_HAVE_GC,
    finder_slots,
};

// ---------------------------------------------------------------------------
// Module body

bool set_class_attr(const char* name, Ref value) {
    if (!value ||
        PyObject_SetAttrString(reinterpret_cast<PyObject*>(finder_type), name, value.get()) != 0)
        return false;
    return true;
}

bool fill_strs(PyObject** out, std::span<const std::string_view> entries) {
    for (std::size_t i = 0; i < entries.size(); ++i) {
        PyObject* s = PyUnicode_FromStringAndSize(entries[i].data(),
                                                  static_cast<Py_ssize_t>(entries[i].size()));
        if (s == nullptr) return false;
        PyUnicode_InternInPlace(&s);
        out[i] = s;
    }
    return true;
}

// The catalogue's shared strings, its precomputed list (made by the steps
// of _precompute_formats on a finder holding the catalogue's lists) and
// the verdict layer's tables.
bool build_catalogue(PyObject* dformats_dict) {
    using verdicts::pristine;
    if (!fill_strs(pristine.dates, catalogue::kDates) ||
        !fill_strs(pristine.times, catalogue::kTimes) ||
        !fill_strs(pristine.unique, catalogue::kUnique) ||
        !fill_strs(pristine.separators, catalogue::kSeparators))
        return false;
    reru::Name* names[] = {&n_Dates, &n_Times, &n_Unique};
    for (int i = 0; i < 3; ++i) {
        PyObject* f = PyDict_GetItemWithError(dformats_dict, names[i]->get());
        if (f == nullptr)
            return PyErr_Occurred() ? false
                                    : !PyErr_Format(PyExc_SystemError, "no %s", names[i]->text());
        accessors[i] = Py_NewRef(f);
    }
    Ref model = Ref::steal(finder_new(finder_type, nullptr, nullptr));
    if (!model) return false;
    Finder* f = as_finder(model.get());
    if (!set_field(f, Field::date_formats, shared_list(pristine.dates, catalogue::kDateCount)) ||
        !set_field(f, Field::unique_formats,
                   shared_list(pristine.unique, catalogue::kUniqueCount)) ||
        !set_field(f, Field::separators, shared_list(pristine.separators, catalogue::kSepCount)) ||
        !set_field(f, Field::old_sep, Ref::borrow(pristine.separators[0])))
        return false;
    Ref precomputed = precompute_formats(f);
    return precomputed && verdicts::init(precomputed.get());
}

#ifdef CHRONVALE_COUNTING
// _counts(): what the verdict layer did since the last call, as a dict (the
// counting test build only).
PyObject* counts_impl(PyObject*, PyObject* const*, Py_ssize_t nargs, PyObject* kwnames) {
    if (!reru::no_args("_counts", nargs, kwnames)) return nullptr;
    const verdicts::Counts c = verdicts::counts;
    verdicts::counts = {};
    return Py_BuildValue("{snsnsnsnsnsnsnsnsnsn}", "facts_read", c.facts_read, "memo_found",
                         c.memo_found, "memo_computed", c.memo_computed, "judged", c.judged,
                         "decided", c.decided, "prechecked", c.prechecked, "pure_scans",
                         c.pure_scans, "passed_over", c.passed_over, "index_scans", c.index_scans,
                         "id_lookups", c.id_lookups);
}
const reru::FunctionDef counts_def{"_counts", counts_impl, "_counts($module, /)\n--\n\n"};
#endif

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
    if (!build_catalogue(dformats_type->tp_dict)) return false;
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
#ifdef CHRONVALE_COUNTING
    if (!reru::add_function(module, counts_def)) return false;
#endif
    return reru::add_function(module, restore_def);
}

}  // namespace

// The module's name comes from the build (patternseek, or the twin's).
RERU_MODULE(CHRONVALE_FINDER_MODULE, guard, body)
