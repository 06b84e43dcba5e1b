// Test hook: the finder's shape pre-check (reru/src/patternseek/shape_check.hpp)
// made callable from Python, so that the tests can check it directly. Built
// only with -DCHRONVALE_TEST_HOOKS=ON.
#include "../../reru/src/patternseek/survivors.hpp"

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

// stage2(text, shape[, words]) -> (verdicts, work, elements): for each date
// format, for each separator, the bits of the time formats whose candidate
// may parse (None when the computation could not be completed), the words
// visited, and the date parts' format elements walked.
PyObject* stage2(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    Py_ssize_t words = 1;
    if (nargs < 2 || nargs > 3 || !PyUnicode_CheckExact(args[0]) ||
        (nargs == 3 && (words = PyLong_AsSsize_t(args[2])) < 1)) {
        if (!PyErr_Occurred()) PyErr_SetString(PyExc_TypeError, "expected (text, shape[, words])");
        return nullptr;
    }
    const int shape = PyObject_IsTrue(args[1]);
    if (shape < 0) return nullptr;
    shape_check::Text text(args[0], shape != 0, words);
    survivors::Stage2 out;
    if (!text.ok() || !survivors::compute(text, shape_check::time_locale_is_c(), out))
        return Py_BuildValue("(Onn)", Py_None, static_cast<Py_ssize_t>(text.work()),
                             static_cast<Py_ssize_t>(text.elements()));
    PyObject* rows = PyList_New(0);
    for (const auto& row : out.times) {
        PyObject* seps =
            rows ? Py_BuildValue("[KKKKK]", row[0], row[1], row[2], row[3], row[4]) : nullptr;
        if (seps == nullptr || PyList_Append(rows, seps) != 0) Py_CLEAR(rows);
        Py_XDECREF(seps);
    }
    if (rows == nullptr) return nullptr;
    return Py_BuildValue("(Nnn)", rows, static_cast<Py_ssize_t>(text.work()),
                         static_cast<Py_ssize_t>(text.elements()));
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
