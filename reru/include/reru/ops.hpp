// Two steps of Python code done natively, each with the interpreter's own
// behaviour and errors: a call of str.replace and the unpacking of a pair.
#pragma once

#include "ref.hpp"

namespace reru {

inline Name replace_name{"replace"};

// `text.replace(old, new)`. Done directly when `text` is an exact str and
// both arguments are str of any class: the method of an exact str cannot be
// replaced, and it reads nothing of its arguments but their characters, so
// a subclass there makes no difference. Anything else calls the object's
// own method: a subclass's override of replace, None's AttributeError, or
// str.replace's own TypeError for an argument that is not a str.
inline Ref str_replace(PyObject* text, PyObject* old, PyObject* replacement) {
    if (PyUnicode_CheckExact(text) && PyUnicode_Check(old) && PyUnicode_Check(replacement))
        return Ref::steal(PyUnicode_Replace(text, old, replacement, -1));
    PyObject* args[] = {text, old, replacement};
    return Ref::steal(PyObject_VectorcallMethod(replace_name.get(), args,
                                                3 | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr));
}

// How unpacking reports an object that cannot be iterated: in the words of
// the unpacking statement ("cannot unpack non-iterable int object"), or in
// those of iter() ("'int' object is not iterable").
enum class NonIterable : bool { cannot_unpack, not_iterable };

// `first, second = pair`: the first two items of `pair`, and a third
// looked for (and not taken further) to tell that there is none. False
// with the interpreter's ValueError for too few or too many items, the
// TypeError of `non_iterable`, or the error of the iteration itself.
inline bool unpack_pair(PyObject* pair, Ref& first, Ref& second,
                        NonIterable non_iterable = NonIterable::cannot_unpack) {
    if (non_iterable == NonIterable::cannot_unpack && Py_TYPE(pair)->tp_iter == nullptr &&
        !PySequence_Check(pair)) {
        PyErr_Format(PyExc_TypeError, "cannot unpack non-iterable %.200s object",
                     Py_TYPE(pair)->tp_name);
        return false;
    }
    Ref it = Ref::steal(PyObject_GetIter(pair));
    if (!it) return false;
    Ref* slots[] = {&first, &second};
    for (int i = 0; i < 2; ++i) {
        *slots[i] = Ref::steal(PyIter_Next(it.get()));
        if (!*slots[i]) {
            if (!PyErr_Occurred())
                PyErr_Format(PyExc_ValueError, "not enough values to unpack (expected 2, got %d)",
                             i);
            return false;
        }
    }
    Ref extra = Ref::steal(PyIter_Next(it.get()));
    if (extra) PyErr_SetString(PyExc_ValueError, "too many values to unpack (expected 2)");
    return !PyErr_Occurred();
}

}  // namespace reru
