// UTF-8 text of string arguments, read the way C reads a NUL-terminated
// byte string, and new strings made from such bytes.
#pragma once

#include "globals.hpp"

#include <cstring>

namespace reru {

// The six ASCII white-space bytes: space, tab, LF, VT, FF and CR.
constexpr bool is_ascii_space(unsigned char c) noexcept {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// Bytes read up to the first NUL. `cut` tells whether a NUL ended them
// before the end of the data; `ascii` that all of them are known to be
// below 0x80.
struct Utf8Text {
    const char* data = nullptr;
    Py_ssize_t size = 0;
    bool ascii = false;
    bool cut = false;
};

// Reads `data[0 .. size)` up to its first NUL.
inline Utf8Text until_nul(const char* data, Py_ssize_t size, bool ascii) noexcept {
    Utf8Text text{data, size, ascii, false};
    if (const void* nul = std::memchr(data, 0, static_cast<size_t>(size))) {
        text.size = static_cast<const char*>(nul) - data;
        text.cut = true;
    }
    return text;
}

// The strict UTF-8 form of the str `s`, read up to its first NUL. An ASCII
// string is read in place; any other goes through the interpreter's own
// (cached) UTF-8 form. False with UnicodeEncodeError set for a lone
// surrogate, or MemoryError.
inline bool utf8_text(PyObject* s, Utf8Text& out) {
    if (PyUnicode_IS_ASCII(s)) {
        out = until_nul(static_cast<const char*>(PyUnicode_DATA(s)), PyUnicode_GET_LENGTH(s), true);
        return true;
    }
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(s, &size);
    if (data == nullptr) return false;
    out = until_nul(data, size, false);
    return true;
}

// Read access to the characters of a str; any position at or past the end
// reads as `past_end`, so looking ahead is always safe.
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

// utf8_text for a parameter declared `str`, which lets None through: None
// fails where it is encoded, with the interpreter's AttributeError.
inline bool str_arg_utf8(PyObject* value, Utf8Text& out) {
    if (value == Py_None) {
        raise_missing_method(value, encode_name);
        return false;
    }
    return utf8_text(value, out);
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
