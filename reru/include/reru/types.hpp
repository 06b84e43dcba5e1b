// Helpers for native classes.
#pragma once

#include "args.hpp"
#include "function.hpp"

namespace reru {

// Creates a class from `spec`, tied to `module` (so the class keeps the
// module alive), and binds it in the module namespace under its name. `out`
// keeps a reference of its own: Python code may delete or rebind the module
// attribute, and the module's native code goes on using the class for the
// life of the process (the module initialises once per process).
inline bool add_type(PyObject* module, PyType_Spec* spec, const char* attr, PyTypeObject*& out) {
    PyObject* type = new_type(spec, module);
    if (type == nullptr) return false;
    out = reinterpret_cast<PyTypeObject*>(type);  // the new reference stays with `out`
    return PyModule_AddObjectRef(module, attr, type) == 0;
}

// Classes whose instances build native state at allocation cannot be
// pickled or copied: `__reduce__` and `__setstate__` both refuse.
inline void raise_no_reduce() {
    PyErr_SetString(PyExc_TypeError, "no default __reduce__ due to non-trivial __cinit__");
}

namespace detail {
inline PyObject* refuse_reduce(PyObject*, PyObject* const*, Py_ssize_t nargs, PyObject* kwnames) {
    if (!no_params("__reduce__", nargs, kwnames)) return nullptr;
    raise_no_reduce();
    return nullptr;
}
inline PyObject* refuse_setstate(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                                 PyObject* kwnames) {
    static const Unary sig{"__setstate__", "state"};
    if (sig.arg(args, nargs, kwnames) == nullptr) return nullptr;
    raise_no_reduce();
    return nullptr;
}
inline const FunctionDef refuse_reduce_def{"__reduce__", refuse_reduce,
                                           "__reduce__($self, /)\n--\n\n"};
inline const FunctionDef refuse_setstate_def{"__setstate__", refuse_setstate,
                                             "__setstate__($self, /, state)\n--\n\n"};
}  // namespace detail

// Adds the refusing `__reduce__` (unless `keep_reduce`) and `__setstate__`.
inline bool refuse_pickling(PyTypeObject* type, PyObject* module, bool keep_reduce = false) {
    return (keep_reduce || add_method(type, module, detail::refuse_reduce_def)) &&
           add_method(type, module, detail::refuse_setstate_def);
}

}  // namespace reru
