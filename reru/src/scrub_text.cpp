// Module scrub_text: scrubtext(input_string) normalises white space: the
// leading and trailing white space goes and every inner run of it becomes
// one space. It works on the UTF-8 bytes the argument's encode("utf-8")
// gives, read up to the first NUL; white space is the six ASCII white-space
// bytes and nothing else. The output buffer is sized from the input, so a
// text of any length is scrubbed whole.
#include "reru.hpp"
#include "reru/text.hpp"

#include <bit>
#include <cstdint>

#if defined(__SSE2__) && defined(__SIZEOF_INT128__)
#include <emmintrin.h>
#define SCRUB_TEXT_SSE2 1
#endif

// The chunk helpers sit in the inner loops: they are inlined so that a
// chunk stays in registers instead of being passed through memory.
#if defined(__GNUC__)
#define SCRUB_TEXT_INLINE [[gnu::always_inline]] inline
#else
#define SCRUB_TEXT_INLINE inline
#endif

namespace {

// The text is scanned sixteen bytes at a time. Bit j of each mask stands
// for byte j of the chunk.
constexpr Py_ssize_t chunk_size = 16;

// Sixteen bytes, classified, and the same bytes with every white-space
// byte turned into a space (what the output holds in their place).
struct Chunk {
    unsigned ws;     // the six white-space bytes
    unsigned space;  // the space alone
    unsigned nul;
#ifdef SCRUB_TEXT_SSE2
    __extension__ unsigned __int128 mapped;
#else
    unsigned char mapped[chunk_size];
#endif
};

#ifdef SCRUB_TEXT_SSE2
SCRUB_TEXT_INLINE Chunk classify(const unsigned char* p) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i blank = _mm_set1_epi8(' ');
    const __m128i space = _mm_cmpeq_epi8(v, blank);
    // Tab to carriage return are 9 to 13; bytes of 0x80 and up compare as
    // negative and so fall outside.
    const __m128i control = _mm_and_si128(_mm_cmpgt_epi8(v, _mm_set1_epi8('\t' - 1)),
                                          _mm_cmplt_epi8(v, _mm_set1_epi8('\r' + 1)));
    const __m128i ws = _mm_or_si128(space, control);
    Chunk c;
    c.ws = static_cast<unsigned>(_mm_movemask_epi8(ws));
    c.space = static_cast<unsigned>(_mm_movemask_epi8(space));
    c.nul = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_setzero_si128())));
    const __m128i mapped = _mm_or_si128(_mm_andnot_si128(ws, v), _mm_and_si128(ws, blank));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(&c.mapped), mapped);
    return c;
}

// Writes the `run` mapped bytes from byte `from` of the chunk at `out`;
// 16 bytes are stored, so `out` needs room for 16.
SCRUB_TEXT_INLINE void put(const Chunk& c, unsigned from, unsigned, unsigned char* out) {
    __extension__ const unsigned __int128 bytes = c.mapped >> (8 * from);
    std::memcpy(out, &bytes, sizeof bytes);
}
#else
SCRUB_TEXT_INLINE Chunk classify(const unsigned char* p) {
    Chunk c{0, 0, 0, {}};
    for (unsigned j = 0; j < chunk_size; ++j) {
        const bool ws = reru::is_ascii_space(p[j]);
        c.ws |= unsigned{ws} << j;
        c.space |= unsigned{p[j] == ' '} << j;
        c.nul |= unsigned{p[j] == 0} << j;
        c.mapped[j] = ws ? ' ' : p[j];
    }
    return c;
}

SCRUB_TEXT_INLINE void put(const Chunk& c, unsigned from, unsigned run, unsigned char* out) {
    std::memcpy(out, c.mapped + from, run);
}
#endif

// The chunk that holds byte `i` of `s[0 .. n)` as its byte `first`, and
// the mask of its bytes from `first` up to the end of the text. A text
// shorter than a chunk is read through a padded copy; the last chunk of a
// longer one overlaps the one before.
struct Window {
    Chunk chunk;
    Py_ssize_t base;  // position of the chunk's byte 0 in the text
    unsigned first;
    unsigned valid;
};

SCRUB_TEXT_INLINE Window window(const unsigned char* s, Py_ssize_t n, Py_ssize_t i) {
    if (n < chunk_size) {
        unsigned char padded[chunk_size] = {};
        std::memcpy(padded, s, static_cast<size_t>(n));
        const auto first = static_cast<unsigned>(i);
        return {classify(padded), 0, first, ((1u << n) - 1) & (~0u << first)};
    }
    const Py_ssize_t base = i + chunk_size <= n ? i : n - chunk_size;
    const auto first = static_cast<unsigned>(i - base);
    return {classify(s + base), base, first, 0xFFFFu & (~0u << first)};
}

// The first position where scrubbing `s[0 .. n)` changes the text (a
// white-space byte that is not a single inner space, or a NUL), or n.
Py_ssize_t first_change(const unsigned char* s, Py_ssize_t n) {
    unsigned after_space = 1;  // a space at the very start goes
    for (Py_ssize_t i = 0; i < n; i += chunk_size) {
        const Window w = window(s, n, i);
        const unsigned space = w.chunk.space & w.valid;
        const unsigned doubled = space & ((space << 1) | (after_space << w.first));
        const unsigned change = ((w.chunk.ws & ~w.chunk.space) | w.chunk.nul | doubled) & w.valid;
        if (change != 0) return w.base + std::countr_zero(change);
        after_space = space >> 15;
        i = w.base;  // the last chunk may start before i
    }
    return n > 0 && s[n - 1] == ' ' ? n - 1 : n;
}

// Scrubs `s[k .. n)` into `out + k`, where `out[0 .. k)` already holds the
// unchanged `s[0 .. k)`, and returns the scrubbed length. `out` needs room
// for n + 16 bytes: each run of kept bytes is stored as a whole chunk.
Py_ssize_t scrub_from(const unsigned char* s, Py_ssize_t n, Py_ssize_t k, unsigned char* out) {
    Py_ssize_t written = k;
    unsigned after_ws = k == 0 || s[k - 1] == ' ';
    for (Py_ssize_t i = k; i < n;) {
        const Window w = window(s, n, i);
        unsigned valid = w.valid;
        const unsigned nul = w.chunk.nul & valid;
        if (nul != 0) valid &= (nul & (0u - nul)) - 1;
        const unsigned ws = w.chunk.ws & valid;
        // The second and later bytes of a white-space run are dropped;
        // the first becomes a space.
        unsigned keep = valid & ~(ws & ((ws << 1) | (after_ws << w.first)));
        while (keep != 0) {
            const auto from = static_cast<unsigned>(std::countr_zero(keep));
            const auto run = static_cast<unsigned>(std::countr_one(keep >> from));
            put(w.chunk, from, run, out + written);
            written += run;
            keep &= ~0u << (from + run);
        }
        if (valid != 0) after_ws = (ws >> (31 - std::countl_zero(valid))) & 1;
        if (nul != 0) break;
        i = w.base + chunk_size;
    }
    // A text that ends in white space leaves one space at the end.
    if (after_ws && written > 0) --written;
    return written;
}

// Room after the scrubbed text that scrub_from may overwrite.
constexpr Py_ssize_t slack = chunk_size;

// Longer ASCII texts are scrubbed straight into the new str, which is then
// cut to size; shorter ones on the stack (a Scratch keeps 256 bytes there)
// and copied.
constexpr Py_ssize_t in_place_from = 256 - slack;

PyObject* scrubbed_in_place(const unsigned char* s, Py_ssize_t n, Py_ssize_t k) {
    PyObject* result = PyUnicode_New(n + slack, 127);
    if (result == nullptr) return nullptr;
    Py_UCS1* out = PyUnicode_1BYTE_DATA(result);
    std::memcpy(out, s, static_cast<size_t>(k));
    if (PyUnicode_Resize(&result, scrub_from(s, n, k, out)) < 0) {
        Py_DECREF(result);
        return nullptr;
    }
    return result;
}

// Short texts, the common case, are scrubbed from their first change by one
// plain pass into a stack buffer: for a few dozen bytes that beats setting
// up the chunked scan.
constexpr Py_ssize_t short_text = 64;

PyObject* scrubbed_short(const unsigned char* s, Py_ssize_t n, Py_ssize_t k, bool ascii) {
    unsigned char out[short_text];
    std::memcpy(out, s, static_cast<size_t>(k));
    Py_ssize_t written = k;
    bool pending_space = false;
    for (Py_ssize_t i = k; i < n && s[i] != 0; ++i) {
        const unsigned char c = s[i];
        if (reru::is_ascii_space(c)) {
            pending_space = written > 0;
        } else {
            if (pending_space) out[written++] = ' ';
            pending_space = false;
            out[written++] = c;
        }
    }
    return reru::str_from_utf8(reinterpret_cast<const char*>(out), written, ascii);
}

// The scrubbed form of the UTF-8 bytes `s[0 .. n)` (`ascii` when they are
// known to be ASCII) as a str. `original`, when given, is the exact str
// they are the form of: it is handed back itself when scrubbing changes
// nothing.
// first_change for texts shorter than a chunk: every byte that can start a change is at
// most a space, so one comparison passes over all the others.
Py_ssize_t first_change_short(const unsigned char* s, Py_ssize_t n) {
    for (Py_ssize_t i = 0; i < n; ++i) {
        const unsigned char c = s[i];
        if (c > ' ') continue;
        if (c == ' ' ? i == 0 || s[i - 1] == ' ' : c == 0 || reru::is_ascii_space(c)) return i;
    }
    return n > 0 && s[n - 1] == ' ' ? n - 1 : n;
}

PyObject* scrubbed_str(const unsigned char* s, Py_ssize_t n, bool ascii, PyObject* original) {
    const Py_ssize_t k = n < chunk_size ? first_change_short(s, n) : first_change(s, n);
    if (k == n) {
        if (original != nullptr) return Py_NewRef(original);
        return reru::str_from_utf8(reinterpret_cast<const char*>(s), n, ascii);
    }
    if (ascii && n >= in_place_from) return scrubbed_in_place(s, n, k);
    if (n <= short_text) return scrubbed_short(s, n, k, ascii);
    reru::Scratch scratch;
    char* out = scratch.reserve(n + slack);
    if (out == nullptr) return nullptr;
    std::memcpy(out, s, static_cast<size_t>(k));
    const Py_ssize_t size = scrub_from(s, n, k, reinterpret_cast<unsigned char*>(out));
    return reru::str_from_utf8(out, size, ascii);
}

// An exact str: its own UTF-8 form, read in place when it is ASCII.
PyObject* scrub_str(PyObject* s) {
    if (PyUnicode_IS_ASCII(s)) {
        return scrubbed_str(static_cast<const unsigned char*>(PyUnicode_DATA(s)),
                            PyUnicode_GET_LENGTH(s), true, s);
    }
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(s, &size);
    if (data == nullptr) return nullptr;
    return scrubbed_str(reinterpret_cast<const unsigned char*>(data), size, false, s);
}

// Anything else: the bytes its own encode("utf-8") returns.
reru::Name utf8{"utf-8"};

PyObject* scrub_encoded(PyObject* value) {
    reru::Ref encoded = reru::Ref::steal(PyObject_CallMethodOneArg(value, reru::encode_name.get(), utf8.get()));
    if (!encoded) return nullptr;
    if (encoded.get() == Py_None) {
        PyErr_SetString(PyExc_TypeError, "expected bytes, NoneType found");
        return nullptr;
    }
    if (!reru::check_field(encoded.get(), &PyBytes_Type, "bytes")) return nullptr;
    return scrubbed_str(reinterpret_cast<const unsigned char*>(PyBytes_AS_STRING(encoded.get())),
                        PyBytes_GET_SIZE(encoded.get()), false, nullptr);
}

PyObject* scrubtext(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    // The usual call, one str by position, skips the argument parser.
    if (nargs == 1 && kwnames == nullptr && PyUnicode_CheckExact(args[0])) return scrub_str(args[0]);
    static const reru::Unary sig{"scrubtext", "input_string"};
    PyObject* value = sig.arg(args, nargs, kwnames);
    if (value == nullptr) return nullptr;
    return PyUnicode_CheckExact(value) ? scrub_str(value) : scrub_encoded(value);
}

const reru::FunctionDef scrubtext_def{"scrubtext", scrubtext,
                                       "scrubtext($module, /, input_string)\n--\n\n"};

reru::ModuleGuard guard{"scrub_text"};

bool body(PyObject* module, PyObject*) {
    return reru::add_function(module, scrubtext_def) && reru::set_all(module, {"scrubtext"});
}

}  // namespace

RERU_MODULE(scrub_text, guard, body)
