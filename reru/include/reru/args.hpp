// Argument parsing and type checks for vectorcall functions.
//
// Every Python-visible function checks its arguments before doing anything
// else and reports problems with one fixed set of TypeError texts; this file
// is the only place those texts are produced.
#pragma once

#include "ref.hpp"

#include <cstddef>

namespace reru {

// The parameters of a function that takes arguments: all parameters can be
// given by position or by keyword; the first `required` of them must be
// given, the rest are optional (NULL in the output when absent).
struct Signature {
    const char* name;           // function name used in messages
    const char* const* params;  // parameter names, `count` of them
    Py_ssize_t count;
    Py_ssize_t required;
};

inline void raise_arg_count(const Signature& sig, Py_ssize_t found) {
    const bool exact = sig.required == sig.count;
    Py_ssize_t expected;
    const char* bound;
    if (found < sig.required) {
        expected = sig.required;
        bound = "at least";
    } else {
        expected = sig.count;
        bound = "at most";
    }
    if (exact) bound = "exactly";
    PyErr_Format(PyExc_TypeError, "%.200s() takes %.8s %zd positional argument%.1s (%zd given)",
                 sig.name, bound, expected, expected == 1 ? "" : "s", found);
}

namespace detail {

inline bool name_is(PyObject* key, const char* name) {
    return PyUnicode_CompareWithASCIIString(key, name) == 0;
}

// Index of `name` among the keyword names, or -1.
inline Py_ssize_t find_keyword(PyObject* kwnames, const char* name) {
    const Py_ssize_t n = PyTuple_GET_SIZE(kwnames);
    for (Py_ssize_t k = 0; k < n; ++k) {
        PyObject* key = PyTuple_GET_ITEM(kwnames, k);
        if (PyUnicode_Check(key) && name_is(key, name)) return k;
    }
    return -1;
}

// Reports the first keyword that names no free parameter.
inline void raise_bad_keyword(const Signature& sig, Py_ssize_t nargs, PyObject* kwnames) {
    const Py_ssize_t n = PyTuple_GET_SIZE(kwnames);
    for (Py_ssize_t k = 0; k < n; ++k) {
        PyObject* key = PyTuple_GET_ITEM(kwnames, k);
        if (!PyUnicode_Check(key)) {
            PyErr_Format(PyExc_TypeError, "%.200s() keywords must be strings", sig.name);
            return;
        }
        Py_ssize_t j = 0;
        while (j < sig.count && !name_is(key, sig.params[j])) ++j;
        if (j == sig.count) {
            PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%U'", sig.name,
                         key);
            return;
        }
        if (j < nargs) {
            PyErr_Format(PyExc_TypeError, "%s() got multiple values for keyword argument '%U'",
                         sig.name, key);
            return;
        }
    }
}

}  // namespace detail

// Parses vectorcall arguments into `out[0 .. sig.count)` (borrowed
// references; NULL for an optional parameter not given). Returns false with
// a TypeError set when the call does not fit the signature.
inline bool parse(const Signature& sig, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                  PyObject** out) {
    if (nargs > sig.count) {
        raise_arg_count(sig, nargs);
        return false;
    }
    for (Py_ssize_t i = 0; i < nargs; ++i) out[i] = args[i];
    for (Py_ssize_t i = nargs; i < sig.count; ++i) out[i] = nullptr;
    const Py_ssize_t nkw = kwnames ? PyTuple_GET_SIZE(kwnames) : 0;
    if (nkw == 0) {
        if (nargs < sig.required) {
            raise_arg_count(sig, nargs);
            return false;
        }
        return true;
    }
    Py_ssize_t used = 0;
    for (Py_ssize_t i = nargs; i < sig.count; ++i) {
        const Py_ssize_t k = detail::find_keyword(kwnames, sig.params[i]);
        if (k >= 0) {
            out[i] = args[nargs + k];
            ++used;
        } else if (i < sig.required) {
            raise_arg_count(sig, i);
            return false;
        }
    }
    if (used < nkw) {
        detail::raise_bad_keyword(sig, nargs, kwnames);
        return false;
    }
    return true;
}

// Methods declared without parameters (the count message reads "exactly 0").
inline bool no_params(const char* name, Py_ssize_t nargs, PyObject* kwnames) {
    const Signature sig{name, nullptr, 0, 0};
    return parse(sig, nullptr, nargs, kwnames, nullptr);
}

// The same for the (args tuple, kwargs dict) convention of tp_init: the
// arguments are laid out as a vectorcall would lay them out.
inline bool parse_tuple(const Signature& sig, PyObject* args, PyObject* kwds, PyObject** out) {
    const Py_ssize_t nargs = PyTuple_GET_SIZE(args);
    const Py_ssize_t nkw = kwds ? PyDict_GET_SIZE(kwds) : 0;
    PyObject** positional = PySequence_Fast_ITEMS(args);
    if (nkw == 0) return parse(sig, positional, nargs, nullptr, out);
    Ref kwnames = Ref::steal(PyTuple_New(nkw));
    if (!kwnames) return false;
    PyObject* local[8];
    PyObject** flat =
        nargs + nkw <= 8 ? local : PyMem_New(PyObject*, static_cast<size_t>(nargs + nkw));
    if (flat == nullptr) {
        PyErr_NoMemory();
        return false;
    }
    for (Py_ssize_t i = 0; i < nargs; ++i) flat[i] = positional[i];
    Py_ssize_t pos = 0, k = 0;
    PyObject *key, *value;
    while (PyDict_Next(kwds, &pos, &key, &value)) {
        PyTuple_SET_ITEM(kwnames.get(), k, Py_NewRef(key));
        flat[nargs + k++] = value;
    }
    const bool parsed = parse(sig, flat, nargs, kwnames.get(), out);
    if (flat != local) PyMem_Free(flat);
    return parsed;
}

// For functions without parameters.
inline bool no_args(const char* name, Py_ssize_t nargs, PyObject* kwnames) {
    if (kwnames && PyTuple_GET_SIZE(kwnames) != 0) {
        PyErr_Format(PyExc_TypeError, "%.200s() %s", name, "takes no keyword arguments");
        return false;
    }
    if (nargs != 0) {
        PyErr_Format(PyExc_TypeError, "%.200s() %s (%zd given)", name, "takes no arguments", nargs);
        return false;
    }
    return true;
}

// Parameters declared with a type.
enum class NoneOk : bool { no = false, yes = true };

inline void raise_not_none() {
    PyErr_SetString(PyExc_TypeError,
                    "cannot pass None into a C function argument that is declared 'not None'");
}

// `value` must be an instance of `type` (exactly, when `exact`), or None
// where `none` allows it.
inline bool check_arg(PyObject* value, PyTypeObject* type, const char* param,
                      NoneOk none = NoneOk::yes, bool exact = false) {
    if (Py_IS_TYPE(value, type)) return true;
    if (value == Py_None) {
        if (none == NoneOk::yes) return true;
        raise_not_none();
        return false;
    }
    if (!exact && PyObject_TypeCheck(value, type)) return true;
    PyErr_Format(PyExc_TypeError,
                 "Argument '%.200s' has incorrect type (expected %.200s, got %.200s)", param,
                 type->tp_name, Py_TYPE(value)->tp_name);
    return false;
}

// A parameter declared `str`: exactly `str`, not a subclass.
inline bool check_str_arg(PyObject* value, const char* param, NoneOk none = NoneOk::yes) {
    return check_arg(value, &PyUnicode_Type, param, none, true);
}

// Typed fields and variables: exactly `type` or None.
inline bool check_field(PyObject* value, PyTypeObject* type, const char* type_name) {
    if (value == Py_None || Py_IS_TYPE(value, type)) return true;
    PyErr_Format(PyExc_TypeError, "Expected %.42s, got %.200s", type_name, Py_TYPE(value)->tp_name);
    return false;
}

// The most common shape: exactly one parameter, by position or keyword.
//     static const reru::Unary sig{"search", "date_string"};
//     PyObject* text = sig.str_arg(args, nargs, kwnames);  // NULL: TypeError set
class Unary {
public:
    constexpr Unary(const char* function, const char* param) noexcept
        : param_(param), sig_{function, &param_, 1, 1} {}
    Unary(const Unary&) = delete;
    Unary& operator=(const Unary&) = delete;

    // The argument (borrowed), or NULL with the TypeError set.
    PyObject* arg(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) const {
        if (nargs == 1 && (kwnames == nullptr || PyTuple_GET_SIZE(kwnames) == 0)) return args[0];
        PyObject* value;
        return parse(sig_, args, nargs, kwnames, &value) ? value : nullptr;
    }
    // The same for a parameter declared `str`.
    PyObject* str_arg(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                      NoneOk none = NoneOk::yes) const {
        PyObject* value = arg(args, nargs, kwnames);
        return value && check_str_arg(value, param_, none) ? value : nullptr;
    }

private:
    const char* param_;
    Signature sig_;
};

}  // namespace reru
