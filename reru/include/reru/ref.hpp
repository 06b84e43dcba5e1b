// Owned references and interned constant names.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <utility>

namespace reru {

// An owned (strong) reference. Releases it when it goes out of scope, so an
// early return on an error path never leaks. Copying takes a new reference.
class Ref {
public:
    Ref() noexcept = default;
    Ref(std::nullptr_t) noexcept {}
    Ref(const Ref& other) noexcept : p_(Py_XNewRef(other.p_)) {}
    Ref(Ref&& other) noexcept : p_(other.p_) { other.p_ = nullptr; }
    ~Ref() { Py_XDECREF(p_); }

    Ref& operator=(Ref other) noexcept {
        std::swap(p_, other.p_);
        return *this;
    }

    // Takes over a reference the caller owns (typically a "new reference"
    // returned by the C API, possibly NULL on error).
    static Ref steal(PyObject* p) noexcept {
        Ref r;
        r.p_ = p;
        return r;
    }
    // Takes a new reference to a borrowed object.
    static Ref borrow(PyObject* p) noexcept {
        Ref r;
        r.p_ = Py_XNewRef(p);
        return r;
    }

    PyObject* get() const noexcept { return p_; }
    explicit operator bool() const noexcept { return p_ != nullptr; }

    // Hands the reference over to the caller (for returning to Python).
    PyObject* release() noexcept {
        PyObject* p = p_;
        p_ = nullptr;
        return p;
    }
    // Replaces the held reference with an owned one (stolen).
    void reset(PyObject* stolen = nullptr) noexcept {
        PyObject* old = p_;
        p_ = stolen;
        Py_XDECREF(old);
    }

private:
    PyObject* p_ = nullptr;
};

// A constant name (an interned str) for attribute, keyword and global names,
// so that dictionary lookups hit the cached hash and identity comparison.
//
// Names are declared at namespace scope only. Each registers itself while the
// shared library loads, and `intern_all` interns every one of them when the
// module initialises, before its body runs: a failure fails the import, and
// afterwards `get` never returns NULL. The module keeps each reference for
// the life of the process (the module initialises once per process).
class Name {
public:
    explicit Name(const char* text) noexcept : text_(text), next_(head()) { head() = this; }
    Name(const Name&) = delete;
    Name& operator=(const Name&) = delete;

    // Borrowed; the module owns it.
    PyObject* get() const noexcept { return obj_; }
    const char* text() const noexcept { return text_; }

    // Interns every Name of this extension module. False with the error set.
    static bool intern_all() noexcept {
        for (Name* name = head(); name != nullptr; name = name->next_) {
            if (name->obj_ == nullptr &&
                (name->obj_ = PyUnicode_InternFromString(name->text_)) == nullptr)
                return false;
        }
        return true;
    }

private:
    // The Names of one extension module: the toolkit is compiled into each
    // module with hidden symbols, so every module has its own list.
    static Name*& head() noexcept {
        static Name* first = nullptr;
        return first;
    }

    const char* text_;
    Name* next_;
    PyObject* obj_ = nullptr;
};

// A class made from `spec` (new reference), or NULL with an error set. When
// one allocation inside it fails, the interpreter's type creation can return
// NULL without setting an exception; that is reported as MemoryError.
inline PyObject* new_type(PyType_Spec* spec, PyObject* module = nullptr) {
    PyObject* type = PyType_FromModuleAndSpec(module, spec, nullptr);
    if (type == nullptr && !PyErr_Occurred()) PyErr_NoMemory();
    return type;
}

// Interpret a C API status: true when `p` is non-NULL.
inline bool ok(PyObject* p) noexcept { return p != nullptr; }

}  // namespace reru
