// Module-global lookup: the names a function body uses are read from the
// module's dictionary, then from the builtins, at each use, so rebinding a
// module attribute changes later behaviour.
#pragma once

#include "ref.hpp"

namespace reru {

// New reference to the value of `name` (an interned str), or NULL with
// NameError "name '...' is not defined" (or the lookup's own error) set.
inline Ref global(PyObject* module_dict, PyObject* name) {
    PyObject* v = PyDict_GetItemWithError(module_dict, name);
    if (v == nullptr && !PyErr_Occurred()) {
        PyObject* builtins = PyEval_GetBuiltins();
        if (builtins != nullptr) v = PyDict_GetItemWithError(builtins, name);
        if (v == nullptr && !PyErr_Occurred())
            PyErr_Format(PyExc_NameError, "name '%U' is not defined", name);
    }
    return Ref::borrow(v);
}

inline Ref global(PyObject* module_dict, Name& name) {
    PyObject* key = name.get();
    if (key == nullptr) return Ref();
    return global(module_dict, key);
}

// getattr(obj, name) with an interned name.
inline Ref attr(PyObject* obj, Name& name) {
    PyObject* key = name.get();
    if (key == nullptr) return Ref();
    return Ref::steal(PyObject_GetAttr(obj, key));
}

// Binds `value` (borrowed) as a module attribute.
inline bool set_global(PyObject* module_dict, const char* name, PyObject* value) {
    return value != nullptr && PyDict_SetItemString(module_dict, name, value) == 0;
}

}  // namespace reru
