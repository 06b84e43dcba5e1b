// Test hook: the finder's shape pre-check (reru/src/shape_check.hpp) made
// callable from Python, so that the tests can check it directly. Built only
// with -DCHRONVALE_TEST_HOOKS=ON.
#include "../../reru/src/shape_check.hpp"

namespace {

bool two_str(PyObject* const* args, Py_ssize_t nargs) {
    if (nargs == 2 && PyUnicode_CheckExact(args[0]) && PyUnicode_CheckExact(args[1])) return true;
    PyErr_SetString(PyExc_TypeError, "expected (text: str, fmt: str)");
    return false;
}

// may_parse(text, fmt): the concrete check in the current LC_TIME locale.
PyObject* may_parse(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    if (!two_str(args, nargs)) return nullptr;
    return PyBool_FromLong(shape_check::may_parse(shape_check::Concrete(args[0]),
                                                  shape_check::FormatText(args[1]),
                                                  shape_check::time_locale_is_c()));
}

// shape_may_parse(text, fmt): the same through the shape view.
PyObject* shape_may_parse(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    if (!two_str(args, nargs)) return nullptr;
    return PyBool_FromLong(shape_check::may_parse(shape_check::ShapeView(args[0]),
                                                  shape_check::FormatText(args[1]),
                                                  shape_check::time_locale_is_c()));
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
