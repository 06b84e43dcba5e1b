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

inline Ref global(PyObject* module_dict, const Name& name) {
    return global(module_dict, name.get());
}

// getattr(obj, name) with an interned name.
inline Ref attr(PyObject* obj, const Name& name) {
    return Ref::steal(PyObject_GetAttr(obj, name.get()));
}

// Binds `value` (borrowed) as a module attribute.
inline bool set_global(PyObject* module_dict, const char* name, PyObject* value) {
    return value != nullptr && PyDict_SetItemString(module_dict, name, value) == 0;
}

}  // namespace reru
