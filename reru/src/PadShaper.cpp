// Module PadShaper: strftime formats with non-padded directives ("%-d").
//
// Two tables pair the seven non-padded numeric directives with their
// zero-padded twins ("%-d" and "%d"). They are built once at import, kept in
// this file's storage (not as module attributes) and handed out as they are,
// so a caller who changes them changes what every function here does. The
// functions rewrite non-padded directives into padded ones, format a
// datetime with non-padded directives (format padded, then strip the leading
// zeros), and classify numeric text by its leading zeros.
#include "reru.hpp"

#include <utility>

namespace {

using reru::Ref;

// One directive pair: the field it formats, then the non-padded and the
// zero-padded side, each with its format and description.
struct Row {
    const char* field;
    const char* bare_format;
    const char* bare_description;
    const char* padded_format;
    const char* padded_description;
};

// Table order: every dictionary, list and replacement pass follows it.
constexpr Row rows[] = {
    {"day", "%-d", "Day of the month as a decimal number without leading zero (1 to 31)", "%d",
     "Day of the month as a zero-padded decimal number (01 to 31)"},
    {"month", "%-m", "Month as a decimal number without leading zero (1 to 12)", "%m",
     "Month as a zero-padded decimal number (01 to 12)"},
    {"year", "%-y", "Year without century as a decimal number without leading zero (0 to 99)", "%y",
     "Year without century as a zero-padded decimal number (00 to 99)"},
    {"hour24", "%-H", "Hour (24-hour clock) as a decimal number without leading zero (0 to 23)",
     "%H", "Hour (24-hour clock) as a zero-padded decimal number (00 to 23)"},
    {"hour12", "%-I", "Hour (12-hour clock) as a decimal number without leading zero (1 to 12)",
     "%I", "Hour (12-hour clock) as a zero-padded decimal number (01 to 12)"},
    {"minute", "%-M", "Minute as a decimal number without leading zero (0 to 59)", "%M",
     "Minute as a zero-padded decimal number (00 to 59)"},
    {"second", "%-S", "Second as a decimal number without leading zero (0 to 59)", "%S",
     "Second as a zero-padded decimal number (00 to 59)"},
};

// Built at import and alive for the rest of the process (the module body
// runs once). zero_handling_table: field -> {"no_leading_zero": {"format",
// "description"}, "zero_padded": {...}}; padding_map: "%-d" -> "%d".
PyObject* zero_handling_table = nullptr;
PyObject* padding_map = nullptr;
// datetime.datetime, for the check of the `date` parameter.
PyObject* datetime_class = nullptr;

reru::ModuleGuard guard{"PadShaper"};

reru::Name n_re{"re"};
reru::Name n_specifiers{"non_padded_to_zero_padded_specifiers"};
reru::Name n_ret_format{"ret_format"};
reru::Name n_no_leading_zero{"no_leading_zero"};
reru::Name n_leading_zero{"leading_zero"};
reru::Name n_zero_padded{"zero_padded"};
reru::Name n_format{"format"};
reru::Name n_strftime{"strftime"};
reru::Name n_items{"items"};
reru::Name n_sub{"sub"};
// A "0" that starts a run of word characters and is followed by a digit.
reru::Name n_leading_zero_pattern{"\\b0(?=\\d)"};
reru::Name n_empty{""};

// ---------------------------------------------------------------------------
// Small helpers

// `value` itself when it is a str or None, else NULL with TypeError; passes
// an error (NULL) through.
Ref as_str(Ref value) {
    if (value && !reru::check_field(value.get(), &PyUnicode_Type, "str")) return Ref();
    return value;
}

// obj.<name>(*args), looked up by name so that subclasses and None give the
// interpreter's own behaviour and errors.
template <class... Args>
Ref call_method(PyObject* obj, const reru::Name& name, Args... args) {
    PyObject* argv[] = {obj, args...};
    return Ref::steal(PyObject_VectorcallMethod(name.get(), argv, sizeof...(Args) + 1, nullptr));
}

// mapping[name].
Ref item(PyObject* mapping, const reru::Name& name) {
    return Ref::steal(PyObject_GetItem(mapping, name.get()));
}

// Calls `step(item)` for each item of `iterable` in order until it answers
// 1 (stop) or -1 (error). Returns -1, 0 (all items seen) or 1 (stopped).
template <class Step>
int each(PyObject* iterable, Step&& step) {
    Ref it = Ref::steal(PyObject_GetIter(iterable));
    if (!it) return -1;
    while (true) {
        Ref next = Ref::steal(PyIter_Next(it.get()));
        if (!next) return PyErr_Occurred() ? -1 : 0;
        const int r = step(next.get());
        if (r != 0) return r;
    }
}

// `value == selector` as the == operator decides it. -1 on error.
int equals(PyObject* value, const reru::Name& selector) {
    Ref result = Ref::steal(PyObject_RichCompare(value, selector.get(), Py_EQ));
    return result ? PyObject_IsTrue(result.get()) : -1;
}

// ---------------------------------------------------------------------------
// The tables

// dict[key] = text.
bool set_text(PyObject* dict, const char* key, const char* text) {
    Ref value = Ref::steal(PyUnicode_FromString(text));
    return value && PyDict_SetItemString(dict, key, value.get()) == 0;
}

// {"format": format, "description": description}
Ref side(const char* format, const char* description) {
    Ref d = Ref::steal(PyDict_New());
    if (!d || !set_text(d.get(), "format", format) ||
        !set_text(d.get(), "description", description))
        return Ref();
    return d;
}

// {"no_leading_zero": {...}, "zero_padded": {...}} for one row.
Ref table_entry(const Row& row) {
    Ref bare = side(row.bare_format, row.bare_description);
    if (!bare) return bare;
    Ref padded = side(row.padded_format, row.padded_description);
    if (!padded) return padded;
    Ref entry = Ref::steal(PyDict_New());
    if (!entry || PyDict_SetItemString(entry.get(), "no_leading_zero", bare.get()) != 0 ||
        PyDict_SetItemString(entry.get(), "zero_padded", padded.get()) != 0)
        return Ref();
    return entry;
}

Ref build_zero_handling_table() {
    Ref table = Ref::steal(PyDict_New());
    if (!table) return table;
    for (const Row& row : rows) {
        Ref entry = table_entry(row);
        if (!entry || PyDict_SetItemString(table.get(), row.field, entry.get()) != 0) return Ref();
    }
    return table;
}

Ref build_padding_map() {
    Ref map = Ref::steal(PyDict_New());
    if (!map) return map;
    for (const Row& row : rows)
        if (!set_text(map.get(), row.bare_format, row.padded_format)) return Ref();
    return map;
}

PyObject* zero_handling_date_formats(PyObject*, PyObject* const*, Py_ssize_t nargs,
                                     PyObject* kwnames) {
    if (!reru::no_args("zero_handling_date_formats", nargs, kwnames)) return nullptr;
    return Py_NewRef(zero_handling_table);
}

// "no_leading_zero": the keys of padding_map as a new list; "leading_zero":
// its values; anything else: padding_map itself.
PyObject* non_padded_to_zero_padded_specifiers(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                                               PyObject* kwnames) {
    static const char* const params[] = {"ret_format"};
    static const reru::Signature sig{"non_padded_to_zero_padded_specifiers", params, 1, 0};
    PyObject* ret_format;
    if (!reru::parse(sig, args, nargs, kwnames, &ret_format)) return nullptr;
    if (ret_format == nullptr) ret_format = Py_None;
    const int bare = equals(ret_format, n_no_leading_zero);
    if (bare != 0) return bare < 0 ? nullptr : PyDict_Keys(padding_map);
    const int padded = equals(ret_format, n_leading_zero);
    if (padded != 0) return padded < 0 ? nullptr : PyDict_Values(padding_map);
    return Py_NewRef(padding_map);
}

// ---------------------------------------------------------------------------
// Rewriting formats

// The "format" text of one side ("no_leading_zero" or "zero_padded") of a
// zero_handling_table entry.
Ref side_format(PyObject* entry, const reru::Name& which) {
    Ref inner = item(entry, which);
    if (!inner) return inner;
    return as_str(item(inner.get(), n_format));
}

// One pass of replace_non_padded_with_padded: the row under `key`.
Ref replace_row(PyObject* text, PyObject* key) {
    if (!reru::check_field(key, &PyUnicode_Type, "str")) return Ref();
    Ref entry = Ref::steal(PyObject_GetItem(zero_handling_table, key));
    if (!entry) return entry;
    Ref old = side_format(entry.get(), n_no_leading_zero);
    if (!old) return old;
    Ref replacement = side_format(entry.get(), n_zero_padded);
    if (!replacement) return replacement;
    return reru::str_replace(text, old.get(), replacement.get());
}

PyObject* replace_non_padded_with_padded(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                                         PyObject* kwnames) {
    static const reru::Unary sig{"replace_non_padded_with_padded", "input_format"};
    PyObject* input_format = sig.str_arg(args, nargs, kwnames);
    if (input_format == nullptr) return nullptr;
    Ref result = Ref::borrow(input_format);
    const int r = each(zero_handling_table, [&](PyObject* key) {
        result = replace_row(result.get(), key);
        return result ? 0 : -1;
    });
    return r < 0 ? nullptr : result.release();
}

// ---------------------------------------------------------------------------
// Formatting a datetime

// The module's current `non_padded_to_zero_padded_specifiers`, called with
// the keyword ret_format="no_leading_zero" when `listed`, else without
// arguments.
Ref specifiers(PyObject* module, bool listed) {
    Ref fn = reru::global(PyModule_GetDict(module), n_specifiers);
    if (!fn) return fn;
    if (!listed) return Ref::steal(PyObject_CallNoArgs(fn.get()));
    Ref kwnames = Ref::steal(PyTuple_Pack(1, n_ret_format.get()));
    if (!kwnames) return kwnames;
    PyObject* argv[] = {n_no_leading_zero.get()};
    return Ref::steal(PyObject_Vectorcall(fn.get(), argv, 0, kwnames.get()));
}

// 1 when one of the listed non-padded directives occurs in `format_string`,
// 0 when none does, -1 on error. Stops at the first hit.
int has_non_padded_specifier(PyObject* module, PyObject* format_string) {
    Ref listed = specifiers(module, true);
    if (!listed) return -1;
    return each(listed.get(),
                [&](PyObject* specifier) { return PySequence_Contains(format_string, specifier); });
}

// `format_string` with each key of the padding map replaced by its value.
Ref padded_format(PyObject* module, PyObject* format_string) {
    Ref map = specifiers(module, false);
    if (!map) return map;
    Ref pairs = call_method(map.get(), n_items);
    if (!pairs) return pairs;
    Ref working = Ref::borrow(format_string);
    const int r = each(pairs.get(), [&](PyObject* pair) {
        Ref key, value;
        if (!reru::unpack_pair(pair, key, value) || !as_str(key) || !as_str(value)) return -1;
        working = reru::str_replace(working.get(), key.get(), value.get());
        return working ? 0 : -1;
    });
    return r < 0 ? Ref() : working;
}

// date.strftime(format), which must give a str (or None).
Ref format_date(PyObject* date, PyObject* format) {
    return as_str(call_method(date, n_strftime, format));
}

// re.sub(r"\b0(?=\d)", "", text), with `re` read from the module namespace.
Ref strip_once(PyObject* module, PyObject* text) {
    Ref re = reru::global(PyModule_GetDict(module), n_re);
    if (!re) return re;
    Ref sub = reru::attr(re.get(), n_sub);
    if (!sub) return sub;
    PyObject* argv[] = {n_leading_zero_pattern.get(), n_empty.get(), text};
    return as_str(Ref::steal(PyObject_Vectorcall(sub.get(), argv, 3, nullptr)));
}

// One strip of `text` for every listed directive that `format_string` (as
// the caller gave it) holds, however often it occurs there.
Ref strip_leading_zeros(PyObject* module, PyObject* format_string, Ref text) {
    Ref listed = specifiers(module, true);
    if (!listed) return listed;
    const int r = each(listed.get(), [&](PyObject* specifier) {
        if (!as_str(Ref::borrow(specifier))) return -1;
        const int hit = PySequence_Contains(format_string, specifier);
        if (hit <= 0) return hit;
        text = strip_once(module, text.get());
        return text ? 0 : -1;
    });
    return r < 0 ? Ref() : text;
}

PyObject* date_format_leading_zero(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                                   PyObject* kwnames) {
    static const char* const params[] = {"date", "format_string"};
    static const reru::Signature sig{"date_format_leading_zero", params, 2, 2};
    PyObject* argv[2];
    if (!reru::parse(sig, args, nargs, kwnames, argv) ||
        !reru::check_arg(argv[0], reinterpret_cast<PyTypeObject*>(datetime_class), "date") ||
        !reru::check_str_arg(argv[1], "format_string"))
        return nullptr;
    PyObject* date = argv[0];
    PyObject* format_string = argv[1];
    const int non_padded = has_non_padded_specifier(module, format_string);
    if (non_padded <= 0)
        return non_padded < 0 ? nullptr : format_date(date, format_string).release();
    Ref working = padded_format(module, format_string);
    if (!working) return nullptr;
    Ref text = format_date(date, working.get());
    if (!text) return nullptr;
    return strip_leading_zeros(module, format_string, std::move(text)).release();
}

// ---------------------------------------------------------------------------
// Leading zeros of numeric text

// Characters read past the end are NUL.
using Text = reru::Chars;

// Whether the text, less its first "-" and its first ".", is a non-empty
// run of digits in the sense of str.isdigit.
bool numeric(const Text& t) {
    bool dash = false, point = false;
    Py_ssize_t digits = 0;
    for (Py_ssize_t i = 0; i < t.n; ++i) {
        const Py_UCS4 c = t[i];
        if (c == '-' && !dash) {
            dash = true;
        } else if (c == '.' && !point) {
            point = true;
        } else if (Py_UNICODE_ISDIGIT(c)) {
            ++digits;
        } else {
            return false;
        }
    }
    return digits > 0;
}

// None when the part before the first ".", stripped of "-" at both ends, is
// two characters other than "00" or longer than two; else whether the text
// starts with a zero that pads a number.
PyObject* classify(const Text& t) {
    Py_ssize_t end = 0;
    while (end < t.n && t[end] != '.') ++end;
    Py_ssize_t start = 0;
    while (start < end && t[start] == '-') ++start;
    while (end > start && t[end - 1] == '-') --end;
    const Py_ssize_t width = end - start;
    if (width > 2 || (width == 2 && !(t[start] == '0' && t[start + 1] == '0'))) return Py_None;
    if (t[0] == '-' && t[1] == '0') return Py_True;
    if (t[0] == '0' && t[1] != '.') return Py_True;
    return t[0] == '0' && t[1] == '.' && t.n != 2 ? Py_True : Py_False;
}

PyObject* has_leading_zero(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static const reru::Unary sig{"has_leading_zero", "input_str"};
    PyObject* input_str = sig.arg(args, nargs, kwnames);
    if (input_str == nullptr) return nullptr;
    Ref text = Ref::steal(PyObject_Str(input_str));
    if (!text) return nullptr;
    const Text t(text.get());
    if (!numeric(t) || PyUnicode_CompareWithASCIIString(text.get(), "0") == 0 ||
        PyUnicode_CompareWithASCIIString(text.get(), "-0") == 0)
        Py_RETURN_NONE;
    return Py_NewRef(classify(t));
}

// ---------------------------------------------------------------------------
// Module body

// In binding order; `__all__` lists the same names in the same order.
const reru::FunctionDef functions[] = {
    {"zero_handling_date_formats", zero_handling_date_formats,
     "zero_handling_date_formats($module, /)\n--\n\n"},
    {"non_padded_to_zero_padded_specifiers", non_padded_to_zero_padded_specifiers,
     "non_padded_to_zero_padded_specifiers($module, /, ret_format=None)\n--\n\n"},
    {"has_leading_zero", has_leading_zero, "has_leading_zero($module, /, input_str)\n--\n\n"},
    {"date_format_leading_zero", date_format_leading_zero,
     "date_format_leading_zero($module, /, date, format_string)\n--\n\n"},
    {"replace_non_padded_with_padded", replace_non_padded_with_padded,
     "replace_non_padded_with_padded($module, /, input_format)\n--\n\n"},
};

Ref import_datetime_class() {
    Ref cls = reru::import_attr("datetime", "datetime");
    if (cls && !PyType_Check(cls.get())) {
        PyErr_Format(PyExc_TypeError, "datetime.datetime is not a class (got %.200s)",
                     Py_TYPE(cls.get())->tp_name);
        return Ref();
    }
    return cls;
}

Ref names_for_all() {
    Ref all = Ref::steal(PyList_New(0));
    if (!all) return all;
    for (const reru::FunctionDef& def : functions) {
        Ref name = Ref::steal(PyUnicode_InternFromString(def.name));
        if (!name || PyList_Append(all.get(), name.get()) != 0) return Ref();
    }
    return all;
}

bool body(PyObject* module, PyObject* dict) {
    Ref cls = import_datetime_class();
    if (!cls) return false;
    datetime_class = cls.release();
    Ref re = Ref::steal(PyImport_ImportModule("re"));
    if (!reru::set_global(dict, "re", re.get())) return false;
    Ref all = names_for_all();
    if (!reru::set_global(dict, "__all__", all.get())) return false;
    Ref table = build_zero_handling_table();
    if (!table) return false;
    zero_handling_table = table.release();
    Ref map = build_padding_map();
    if (!map) return false;
    padding_map = map.release();
    for (const reru::FunctionDef& def : functions)
        if (!reru::add_function(module, def)) return false;
    return true;
}

}  // namespace

RERU_MODULE(PadShaper, guard, body)
