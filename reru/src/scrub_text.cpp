// Module scrub_text: scrubtext(input_string) normalises white space: the
// leading and trailing white space goes and every inner run of it becomes
// one space. It works on the UTF-8 bytes the argument's encode("utf-8")
// gives, read up to the first NUL; white space is the six ASCII white-space
// bytes and nothing else. The output buffer is sized from the input, so a
// text of any length is scrubbed whole.
#include "reru.hpp"
#include "reru/text.hpp"

namespace {

using reru::is_ascii_space;

// Whether scrubbing leaves `s[0 .. n)` as it is: no white space at either
// end, and inside only single spaces.
bool is_scrubbed(const unsigned char* s, Py_ssize_t n) {
    if (n == 0) return true;
    if (is_ascii_space(s[0]) || is_ascii_space(s[n - 1])) return false;
    for (Py_ssize_t i = 1; i < n - 1; ++i) {
        if (is_ascii_space(s[i]) && (s[i] != ' ' || is_ascii_space(s[i + 1]))) return false;
    }
    return true;
}

// Writes the scrubbed form of `s[0 .. n)` to `out` (room for n bytes) and
// returns its length.
Py_ssize_t scrub(const unsigned char* s, Py_ssize_t n, unsigned char* out) {
    Py_ssize_t i = 0;
    while (i < n && is_ascii_space(s[i])) ++i;
    Py_ssize_t written = 0;
    bool space = false;
    for (; i < n; ++i) {
        if (!is_ascii_space(s[i])) {
            out[written++] = s[i];
            space = false;
        } else if (!space) {
            out[written++] = ' ';
            space = true;
        }
    }
    if (written > 0 && out[written - 1] == ' ') --written;
    return written;
}

// The scrubbed text as a str. `original`, when given, is the exact str the
// text was read from: it is handed back itself when scrubbing changes
// nothing and no NUL cut the text short.
PyObject* scrubbed_str(const reru::Utf8Text& text, PyObject* original) {
    const auto* in = reinterpret_cast<const unsigned char*>(text.data);
    if (is_scrubbed(in, text.size)) {
        if (original != nullptr && !text.cut) return Py_NewRef(original);
        return reru::str_from_utf8(text.data, text.size, text.ascii);
    }
    reru::Scratch scratch;
    char* out = scratch.reserve(text.size);
    if (out == nullptr) return nullptr;
    const Py_ssize_t size = scrub(in, text.size, reinterpret_cast<unsigned char*>(out));
    return reru::str_from_utf8(out, size, text.ascii);
}

// An exact str: its own UTF-8 form.
PyObject* scrub_str(PyObject* s) {
    reru::Utf8Text text;
    if (!reru::utf8_text(s, text)) return nullptr;
    return scrubbed_str(text, s);
}

// Anything else: the bytes its own encode("utf-8") returns.
PyObject* scrub_encoded(PyObject* value) {
    static reru::Name encode{"encode"};
    static reru::Name utf8{"utf-8"};
    if (encode.get() == nullptr || utf8.get() == nullptr) return nullptr;
    reru::Ref encoded = reru::Ref::steal(PyObject_CallMethodOneArg(value, encode.get(), utf8.get()));
    if (!encoded) return nullptr;
    if (encoded.get() == Py_None) {
        PyErr_SetString(PyExc_TypeError, "expected bytes, NoneType found");
        return nullptr;
    }
    if (!reru::check_field(encoded.get(), &PyBytes_Type, "bytes")) return nullptr;
    return scrubbed_str(reru::until_nul(PyBytes_AS_STRING(encoded.get()),
                                        PyBytes_GET_SIZE(encoded.get()), false),
                        nullptr);
}

PyObject* scrubtext(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static const char* const params[] = {"input_string"};
    static const reru::Signature sig{"scrubtext", params, 1, 1};
    PyObject* value;
    if (!reru::parse(sig, args, nargs, kwnames, &value)) return nullptr;
    return PyUnicode_CheckExact(value) ? scrub_str(value) : scrub_encoded(value);
}

const reru::FunctionDef scrubtext_def{"scrubtext", scrubtext};

reru::ModuleGuard guard{"scrub_text"};

bool body(PyObject* module, PyObject*) {
    if (!reru::add_function(module, scrubtext_def)) return false;
    reru::Ref all = reru::Ref::steal(Py_BuildValue("[s]", "scrubtext"));
    return all && PyModule_AddObjectRef(module, "__all__", all.get()) == 0;
}

}  // namespace

RERU_MODULE(scrub_text, guard, body)
