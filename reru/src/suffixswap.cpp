// Module suffixswap: replaceZ(datetime_string) turns a final UTC designator
// "Z" into the offset "+00:00". Only the last byte of the string's UTF-8
// text, read up to the first NUL, is looked at; nothing is parsed.
#include "reru.hpp"
#include "reru/text.hpp"

namespace {

constexpr char utc_offset[] = "+00:00";
constexpr Py_ssize_t utc_offset_size = sizeof utc_offset - 1;

// Writes the text with its final "Z" replaced: size + 5 bytes at `out`.
void write_replaced(const reru::Utf8Text& text, char* out) {
    const size_t kept = static_cast<size_t>(text.size - 1);
    std::memcpy(out, text.data, kept);
    std::memcpy(out + kept, utc_offset, utc_offset_size);
}

PyObject* with_utc_offset(const reru::Utf8Text& text) {
    const Py_ssize_t size = text.size - 1 + utc_offset_size;
    if (text.ascii) {
        PyObject* s = PyUnicode_New(size, 127);
        if (s != nullptr) write_replaced(text, reinterpret_cast<char*>(PyUnicode_1BYTE_DATA(s)));
        return s;
    }
    reru::Scratch scratch;
    char* out = scratch.reserve(size);
    if (out == nullptr) return nullptr;
    write_replaced(text, out);
    return reru::str_from_utf8(out, size, false);
}

// The result for the str `s`, whose UTF-8 text is `whole`.
PyObject* replaced(PyObject* s, const reru::Utf8Text& whole) {
    const reru::Utf8Text text = reru::until_nul(whole);
    if (text.size > 0 && text.data[text.size - 1] == 'Z') return with_utc_offset(text);
    // Unchanged: the string itself, or the part before its NUL.
    if (!text.cut) return Py_NewRef(s);
    return reru::str_from_utf8(text.data, text.size, text.ascii);
}

const reru::Unary replaceZ_sig{"replaceZ", "datetime_string"};

PyObject* replaceZ(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    reru::Utf8Text whole;
    PyObject* s = reru::utf8_arg(replaceZ_sig, reru::Declared::str, args, nargs, kwnames, whole);
    return s == nullptr ? nullptr : replaced(s, whole);
}

const reru::FunctionDef replaceZ_def{"replaceZ", replaceZ,
                                     "replaceZ($module, /, datetime_string)\n--\n\n"};

reru::ModuleGuard guard{"suffixswap"};

}  // namespace

RERU_MODULE(suffixswap, guard, reru::sole_function<replaceZ_def>)
