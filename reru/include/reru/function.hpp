// Python-visible functions and methods.
//
// A FunctionDef pairs a name with a C implementation of the vectorcall
// signature; the implementation parses its own arguments (args.hpp).
// Module-level functions become plain built-in functions (add_function), the
// interpreter's fastest call path. Methods, and functions that must carry
// `__annotations__`, use the small Function type below instead: as a method
// (it has an owner class) it binds to instances like a Python function does,
// reports "name() needs an argument" when called unbound, and pickles by
// name.
//
// A function's doc may open with its signature, in the form the
// interpreter's own built-ins use, then the docstring proper:
//   "name($module, /, param)\n--\n\n"  a built-in module function,
//   "name($self, /, param)\n--\n\n"    a method,
//   "name(param)\n--\n\n"              a Function that is no method.
// The interpreter (for built-ins) and the Function type (below) split it:
// `__text_signature__` gets "($module, /, param)", from which
// inspect.signature and help() build the signature ("$module" and a bound
// "$self" are left out), and `__doc__` gets what follows, or None when
// nothing does.
#pragma once

#include "module.hpp"
#include "ref.hpp"

#include <cstddef>
#include <string_view>

namespace reru {

// self: the module for module-level functions, the instance for methods.
using Impl = PyObject* (*)(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                           PyObject* kwnames);

struct FunctionDef {
    FunctionDef(const char* function_name, Impl function_impl, const char* function_doc = nullptr)
        : name(function_name),
          impl(function_impl),
          method{function_name,
                 reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)(void)>(function_impl)),
                 METH_FASTCALL | METH_KEYWORDS, function_doc} {}

    const char* name;
    Impl impl;
    PyMethodDef method;  // for the built-in function form (add_function); holds the doc
};

struct Function {
    PyObject_HEAD
    vectorcallfunc vectorcall;
    const FunctionDef* def;
    PyObject* module;  // the defining module (passed as self when no owner)
    PyObject* owner;   // the class of a method, else NULL
    PyObject* name;
    PyObject* qualname;
    PyObject* doc;          // set by assignment; NULL: the doc of `def`
    PyObject* annotations;  // created on first access
    PyObject* dict;         // holds `__module__`, as a Python function's namespace would
};

namespace detail {

// The signature part of a doc, "(...)", or an empty view when the doc does
// not open with "name(...)\n--\n\n". (Nothing here may throw: a throwing
// library call would link the C++ exception machinery into the module.)
inline std::string_view text_signature(const FunctionDef& def) {
    if (def.method.ml_doc == nullptr) return {};
    const std::string_view doc = def.method.ml_doc, name = def.name;
    if (!doc.starts_with(name) || doc.size() == name.size() || doc[name.size()] != '(') return {};
    const std::size_t end = doc.find(")\n--\n\n", name.size());
    if (end == std::string_view::npos) return {};
    return {doc.data() + name.size(), end + 1 - name.size()};
}

// The docstring proper: the doc less its signature part.
inline std::string_view doc_text(const FunctionDef& def) {
    if (def.method.ml_doc == nullptr) return {};
    std::string_view doc = def.method.ml_doc;
    const std::string_view signature = text_signature(def);
    if (!signature.empty())
        doc.remove_prefix(std::string_view(def.name).size() + signature.size() + sizeof "\n--\n\n" -
                          1);
    return doc;
}

inline PyObject* function_vectorcall(PyObject* callable, PyObject* const* args, size_t nargsf,
                                     PyObject* kwnames) {
    auto* f = reinterpret_cast<Function*>(callable);
    Py_ssize_t nargs = PyVectorcall_NARGS(nargsf);
    if (f->owner == nullptr) return f->def->impl(f->module, args, nargs, kwnames);
    if (nargs < 1) {
        PyErr_Format(PyExc_TypeError, "%.200s() %s", f->def->name, "needs an argument");
        return nullptr;
    }
    PyObject* self = args[0];
    if (!PyObject_TypeCheck(self, reinterpret_cast<PyTypeObject*>(f->owner))) {
        PyErr_Format(PyExc_TypeError,
                     "descriptor '%U' for '%.100s' objects doesn't apply to a '%.100s' object",
                     f->name, reinterpret_cast<PyTypeObject*>(f->owner)->tp_name,
                     Py_TYPE(self)->tp_name);
        return nullptr;
    }
    return f->def->impl(self, args + 1, nargs - 1, kwnames);
}

inline int function_traverse(PyObject* self, visitproc visit, void* arg) {
    auto* f = reinterpret_cast<Function*>(self);
    Py_VISIT(Py_TYPE(self));
    Py_VISIT(f->module);
    Py_VISIT(f->owner);
    Py_VISIT(f->doc);
    Py_VISIT(f->annotations);
    Py_VISIT(f->dict);
    return 0;
}

inline int function_clear(PyObject* self) {
    auto* f = reinterpret_cast<Function*>(self);
    Py_CLEAR(f->module);
    Py_CLEAR(f->owner);
    Py_CLEAR(f->doc);
    Py_CLEAR(f->annotations);
    Py_CLEAR(f->dict);
    return 0;
}

inline void function_dealloc(PyObject* self) {
    auto* f = reinterpret_cast<Function*>(self);
    PyTypeObject* tp = Py_TYPE(self);
    PyObject_GC_UnTrack(self);
    function_clear(self);
    Py_CLEAR(f->name);
    Py_CLEAR(f->qualname);
    tp->tp_free(self);
    Py_DECREF(tp);
}

inline PyObject* function_descr_get(PyObject* self, PyObject* obj, PyObject*) {
    auto* f = reinterpret_cast<Function*>(self);
    if (f->owner == nullptr || obj == nullptr || obj == Py_None) return Py_NewRef(self);
    return PyMethod_New(self, obj);
}

inline PyObject* function_repr(PyObject* self) {
    auto* f = reinterpret_cast<Function*>(self);
    return PyUnicode_FromFormat("<function %U at %p>", f->qualname, self);
}

// Module functions and static methods pickle as a global name, found by
// their qualified name in their module; methods as getattr(class, name).
inline PyObject* function_reduce(PyObject* self, PyObject*) {
    auto* f = reinterpret_cast<Function*>(self);
    if (f->owner == nullptr) return Py_NewRef(f->qualname);
    PyObject* getattr_fn = PyDict_GetItemString(PyEval_GetBuiltins(), "getattr");
    if (getattr_fn == nullptr) {
        PyErr_SetString(PyExc_RuntimeError, "builtins.getattr is missing");
        return nullptr;
    }
    return Py_BuildValue("O(OO)", getattr_fn, f->owner, f->name);
}

inline PyObject* get_name(PyObject* self, void*) {
    return Py_NewRef(reinterpret_cast<Function*>(self)->name);
}
inline PyObject* get_qualname(PyObject* self, void*) {
    return Py_NewRef(reinterpret_cast<Function*>(self)->qualname);
}
inline PyObject* str_or_none(std::string_view text) {
    if (text.empty()) Py_RETURN_NONE;
    return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
}
inline PyObject* get_doc(PyObject* self, void*) {
    auto* f = reinterpret_cast<Function*>(self);
    if (f->doc != nullptr) return Py_NewRef(f->doc);
    return str_or_none(doc_text(*f->def));
}
inline PyObject* get_text_signature(PyObject* self, void*) {
    return str_or_none(text_signature(*reinterpret_cast<Function*>(self)->def));
}
inline int set_doc(PyObject* self, PyObject* value, void*) {
    Py_XSETREF(reinterpret_cast<Function*>(self)->doc, Py_XNewRef(value));
    return 0;
}
inline PyObject* get_annotations(PyObject* self, void*) {
    auto* f = reinterpret_cast<Function*>(self);
    if (f->annotations == nullptr && (f->annotations = PyDict_New()) == nullptr) return nullptr;
    return Py_NewRef(f->annotations);
}
inline int set_annotations(PyObject* self, PyObject* value, void*) {
    if (value != nullptr && value != Py_None && !PyDict_Check(value)) {
        PyErr_SetString(PyExc_TypeError, "__annotations__ must be set to a dict object");
        return -1;
    }
    Py_XSETREF(reinterpret_cast<Function*>(self)->annotations,
               value == Py_None ? nullptr : Py_XNewRef(value));
    return 0;
}

inline PyGetSetDef function_getset[] = {
    {"__name__", get_name, nullptr, nullptr, nullptr},
    {"__qualname__", get_qualname, nullptr, nullptr, nullptr},
    {"__doc__", get_doc, set_doc, nullptr, nullptr},
    {"__text_signature__", get_text_signature, nullptr, nullptr, nullptr},
    {"__annotations__", get_annotations, set_annotations, nullptr, nullptr},
    {"__dict__", PyObject_GenericGetDict, PyObject_GenericSetDict, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

inline PyMethodDef function_methods[] = {
    {"__reduce__", function_reduce, METH_NOARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

inline PyMemberDef function_members[] = {
    {"__vectorcalloffset__", Py_T_PYSSIZET, offsetof(Function, vectorcall), Py_READONLY, nullptr},
    {"__dictoffset__", Py_T_PYSSIZET, offsetof(Function, dict), Py_READONLY, nullptr},
    {nullptr, 0, 0, 0, nullptr},
};

inline PyType_Slot function_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(function_dealloc)},
    {Py_tp_traverse, reinterpret_cast<void*>(function_traverse)},
    {Py_tp_clear, reinterpret_cast<void*>(function_clear)},
    {Py_tp_call, reinterpret_cast<void*>(PyVectorcall_Call)},
    {Py_tp_descr_get, reinterpret_cast<void*>(function_descr_get)},
    {Py_tp_repr, reinterpret_cast<void*>(function_repr)},
    {Py_tp_getset, function_getset},
    {Py_tp_methods, function_methods},
    {Py_tp_members, function_members},
    {0, nullptr},
};

inline PyType_Spec function_spec = {
    "chronvale.function",
    sizeof(Function),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_HAVE_VECTORCALL |
        Py_TPFLAGS_METHOD_DESCRIPTOR | Py_TPFLAGS_IMMUTABLETYPE | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    function_slots,
};

// The function type of this extension module, created on first use and
// kept for the life of the process.
inline PyTypeObject* function_type() {
    static PyObject* type = nullptr;
    if (type == nullptr) type = new_type(&function_spec);
    return reinterpret_cast<PyTypeObject*>(type);
}

}  // namespace detail

// A new function object; `def` must outlive it (keep it static). A
// function defined in a class `cls` is qualified by the class name and, as
// a method (`method`), binds to instances of that class.
inline Ref make_function(const FunctionDef& def, PyObject* module, PyObject* cls = nullptr,
                         bool method = true) {
    PyTypeObject* tp = detail::function_type();
    if (tp == nullptr) return Ref();
    Ref name = Ref::steal(PyUnicode_InternFromString(def.name));
    if (!name) return Ref();
    Ref qualname = name;
    if (cls != nullptr) {
        Ref cls_qualname = Ref::steal(PyObject_GetAttrString(cls, "__qualname__"));
        if (!cls_qualname) return Ref();
        qualname = Ref::steal(PyUnicode_FromFormat("%U.%U", cls_qualname.get(), name.get()));
    }
    if (!qualname) return Ref();
    // `__module__` lives in the function's namespace: the type's own
    // `__module__` is then an ordinary string, as tools that inspect the
    // type expect.
    Ref module_name = Ref::steal(PyModule_GetNameObject(module));
    Ref dict = Ref::steal(module_name ? PyDict_New() : nullptr);
    if (!dict || PyDict_SetItemString(dict.get(), "__module__", module_name.get()) != 0)
        return Ref();
    auto* f = PyObject_GC_New(Function, tp);
    if (f == nullptr) return Ref();
    f->vectorcall = detail::function_vectorcall;
    f->def = &def;
    f->module = Py_NewRef(module);
    f->owner = method ? Py_XNewRef(cls) : nullptr;
    f->name = name.release();
    f->qualname = qualname.release();
    f->doc = nullptr;
    f->annotations = nullptr;
    f->dict = dict.release();
    PyObject_GC_Track(f);
    return Ref::steal(reinterpret_cast<PyObject*>(f));
}

// Creates a module function and binds it in the module's namespace. It is
// a plain built-in function, which the interpreter calls by its fastest
// path; the implementation still parses its own arguments.
inline bool add_function(PyObject* module, const FunctionDef& def) {
    Ref module_name = Ref::steal(PyModule_GetNameObject(module));
    if (!module_name) return false;
    Ref f = Ref::steal(
        PyCFunction_NewEx(const_cast<PyMethodDef*>(&def.method), module, module_name.get()));
    return f && PyModule_AddObjectRef(module, def.name, f.get()) == 0;
}

// The body of a module whose one public name is the function `def`: binds
// it and lists it alone in `__all__`.
//     RERU_MODULE(joinmark, guard, reru::sole_function<isISOT_def>)
template <const FunctionDef& def>
bool sole_function(PyObject* module, PyObject*) {
    return add_function(module, def) && set_all(module, {def.name});
}

// The same with a function object that carries `__annotations__` (and a
// `__dict__`), as a function written in Python would.
inline bool add_annotated_function(PyObject* module, const FunctionDef& def,
                                   PyObject* annotations) {
    Ref f = make_function(def, module);
    return f && PyObject_SetAttrString(f.get(), "__annotations__", annotations) == 0 &&
           PyModule_AddObjectRef(module, def.name, f.get()) == 0;
}

// Creates a method of `type` and stores it in the class dictionary, wrapped
// as a static method when `is_static` (a plain function then, which pickles
// by its qualified name).
inline bool add_method(PyTypeObject* type, PyObject* module, const FunctionDef& def,
                       bool is_static = false) {
    Ref f = make_function(def, module, reinterpret_cast<PyObject*>(type), !is_static);
    if (f && is_static) f = Ref::steal(PyStaticMethod_New(f.get()));
    if (!f || PyDict_SetItemString(type->tp_dict, def.name, f.get()) != 0) return false;
    PyType_Modified(type);
    return true;
}

}  // namespace reru
