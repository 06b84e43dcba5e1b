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

// A constant name, interned once on first use and kept for the life of the
// process (the modules live in one interpreter only). Use for attribute,
// keyword and global names on hot paths so that dictionary lookups hit the
// cached hash and identity comparison.
class Name {
public:
    constexpr explicit Name(const char* text) noexcept : text_(text) {}
    Name(const Name&) = delete;
    Name& operator=(const Name&) = delete;

    // Borrowed; NULL with an exception set only on memory exhaustion.
    PyObject* get() noexcept {
        if (obj_ == nullptr) obj_ = PyUnicode_InternFromString(text_);
        return obj_;
    }
    const char* text() const noexcept { return text_; }

private:
    const char* text_;
    PyObject* obj_ = nullptr;
};

// Interpret a C API status: true when `p` is non-NULL.
inline bool ok(PyObject* p) noexcept { return p != nullptr; }

}  // namespace reru
