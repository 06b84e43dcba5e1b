// Test hook: the finder's shape pre-check (reru/src/patternseek/shape_check.hpp)
// made callable from Python, so that the tests can check it directly. Built
// only with -DCHRONVALE_TEST_HOOKS=ON.
#include "../../reru/src/patternseek/survivors.hpp"

#include <cstdio>

namespace {

// (text: str, fmt: str[, words: int]): `words` runs the text through sets of
// at least that many words.
bool parse_args(PyObject* const* args, Py_ssize_t nargs, Py_ssize_t& words) {
    words = 1;
    if ((nargs == 2 || nargs == 3) && PyUnicode_CheckExact(args[0]) &&
        PyUnicode_CheckExact(args[1])) {
        if (nargs == 3 && (words = PyLong_AsSsize_t(args[2])) < 1) {
            if (!PyErr_Occurred()) PyErr_SetString(PyExc_ValueError, "words must be positive");
            return false;
        }
        return true;
    }
    PyErr_SetString(PyExc_TypeError, "expected (text: str, fmt: str[, words: int])");
    return false;
}

PyObject* check(PyObject* const* args, Py_ssize_t nargs, bool shape) {
    Py_ssize_t words;
    if (!parse_args(args, nargs, words)) return nullptr;
    shape_check::Text text(args[0], shape, words);
    return PyBool_FromLong(shape_check::may_parse(text, shape_check::FormatText(args[1]),
                                                  shape_check::time_locale_is_c()));
}

// may_parse(text, fmt[, words]): the concrete check in the current LC_TIME locale.
PyObject* may_parse(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    return check(args, nargs, false);
}

// shape_may_parse(text, fmt[, words]): the same through the shape view.
PyObject* shape_may_parse(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    return check(args, nargs, true);
}

// (text: str, shape[, words: int]) for the catalogue's verdicts.
bool parse_verdict_args(PyObject* const* args, Py_ssize_t nargs, Py_ssize_t& words, int& shape) {
    words = 1;
    if (nargs < 2 || nargs > 3 || !PyUnicode_CheckExact(args[0]) ||
        (nargs == 3 && (words = PyLong_AsSsize_t(args[2])) < 1)) {
        if (!PyErr_Occurred()) PyErr_SetString(PyExc_TypeError, "expected (text, shape[, words])");
        return false;
    }
    return (shape = PyObject_IsTrue(args[1])) >= 0;
}

// The catalogue's verdicts of one stage on (text, shape[, words]):
// (to_python(verdicts), or None when the computation could not be
// completed; the words visited; the format elements walked).
template <class Stage, class ToPython>
PyObject* verdicts(PyObject* const* args, Py_ssize_t nargs, ToPython to_python) {
    Py_ssize_t words;
    int shape;
    if (!parse_verdict_args(args, nargs, words, shape)) return nullptr;
    shape_check::Text text(args[0], shape != 0, words);
    Stage out;
    PyObject* result = text.ok() && compute(text, shape_check::time_locale_is_c(), out)
                           ? to_python(out)
                           : Py_NewRef(Py_None);
    if (result == nullptr) return nullptr;
    return Py_BuildValue("(Nnn)", result, static_cast<Py_ssize_t>(text.work()),
                         static_cast<Py_ssize_t>(text.elements()));
}

// stage2(...): for each date format, for each separator, the bits of the
// time formats whose candidate may parse.
PyObject* stage2(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    return verdicts<survivors::Stage2>(args, nargs, [](const survivors::Stage2& out) {
        PyObject* rows = PyList_New(0);
        for (const auto& row : out.times) {
            PyObject* seps =
                rows ? Py_BuildValue("[KKKKK]", row[0], row[1], row[2], row[3], row[4]) : nullptr;
            if (seps == nullptr || PyList_Append(rows, seps) != 0) Py_CLEAR(rows);
            Py_XDECREF(seps);
        }
        return rows;
    });
}

// The stage-3 table of stage3(), set by set_stage3(), and the list holding
// its texts.
survivors::Stage3Table stage3_table;
PyObject* stage3_texts = nullptr;

// set_stage3(formats): the stage-3 table, a list of distinct str.
PyObject* set_stage3(PyObject*, PyObject* formats) {
    if (!PyList_CheckExact(formats)) {
        PyErr_SetString(PyExc_TypeError, "expected a list");
        return nullptr;
    }
    PyObject* held = PyList_GetSlice(formats, 0, PY_SSIZE_T_MAX);
    if (held == nullptr) return nullptr;
    Py_XSETREF(stage3_texts, held);
    stage3_table = {};
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(held); ++i)
        if (!stage3_table.add(PyList_GET_ITEM(held, i))) return nullptr;
    if (!stage3_table.close()) return nullptr;
    Py_RETURN_NONE;
}

// The stage-3 verdicts of the table set_stage3() set, on a text.
struct Stage3 : survivors::Stage3 {};
bool compute(shape_check::Text& t, bool c_locale, Stage3& out) {
    return survivors::compute(t, c_locale, stage3_table, out);
}

// stage3(...): the stage-3 verdicts as one int (bit k: format k of the
// table may parse).
PyObject* stage3(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    return verdicts<Stage3>(args, nargs, [](const Stage3& out) {
        static_assert(survivors::kStage3Bits == 3 * 64, "three words of verdicts");
        char hex[3 * 16 + 1];
        std::snprintf(hex, sizeof hex, "%016llx%016llx%016llx",
                      static_cast<unsigned long long>(out.bits[2]),
                      static_cast<unsigned long long>(out.bits[1]),
                      static_cast<unsigned long long>(out.bits[0]));
        return PyLong_FromString(hex, nullptr, 16);
    });
}

PyObject* strings(const char* const* table) {
    if (table == nullptr) Py_RETURN_NONE;
    PyObject* list = PyList_New(0);
    for (; list != nullptr && *table; ++table) {
        PyObject* s = PyUnicode_FromString(*table);
        if (s == nullptr || PyList_Append(list, s) != 0) Py_CLEAR(list);
        Py_XDECREF(s);
    }
    return list;
}

Py_UCS4 directive_of(PyObject* arg) {
    if (PyUnicode_CheckExact(arg) && PyUnicode_GET_LENGTH(arg) == 1)
        return PyUnicode_READ_CHAR(arg, 0);
    PyErr_SetString(PyExc_TypeError, "expected one character");
    return 0;
}

// alternatives(directive): the alternation table of a numeric directive, or None.
PyObject* alternatives(PyObject*, PyObject* arg) {
    const Py_UCS4 d = directive_of(arg);
    return d ? strings(shape_check::numeric_alternatives(d)) : nullptr;
}

// names(directive): the names a name directive accepts in the C locale, or None.
PyObject* names(PyObject*, PyObject* arg) {
    const Py_UCS4 d = directive_of(arg);
    return d ? strings(shape_check::c_locale_names(d)) : nullptr;
}

PyMethodDef methods[] = {
    {"may_parse", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(may_parse)),
     METH_FASTCALL, nullptr},
    {"shape_may_parse",
     reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(shape_may_parse)), METH_FASTCALL,
     nullptr},
    {"stage2", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(stage2)), METH_FASTCALL,
     nullptr},
    {"stage3", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(stage3)), METH_FASTCALL,
     nullptr},
    {"set_stage3", set_stage3, METH_O, nullptr},
    {"alternatives", alternatives, METH_O, nullptr},
    {"names", names, METH_O, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    "shape_check_hook",
    nullptr,
    0,
    methods,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace

PyMODINIT_FUNC PyInit_shape_check_hook() { return PyModuleDef_Init(&module_def); }
