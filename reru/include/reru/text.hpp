// Text views (the characters of a str; the UTF-8 bytes of one, read the way
// C reads a NUL-terminated byte string if need be), the argument glue of
// functions that read the UTF-8 text of their one argument, and new strings
// made from UTF-8 bytes.
#pragma once

#include "args.hpp"
#include "globals.hpp"

#include <cstring>

namespace reru {

// The six ASCII white-space bytes: space, tab, LF, VT, FF and CR.
constexpr bool is_ascii_space(unsigned char c) noexcept {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// UTF-8 bytes of a str. `ascii` tells that all of them are known to be below
// 0x80; `cut` that they end at a NUL that came before the end of the data
// (see until_nul). `at` reads a byte the way C reads a string: any
// position at or past the end reads as the closing NUL.
struct Utf8Text {
    const char* data = nullptr;
    Py_ssize_t size = 0;
    bool ascii = false;
    bool cut = false;

    const unsigned char* bytes() const noexcept {
        return reinterpret_cast<const unsigned char*>(data);
    }
    unsigned char at(Py_ssize_t i) const noexcept { return i < size ? bytes()[i] : 0; }
};

// The same bytes read up to their first NUL.
inline Utf8Text until_nul(const Utf8Text& text) noexcept {
    Utf8Text read = text;
    if (const void* nul = std::memchr(text.data, 0, static_cast<size_t>(text.size))) {
        read.size = static_cast<const char*>(nul) - text.data;
        read.cut = true;
    }
    return read;
}

// The strict UTF-8 form of the str `s`, whole. An ASCII string is read in
// place; any other goes through the interpreter's own (cached) UTF-8 form.
// False with UnicodeEncodeError set for a lone surrogate, or MemoryError.
inline bool utf8_of(PyObject* s, Utf8Text& out) {
    if (PyUnicode_IS_ASCII(s)) {
        out = {static_cast<const char*>(PyUnicode_DATA(s)), PyUnicode_GET_LENGTH(s), true, false};
        return true;
    }
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(s, &size);
    if (data == nullptr) return false;
    out = {data, size, false, false};
    return true;
}

// Read access to the characters of a str (or of ASCII bytes, read as one);
// any position at or past the end reads as `past_end`, so looking ahead is
// always safe.
struct Chars {
    int kind;
    const void* data;
    Py_ssize_t n;
    Py_UCS4 past_end;

    explicit Chars(PyObject* s, Py_UCS4 past_end_value = 0)
        : kind(PyUnicode_KIND(s)),
          data(PyUnicode_DATA(s)),
          n(PyUnicode_GET_LENGTH(s)),
          past_end(past_end_value) {}
    Chars(const char* ascii, Py_ssize_t size, Py_UCS4 past_end_value = 0)
        : kind(PyUnicode_1BYTE_KIND), data(ascii), n(size), past_end(past_end_value) {}
    Py_UCS4 operator[](Py_ssize_t i) const {
        return i < n ? PyUnicode_READ(kind, data, i) : past_end;
    }
};

// Raises the error that using the missing method `method` of `value` gives
// (for None: AttributeError "'NoneType' object has no attribute '...'").
inline void raise_missing_method(PyObject* value, const Name& method) {
    Ref found = attr(value, method);
    if (found) {
        PyErr_Format(PyExc_AttributeError, "'%.50s' object has no attribute '%.30s'",
                     Py_TYPE(value)->tp_name, method.text());
    }
}

inline Name encode_name{"encode"};

// How a function that reads the UTF-8 text of its one argument declares
// its parameter: `str` (exactly str, or None, which then fails where it is
// encoded, with the interpreter's AttributeError), or untyped (any object;
// what to do with one that is not an exact str is the caller's business).
enum class Declared : bool { any, str };

// The argument of such a function (borrowed), with `whole` set to its UTF-8
// form when it is an exact str and left empty (data NULL) otherwise; NULL
// with the error set when the call does not fit `sig`, the parameter's type
// or the encoding. The usual call, one exact str by position, skips the
// argument parser.
inline PyObject* utf8_arg(const Unary& sig, Declared param, PyObject* const* args, Py_ssize_t nargs,
                          PyObject* kwnames, Utf8Text& whole) {
    whole = {};
    PyObject* value;
    if (nargs == 1 && kwnames == nullptr && PyUnicode_CheckExact(args[0])) {
        value = args[0];
    } else {
        value = param == Declared::str ? sig.str_arg(args, nargs, kwnames)
                                       : sig.arg(args, nargs, kwnames);
        if (value == nullptr) return nullptr;
        if (!PyUnicode_CheckExact(value)) {
            if (param == Declared::any) return value;
            raise_missing_method(value, encode_name);  // None
            return nullptr;
        }
    }
    return utf8_of(value, whole) ? value : nullptr;
}

// A new str from UTF-8 bytes: ASCII bytes are copied straight into a
// one-byte string, anything else is decoded strictly (UnicodeDecodeError
// for bytes that are not UTF-8).
inline PyObject* str_from_utf8(const char* data, Py_ssize_t size, bool ascii) {
    if (!ascii) return PyUnicode_DecodeUTF8(data, size, "strict");
    PyObject* s = PyUnicode_New(size, 127);
    if (s != nullptr && size > 0)
        std::memcpy(PyUnicode_1BYTE_DATA(s), data, static_cast<size_t>(size));
    return s;
}

// Working bytes for one call: on the stack when few, else on the heap.
// Reserve once per object.
class Scratch {
public:
    Scratch() noexcept = default;
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;
    ~Scratch() {
        if (data_ != local_) PyMem_Free(data_);
    }

    // Room for `size` bytes; NULL with MemoryError set when there is none.
    char* reserve(Py_ssize_t size) {
        if (size <= static_cast<Py_ssize_t>(sizeof local_)) return data_;
        data_ = static_cast<char*>(PyMem_Malloc(static_cast<size_t>(size)));
        if (data_ == nullptr) {
            data_ = local_;
            PyErr_NoMemory();
            return nullptr;
        }
        return data_;
    }

private:
    char local_[256];
    char* data_ = local_;
};

}  // namespace reru
