// Module initialisation rules shared by every extension module.
//
// Each module uses multi-phase initialisation and may live in one
// interpreter per process only; its body runs once. `RERU_MODULE` defines
// the create and exec slots, the module definition and `PyInit_<name>`; the
// module supplies only its body:
//
//     static reru::ModuleGuard guard{"zonebook"};
//     static bool body(PyObject* module, PyObject* dict) { ... }
//     RERU_MODULE(zonebook, guard, body)
#pragma once

#include "ref.hpp"

#include <cstddef>
#include <cstdint>
#include <initializer_list>

namespace reru {

struct ModuleGuard {
    const char* short_name;
    std::int64_t interpreter = -1;
    // Borrowed, and cleared when the module is freed. The module's functions
    // and classes hold the module, so it outlives every call that uses these.
    PyObject* module = nullptr;
    PyObject* dict = nullptr;
    bool executed = false;
};

namespace detail {

inline bool same_interpreter(ModuleGuard& g) {
    const std::int64_t current = PyInterpreterState_GetID(PyInterpreterState_Get());
    if (g.interpreter == -1) {
        g.interpreter = current;
    } else if (g.interpreter != current) {
        PyErr_SetString(PyExc_ImportError,
                        "Interpreter change detected - this module can only be loaded into one "
                        "interpreter per process.");
        return false;
    }
    return true;
}

inline bool warn_version_mismatch(PyObject* module) {
    const int major = static_cast<int>((Py_Version >> 24) & 0xFF);
    const int minor = static_cast<int>((Py_Version >> 16) & 0xFF);
    if (major == PY_MAJOR_VERSION && minor == PY_MINOR_VERSION) return true;
    const char* name = PyModule_GetName(module);
    if (name == nullptr) return false;
    return PyErr_WarnFormat(PyExc_RuntimeWarning, 1,
                            "compile time Python version %d.%d of module '%.100s' %s runtime "
                            "version %d.%d",
                            PY_MAJOR_VERSION, PY_MINOR_VERSION, name, "does not match", major,
                            minor) == 0;
}

}  // namespace detail

// Py_mod_create: the interpreter check, and one module object per process.
inline PyObject* module_create(ModuleGuard& g, PyObject* spec) {
    if (!detail::same_interpreter(g)) return nullptr;
    if (g.module != nullptr) return Py_NewRef(g.module);
    Ref name = Ref::steal(PyObject_GetAttrString(spec, "name"));
    if (!name) return nullptr;
    PyObject* module = PyModule_NewObject(name.get());
    g.module = module;
    return module;
}

// Py_mod_exec: refuses a second run of the body, warns on a version
// mismatch, interns the module's Names, runs the body, and finally binds the
// empty `__test__`.
inline int module_exec(ModuleGuard& g, PyObject* module, bool (*body)(PyObject*, PyObject*)) {
    if (g.executed) {
        PyErr_Format(PyExc_RuntimeError,
                     "Module '%s' has already been imported. Re-initialisation is not supported.",
                     g.short_name);
        return -1;
    }
    g.executed = true;
    g.module = module;
    g.dict = PyModule_GetDict(module);
    if (!detail::warn_version_mismatch(module) || !Name::intern_all()) return -1;
    if (!body(module, g.dict)) return -1;
    Ref test = Ref::steal(PyDict_New());
    if (!test || PyDict_SetItemString(g.dict, "__test__", test.get()) != 0) return -1;
    return 0;
}

inline void module_free(ModuleGuard& g, void* module) {
    if (g.module == module) {
        g.module = nullptr;
        g.dict = nullptr;
    }
}

// Fetches `module.attr` after importing `module` (new reference).
inline Ref import_attr(const char* module, const char* attr) {
    Ref m = Ref::steal(PyImport_ImportModule(module));
    if (!m) return Ref();
    return Ref::steal(PyObject_GetAttrString(m.get(), attr));
}

// A new list of str made from `count` C strings.
inline Ref str_list(const char* const* names, std::size_t count) {
    Ref list = Ref::steal(PyList_New(static_cast<Py_ssize_t>(count)));
    for (std::size_t i = 0; list && i < count; ++i) {
        PyObject* s = PyUnicode_FromString(names[i]);
        if (s == nullptr) return Ref();
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), s);
    }
    return list;
}

// Binds `__all__`, the list of the module's public names.
inline bool set_all(PyObject* module, std::initializer_list<const char*> names) {
    Ref all = str_list(names.begin(), names.size());
    return all && PyModule_AddObjectRef(module, "__all__", all.get()) == 0;
}

}  // namespace reru

// NAME may itself be a macro (a module built twice under two names).
#define RERU_MODULE(NAME, GUARD, BODY) RERU_MODULE_NAMED(NAME, GUARD, BODY)
#define RERU_MODULE_NAMED(NAME, GUARD, BODY)                                                    \
    static PyObject* NAME##_create(PyObject* spec, PyModuleDef*) {                              \
        return reru::module_create(GUARD, spec);                                                \
    }                                                                                           \
    static int NAME##_exec(PyObject* module) { return reru::module_exec(GUARD, module, BODY); } \
    static void NAME##_free(void* module) { reru::module_free(GUARD, module); }                 \
    static PyModuleDef_Slot NAME##_slots[] = {                                                  \
        {Py_mod_create, reinterpret_cast<void*>(NAME##_create)},                                \
        {Py_mod_exec, reinterpret_cast<void*>(NAME##_exec)},                                    \
        {0, nullptr},                                                                           \
    };                                                                                          \
    static PyModuleDef NAME##_def = {                                                           \
        PyModuleDef_HEAD_INIT, #NAME,   nullptr, 0,           nullptr,                          \
        NAME##_slots,          nullptr, nullptr, NAME##_free,                                   \
    };                                                                                          \
    PyMODINIT_FUNC PyInit_##NAME(void) { return PyModuleDef_Init(&NAME##_def); }
