// Module Compiled: a catalogue of regular expressions for the pieces of a
// time of day in free text, compiled once at import; a translator from
// strftime-style formats to anchored patterns with named groups; and
// cRegexps, which hands out five of the catalogue's patterns by the name of
// a clock-time component.
//
// Module-level names (`re`, `regex_patterns`, `compiled_patterns`, the
// pattern attributes) are read from the module dictionary, then the
// builtins, each time they are used, so rebinding an attribute changes later
// behaviour; nothing compiled at import is ever rebuilt.
#include "anytime_pattern.hpp"
#include "reru.hpp"

#include <iterator>

using reru::Ref;

static reru::ModuleGuard guard{"Compiled"};

namespace {

reru::Name name_re{"re"};
reru::Name name_compile{"compile"};
reru::Name name_ignorecase{"IGNORECASE"};
reru::Name name_items{"items"};
reru::Name name_values{"values"};
reru::Name name_get{"get"};
reru::Name name_full_name{"full_name"};
reru::Name name_zonebook_dict{"zonebook_dict"};
reru::Name name_timezone_abbrv{"timezone_abbrv"};
reru::Name name_timezone_abbrv_pattern{"timezone_abbrv_pattern"};
reru::Name name_full_names{"full_names"};
reru::Name name_full_names_pattern{"full_names_pattern"};
reru::Name name_regex_patterns{"regex_patterns"};
reru::Name name_compiled_patterns{"compiled_patterns"};
reru::Name name_datetime{"datetime"};
reru::Name name_cregexps{"cRegexps"};
reru::Name name_get_time_fragments{"get_time_fragments"};

// Private state, built once while the module initialises (which happens once
// per process) and kept for the life of the process. Python code cannot
// reach or rebind either of them.
PyObject* directive_patterns = nullptr;  // tuple of (directive, fragment) str pairs
PyObject* default_regexps = nullptr;     // the cRegexps instance behind get_time_fragment
PyTypeObject* cregexps_type = nullptr;   // the class, with a reference of its own

struct Pair {
    const char* first;
    const char* second;
};

// ---------------------------------------------------------------------------
// Tables

// strftime directives and the pattern fragments that replace them, in the
// order of replacement (so "%-H" is replaced before "%H" can match inside it).
constexpr Pair directive_table[] = {
    {"%a", R"re((?P<weekday>Mon|Tue|Wed|Thu|Fri|Sat|Sun))re"},
    {"%A", R"re((?P<weekday>Monday|Tuesday|Wednesday|Thursday|Friday|Saturday|Sunday))re"},
    {"%w", R"re((?P<weekday>\d))re"},
    {"%u", R"re(\d)re"},
    {"%b", R"re((?P<month>[A-Za-z]{3}))re"},
    {"%B", R"re((?P<month>[A-Za-z]+))re"},
    {"%m", R"re((?P<month>\d{1,2}))re"},
    {"%-m", R"re((?P<month>\d{1,2}))re"},
    {"%d", R"re((?P<day>\d{1,2}))re"},
    {"%-d", R"re((?P<day>\d{1,2}))re"},
    {"%j", R"re((?P<day>\d{1,3}))re"},
    {"%-H", R"re((?P<hour24>(?:[0-9]|1[0-9]|2[0-3]|\d{1,2})))re"},
    {"%H", R"re((?P<hour24>(?:\d{1,2}|0?[0-9]|1[0-9]|2[0-3])))re"},
    {"%I", R"re((?P<hour12>(?:\d{1,2}|0?[1-9]|1[0-2])))re"},
    {"%-I", R"re((?P<hour12>(?:\d{1,2}|0?[1-9]|1[0-2])))re"},
    {"%M", R"re((?P<minute>\d{1,2}))re"},
    {"%-M", R"re((?P<minute>\d{1,2}))re"},
    {"%S", R"re((?P<second>\d{1,2}))re"},
    {"%-S", R"re((?P<second>\d{1,2}))re"},
    {"%f", R"re((?P<microsecond>\d{1,6}))re"},
    {"%p", R"re((?P<am_pm>(?:AM|PM)))re"},
    {"%-y", R"re((?P<year>\d{2}))re"},
    {"%y", R"re((?P<year>\d{2}))re"},
    {"%Y", R"re((?P<year>\d{4}))re"},
    {"%z", R"re((?P<timezone>[\+\-](?:\d{4}|\d{2}:?\d{2})))re"},
    {"%Z",
     R"re((?P<timezone>(?:[\+\-]\d{2}:[0-9]{2}|[A-Za-z\s]+|[A-Za-z]{2,4}|UTC|[\+\-]\d{2}:?\d{2})))re"},
    {"%q", R"re(\d)re"},
    {"%U", R"re(\d{1,2})re"},
    {"%V", R"re(\d{1,2})re"},
};

// The catalogue's fixed sources (key, source), in the order of
// `regex_patterns`; the two zone alternations follow them.
constexpr Pair fixed_sources[] = {
    {"timemeridiem", R"re(\s*\b(AM|PM)\b\s*)re"},
    {"timeonly",
     R"re((?P<hours>\d{1,2}):(?P<minutes>\d{2})(?::(?P<seconds>\d{2})(?:\.(?P<microseconds>\d+))?)?)re"},
    {"timezone_offset", R"re((?<!\d)[+-]?(?:\d{1,2}(?::\d{1,2})?|\d{3,4})(?!\d))re"},
    {"iana_timezone_identifier", R"re(\b[A-Za-z_]+/[A-Za-z_]+\b)re"},
    {"anytime", anytime_source},
    {"timeplus",
     R"re((\d{1,2}:\d{2}:\d{2}|\d{6})(?:\.\d{1,6})?(?:\s*[AP]M)?(?:\s*(?:[+-]\d{2}:?\d{2}|[+-]\d{4}|[A-Z]{3,4}|Z))?)re"},
    {"establish_time_boundary", R"re((?<!\d)(\d{1,2}:\S.*))re"},
    {"datetime_second", R"re(\d{2}:\d{2}:(\d{2})(?:\.\d+)?)re"},
    {"datetime_minute", R"re(\d{2}:(\d{2})(:\d{2}(?:\.\d+)?)?)re"},
    {"datetime_hour", R"re((\d{1,2}):(\d{2})(:\d{2}(?:\.\d+)?)?)re"},
    {"datetime_microsecond", R"re(\d{2}:\d{2}:\d{2}\.(\d+))re"},
    {"datetime_timezone",
     R"re(\b\d{1,2}(:\d{2})?Z\b|[\+\-]\d{2}:?\d{2}|\b[A-Za-z]+/[A-Za-z_]+\b|\bAM\b|\bPM\b)re"},
};

// Module attributes bound to the compiled patterns (attribute, key).
constexpr Pair pattern_attributes[] = {
    {"second_regex", "datetime_second"},
    {"minute_regex", "datetime_minute"},
    {"hour_regex", "datetime_hour"},
    {"microsecond_regex", "datetime_microsecond"},
    {"timezone_regex", "datetime_timezone"},
    {"timezone_offset_regex", "timezone_offset"},
    {"iana_timezone_identifier_regex", "iana_timezone_identifier"},
    {"timemeridiem_regex", "timemeridiem"},
    {"time_only_regex", "timeonly"},
    {"anytime_regex", "anytime"},
    {"timeboundary_regex", "establish_time_boundary"},
    {"timezone_abbreviation_regex", "timezone_abbreviation"},
    {"full_timezone_name_regex", "full_timezone_name"},
    {"timeplus_regex", "timeplus"},
};

// What a cRegexps stores: component name and the module attribute read, by
// name, each time an instance is created.
struct Fragment {
    const char* component;
    reru::Name attribute;
};

Fragment fragment_sources[] = {
    {"second", reru::Name{"second_regex"}},   {"minute", reru::Name{"minute_regex"}},
    {"hour", reru::Name{"hour_regex"}},       {"microsecond", reru::Name{"microsecond_regex"}},
    {"tzinfo", reru::Name{"timezone_regex"}},
};

constexpr const char* public_names[] = {
    "datetime_regex",
    "timemeridiem_regex",
    "anytime_regex",
    "timezone_regex",
    "timeboundary_regex",
    "second_regex",
    "minute_regex",
    "hour_regex",
    "microsecond_regex",
    "get_time_fragment",
    "time_only_regex",
    "timeplus_regex",
    "iana_timezone_identifier_regex",
    "timezone_offset_regex",
    "timezone_abbreviation_regex",
    "full_timezone_name_regex",
};

// ---------------------------------------------------------------------------
// Helpers

// A module-level name, looked up now (module dictionary, then builtins).
Ref global(reru::Name& name) { return reru::global(guard.dict, name); }

Ref str(const char* text) { return Ref::steal(PyUnicode_FromString(text)); }

// Binds a module attribute to `value` (NULL: its error is already set).
bool bind(PyObject* dict, const char* name, const Ref& value) {
    return reru::set_global(dict, name, value.get());
}

// re.compile(source), or re.compile(source, re.IGNORECASE), through the
// module attribute `re` as it is bound now.
Ref re_compile(PyObject* source, bool ignorecase) {
    Ref re = global(name_re);
    if (!re) return Ref();
    Ref compile = reru::attr(re.get(), name_compile);
    if (!compile) return Ref();
    if (!ignorecase) return Ref::steal(PyObject_CallOneArg(compile.get(), source));
    Ref flags = reru::attr(re.get(), name_ignorecase);
    if (!flags) return Ref();
    PyObject* args[] = {source, flags.get()};
    return Ref::steal(PyObject_Vectorcall(compile.get(), args, 2, nullptr));
}

// "\b(" + "|".join(names) + ")\b"
Ref word_alternation(PyObject* names) {
    Ref bar = str("|");
    if (!bar) return Ref();
    Ref joined = Ref::steal(PyUnicode_Join(bar.get(), names));
    if (!joined) return Ref();
    return Ref::steal(PyUnicode_FromFormat("\\b(%U)\\b", joined.get()));
}

// ---------------------------------------------------------------------------
// datetime(fmt): strftime-style format -> anchored compiled pattern

Ref build_directive_patterns() {
    constexpr Py_ssize_t n = std::size(directive_table);
    Ref table = Ref::steal(PyTuple_New(n));
    if (!table) return table;
    for (Py_ssize_t i = 0; i < n; ++i) {
        PyObject* pair = Py_BuildValue("(ss)", directive_table[i].first, directive_table[i].second);
        if (pair == nullptr) return Ref();
        PyTuple_SET_ITEM(table.get(), i, pair);
    }
    return table;
}

Ref translate_directives(PyObject* fmt) {
    Ref text = Ref::borrow(fmt);
    const Py_ssize_t n = PyTuple_GET_SIZE(directive_patterns);
    for (Py_ssize_t i = 0; i < n && text; ++i) {
        PyObject* pair = PyTuple_GET_ITEM(directive_patterns, i);
        text = reru::str_replace(text.get(), PyTuple_GET_ITEM(pair, 0), PyTuple_GET_ITEM(pair, 1));
    }
    return text;
}

PyObject* datetime(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static const reru::Unary sig{"datetime", "fmt"};
    PyObject* fmt = sig.str_arg(args, nargs, kwnames);
    if (fmt == nullptr) return nullptr;
    Ref translated = translate_directives(fmt);
    if (!translated) return nullptr;
    Ref anchored = Ref::steal(PyUnicode_FromFormat("^%U$", translated.get()));
    if (!anchored) return nullptr;
    return re_compile(anchored.get(), false).release();
}

// ---------------------------------------------------------------------------
// compile_regex_patterns(): every source of `regex_patterns`, compiled anew

bool compile_into(PyObject* compiled, PyObject* key, PyObject* source) {
    Ref pattern = re_compile(source, true);
    return pattern && PyDict_SetItem(compiled, key, pattern.get()) == 0;
}

bool compile_dict(PyObject* sources, PyObject* compiled) {
    const Py_ssize_t size = PyDict_GET_SIZE(sources);
    Py_ssize_t pos = 0;
    PyObject* key;
    PyObject* value;
    while (PyDict_Next(sources, &pos, &key, &value)) {
        // Compiling runs Python code: hold the item while it does.
        Ref k = Ref::borrow(key);
        Ref v = Ref::borrow(value);
        if (!compile_into(compiled, k.get(), v.get())) return false;
        if (PyDict_GET_SIZE(sources) != size) {
            PyErr_SetString(PyExc_RuntimeError, "dictionary changed size during iteration");
            return false;
        }
    }
    return true;
}

bool compile_items(PyObject* sources, PyObject* compiled) {
    Ref items_method = reru::attr(sources, name_items);
    if (!items_method) return false;
    Ref items = Ref::steal(PyObject_CallNoArgs(items_method.get()));
    Ref it = Ref::steal(items ? PyObject_GetIter(items.get()) : nullptr);
    if (!it) return false;
    while (Ref item = Ref::steal(PyIter_Next(it.get()))) {
        Ref key, source;
        // A pair that cannot be iterated fails as iter() does.
        if (!reru::unpack_pair(item.get(), key, source, reru::NonIterable::not_iterable) ||
            !compile_into(compiled, key.get(), source.get()))
            return false;
    }
    return !PyErr_Occurred();
}

Ref compile_all() {
    Ref sources = global(name_regex_patterns);
    if (!sources) return Ref();
    Ref compiled = Ref::steal(PyDict_New());
    if (!compiled) return Ref();
    const bool ok = PyDict_CheckExact(sources.get()) ? compile_dict(sources.get(), compiled.get())
                                                     : compile_items(sources.get(), compiled.get());
    return ok ? compiled : Ref();
}

PyObject* compile_regex_patterns(PyObject*, PyObject* const*, Py_ssize_t nargs, PyObject* kwnames) {
    if (!reru::no_args("compile_regex_patterns", nargs, kwnames)) return nullptr;
    return compile_all().release();
}

// compiled_patterns.get(key, None), reading `compiled_patterns` now.
Ref get_pattern(const char* key) {
    Ref patterns = global(name_compiled_patterns);
    if (!patterns) return Ref();
    Ref name = str(key);
    if (!name) return Ref();
    return Ref::steal(
        PyObject_CallMethodObjArgs(patterns.get(), name_get.get(), name.get(), Py_None, nullptr));
}

// ---------------------------------------------------------------------------
// cRegexps

struct CRegexps {
    PyObject_HEAD
    PyObject* fragment_patterns;  // dict, or None once the collector cleared it
};

CRegexps* as_cregexps(PyObject* self) { return reinterpret_cast<CRegexps*>(self); }

// component -> the pattern bound now to its module attribute
Ref build_fragment_patterns() {
    Ref patterns = Ref::steal(PyDict_New());
    if (!patterns) return patterns;
    for (Fragment& fragment : fragment_sources) {
        Ref pattern = global(fragment.attribute);
        if (!pattern ||
            PyDict_SetItemString(patterns.get(), fragment.component, pattern.get()) != 0)
            return Ref();
    }
    return patterns;
}

// Runs for the class and every subclass, before any __init__; arguments are
// ignored.
PyObject* cregexps_new(PyTypeObject* type, PyObject*, PyObject*) {
    Ref self = Ref::steal(type->tp_alloc(type, 0));
    if (!self) return nullptr;
    as_cregexps(self.get())->fragment_patterns = Py_NewRef(Py_None);
    Ref patterns = build_fragment_patterns();
    if (!patterns) return nullptr;
    Py_SETREF(as_cregexps(self.get())->fragment_patterns, patterns.release());
    return self.release();
}

int cregexps_traverse(PyObject* self, visitproc visit, void* arg) {
    Py_VISIT(Py_TYPE(self));
    Py_VISIT(as_cregexps(self)->fragment_patterns);
    return 0;
}

int cregexps_clear(PyObject* self) {
    Py_XSETREF(as_cregexps(self)->fragment_patterns, Py_NewRef(Py_None));
    return 0;
}

void cregexps_dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    PyObject_GC_UnTrack(self);
    Py_CLEAR(as_cregexps(self)->fragment_patterns);
    type->tp_free(self);
    Py_DECREF(type);
}

PyObject* get_time_fragments(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                             PyObject* kwnames) {
    static const reru::Unary sig{"get_time_fragments", "component"};
    PyObject* component = sig.str_arg(args, nargs, kwnames);
    if (component == nullptr) return nullptr;
    Ref patterns = Ref::borrow(as_cregexps(self)->fragment_patterns);
    if (!PyDict_CheckExact(patterns.get())) {
        // Cleared by the collector: fails as None.get(component) does.
        Ref get = reru::attr(patterns.get(), name_get);
        return get ? PyObject_CallOneArg(get.get(), component) : nullptr;
    }
    PyObject* pattern = PyDict_GetItemWithError(patterns.get(), component);
    if (pattern == nullptr && PyErr_Occurred()) return nullptr;
    return Py_NewRef(pattern ? pattern : Py_None);
}

PyType_Slot cregexps_slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(cregexps_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(cregexps_dealloc)},
    {Py_tp_traverse, reinterpret_cast<void*>(cregexps_traverse)},
    {Py_tp_clear, reinterpret_cast<void*>(cregexps_clear)},
    {0, nullptr},
};

PyType_Spec cregexps_spec = {
    "chronvale.reru.pyd.Compiled.cRegexps",
    sizeof(CRegexps),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_HAVE_GC,
    cregexps_slots,
};

const reru::FunctionDef datetime_def{"datetime", datetime, "datetime($module, /, fmt)\n--\n\n"};
const reru::FunctionDef compile_regex_patterns_def{"compile_regex_patterns", compile_regex_patterns,
                                                   "compile_regex_patterns($module, /)\n--\n\n"};
const reru::FunctionDef get_time_fragments_def{"get_time_fragments", get_time_fragments,
                                               "get_time_fragments($self, /, component)\n--\n\n"};

// ---------------------------------------------------------------------------
// Initialisation steps, in the order the module body runs them

bool import_modules(PyObject* dict) {
    for (const char* name : {"re", "os", "sys"}) {
        if (!bind(dict, name, Ref::steal(PyImport_ImportModule(name)))) return false;
    }
    return true;
}

// from .zonebook import zonebook_dict
bool import_zonebook_dict(PyObject* dict) {
    PyObject* name = name_zonebook_dict.get();
    Ref fromlist = Ref::steal(PyTuple_Pack(1, name));
    if (!fromlist) return false;
    Ref sibling =
        Ref::steal(PyImport_ImportModuleLevel("zonebook", dict, nullptr, fromlist.get(), 1));
    if (!sibling) return false;
    Ref value = Ref::steal(PyObject_GetAttr(sibling.get(), name));
    if (!value && PyErr_ExceptionMatches(PyExc_AttributeError)) {
        PyErr_Clear();
        PyErr_Format(PyExc_ImportError, "cannot import name %S", name);
    }
    return bind(dict, "zonebook_dict", value);
}

bool bind_directive_patterns() {
    Ref table = build_directive_patterns();
    if (!table) return false;
    directive_patterns = table.release();
    return true;
}

// The "full_name" of every value of the zone mapping, in iteration order.
Ref full_names_of(PyObject* zones) {
    Ref values;
    if (PyDict_CheckExact(zones)) {
        values = Ref::steal(PyDict_Values(zones));
    } else {
        Ref method = reru::attr(zones, name_values);
        if (method) values = Ref::steal(PyObject_CallNoArgs(method.get()));
    }
    Ref it = Ref::steal(values ? PyObject_GetIter(values.get()) : nullptr);
    Ref names = Ref::steal(it ? PyList_New(0) : nullptr);
    if (!names) return Ref();
    while (Ref zone = Ref::steal(PyIter_Next(it.get()))) {
        Ref full_name = Ref::steal(PyObject_GetItem(zone.get(), name_full_name.get()));
        if (!full_name || PyList_Append(names.get(), full_name.get()) != 0) return Ref();
    }
    return PyErr_Occurred() ? Ref() : names;
}

Ref keys_list(PyObject* mapping) { return Ref::steal(PyMapping_Keys(mapping)); }

// Binds target = make(<module attribute `source`, read now>).
bool derive(PyObject* dict, reru::Name& source, const char* target, Ref (*make)(PyObject*)) {
    Ref value = global(source);
    return value && bind(dict, target, make(value.get()));
}

bool bind_zone_patterns(PyObject* dict) {
    return derive(dict, name_zonebook_dict, "timezone_abbrv", keys_list) &&
           derive(dict, name_timezone_abbrv, "timezone_abbrv_pattern", word_alternation) &&
           derive(dict, name_zonebook_dict, "full_names", full_names_of) &&
           derive(dict, name_full_names, "full_names_pattern", word_alternation);
}

bool put(PyObject* dict, const char* key, const Ref& value) {
    return value && PyDict_SetItemString(dict, key, value.get()) == 0;
}

Ref build_regex_patterns() {
    Ref patterns = Ref::steal(PyDict_New());
    if (!patterns) return patterns;
    for (const Pair& source : fixed_sources)
        if (!put(patterns.get(), source.first, str(source.second))) return Ref();
    if (!put(patterns.get(), "timezone_abbreviation", global(name_timezone_abbrv_pattern)) ||
        !put(patterns.get(), "full_timezone_name", global(name_full_names_pattern)))
        return Ref();
    return patterns;
}

bool bind_pattern_attributes(PyObject* dict) {
    for (const Pair& binding : pattern_attributes)
        if (!bind(dict, binding.first, get_pattern(binding.second))) return false;
    return true;
}

bool define_cregexps(PyObject* module) {
    return reru::add_type(module, &cregexps_spec, "cRegexps", cregexps_type) &&
           reru::add_method(cregexps_type, module, get_time_fragments_def) &&
           reru::refuse_pickling(cregexps_type, module);
}

bool create_default_regexps() {
    Ref cls = global(name_cregexps);
    Ref instance = Ref::steal(cls ? PyObject_CallNoArgs(cls.get()) : nullptr);
    if (!instance) return false;
    default_regexps = instance.release();
    return true;
}

}  // namespace

static bool body(PyObject* module, PyObject* dict) {
    return import_modules(dict) && import_zonebook_dict(dict) && bind_directive_patterns() &&
           reru::add_function(module, datetime_def) && bind_zone_patterns(dict) &&
           bind(dict, "regex_patterns", build_regex_patterns()) &&
           reru::add_function(module, compile_regex_patterns_def) &&
           bind(dict, "compiled_patterns", compile_all()) && bind_pattern_attributes(dict) &&
           define_cregexps(module) && create_default_regexps() &&
           bind(dict, "datetime_regex", global(name_datetime)) &&
           bind(dict, "get_time_fragment", reru::attr(default_regexps, name_get_time_fragments)) &&
           bind(dict, "__all__", reru::str_list(public_names, std::size(public_names)));
}

RERU_MODULE(Compiled, guard, body)
