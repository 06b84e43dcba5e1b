// Module scrub_text: scrubtext(input_string) normalises white space: the
// leading and trailing white space goes and every inner run of it becomes
// one space. It works on the UTF-8 bytes the argument's encode("utf-8")
// gives, read up to the first NUL; white space is the six ASCII white-space
// bytes and nothing else. The output buffer is sized from the input, so a
// text of any length is scrubbed whole.
//
// Every text, short or long, goes through the same two steps, sixteen bytes
// at a time: a read-only scan for the first byte that scrubbing changes
// (none: the text is its own result), then one rewrite from there on.
#include "reru.hpp"
#include "reru/text.hpp"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <initializer_list>

#if defined(__SSE2__) && !defined(SCRUB_TEXT_PORTABLE)
#include <emmintrin.h>
#define SCRUB_TEXT_SSE2 1
#endif

// The block helpers sit in the inner loops: they are inlined so that a
// block stays in registers instead of being passed through memory.
#if defined(__GNUC__)
#define SCRUB_TEXT_INLINE [[gnu::always_inline]] inline
#else
#define SCRUB_TEXT_INLINE inline
#endif

namespace {

// Bit j of each mask stands for byte j of a block.
constexpr Py_ssize_t block_size = 16;

// Packing the kept bytes of eight to the front, without a byte shuffle:
// each kept byte moves down by the number of dropped bytes before it, in
// three steps of 1, 2 and 4 places, each step moving the bytes whose count
// has that bit. Smallest steps first, no kept byte ever lands where another
// one is, so each step is a select between the word and the word shifted
// down, by a mask of where the moving bytes land; what is left behind in
// the places they leave is of no account.
struct Squeezes {
    std::uint64_t lands[3][256];  // 0xFF where a byte lands at each step
    unsigned char count[256];     // the kept bytes
};

constexpr Squeezes make_squeezes() {
    Squeezes t{};
    for (unsigned keep = 0; keep < 256; ++keep) {
        unsigned dropped = 0;
        for (unsigned j = 0; j < 8; ++j) {
            if ((keep >> j & 1) == 0) {
                ++dropped;
                continue;
            }
            // After step s the byte has moved by the low s + 1 bits of its count.
            for (const unsigned step : {0u, 1u, 2u}) {
                const unsigned at = j - (dropped & ((2u << step) - 1));
                if ((dropped >> step & 1) != 0) {
                    t.lands[step][keep] |= std::uint64_t{0xFF} << (8 * at);
                }
            }
        }
        t.count[keep] = static_cast<unsigned char>(8 - dropped);
    }
    return t;
}

constexpr Squeezes squeezes = make_squeezes();

// Sixteen bytes as one vector, of bytes or of two words. The compilers turn
// the operations on them into the machine's vector instructions (SSE2 on
// x86-64) or into operations on words; only gathering one bit of each byte
// into a mask differs between machines.
typedef signed char SignedBytes __attribute__((vector_size(16)));
typedef std::uint64_t Words __attribute__((vector_size(16)));

// Byte j of a word is byte j in memory, the lowest first, so that shifting
// a word down moves its bytes to lower places.
SCRUB_TEXT_INLINE Words little_endian(Words w) {
    if constexpr (std::endian::native == std::endian::big) {
        return Words{__builtin_bswap64(w[0]), __builtin_bswap64(w[1])};
    }
    return w;
}

// Bit j set for each byte j of `m` that is 0xFF (the others are zero).
SCRUB_TEXT_INLINE unsigned bits(SignedBytes m) {
#ifdef SCRUB_TEXT_SSE2
    return static_cast<unsigned>(_mm_movemask_epi8(std::bit_cast<__m128i>(m)));
#else
    // The top bit of each byte, gathered into the top byte of the word by a
    // multiplication whose partial products never overlap.
    const Words w = little_endian(std::bit_cast<Words>(m)) & 0x8080808080808080u;
    return static_cast<unsigned>(w[0] * 0x0002040810204081u >> 56) |
           static_cast<unsigned>(w[1] * 0x0002040810204081u >> 56) << 8;
#endif
}

// Sixteen bytes, classified, and the same bytes with every white-space byte
// turned into a space (what the output holds in their place).
struct Block {
    unsigned ws;     // the six white-space bytes
    unsigned space;  // the space alone
    unsigned nul;
    Words mapped;  // as little-endian words
};

SCRUB_TEXT_INLINE Block classify(SignedBytes v) {
    const SignedBytes space = v == ' ';
    // Tab to carriage return are 9 to 13; bytes of 0x80 and up are negative
    // here and so fall outside.
    const SignedBytes ws = space | ((v > '\t' - 1) & (v < '\r' + 1));
    const SignedBytes mapped = (v & ~ws) | (ws & ' ');
    return {bits(ws), bits(space), bits(v == 0), little_endian(std::bit_cast<Words>(mapped))};
}

SCRUB_TEXT_INLINE Block classify(const unsigned char* p) {
    SignedBytes v;
    std::memcpy(&v, p, sizeof v);
    return classify(v);
}

// The 8 or 4 bytes at `p` as a word, byte j at bits 8j.
SCRUB_TEXT_INLINE std::uint64_t word8(const unsigned char* p) {
    std::uint64_t w;
    std::memcpy(&w, p, sizeof w);
    return std::endian::native == std::endian::big ? __builtin_bswap64(w) : w;
}

SCRUB_TEXT_INLINE std::uint64_t word4(const unsigned char* p) {
    std::uint32_t w;
    std::memcpy(&w, p, sizeof w);
    return std::endian::native == std::endian::big ? __builtin_bswap32(w) : w;
}

// The n < 16 bytes at `p` as a block, put together in registers from loads
// that overlap (a 16-byte load from a padded copy would wait for the copy
// to land). What follows the n bytes is left unspecified.
SCRUB_TEXT_INLINE SignedBytes load_short(const unsigned char* p, Py_ssize_t n) {
    const auto width = static_cast<unsigned>(8 * n);
    Words w{0, 0};
    if (n > 8) {
        w[0] = word8(p);
        w[1] = word8(p + n - 8) >> (128 - width);
    } else if (n >= 4) {
        w[0] = word4(p) | word4(p + n - 4) << (width - 32);
    } else if (n != 0) {  // bytes 0, n / 2 and n - 1 are all of one to three
        w[0] = p[0] | std::uint64_t{p[n / 2]} << (8 * (n / 2)) |
               std::uint64_t{p[n - 1]} << (width - 8);
    }
    return std::bit_cast<SignedBytes>(little_endian(w));
}

// One step of the packing on both halves at once: a select between the
// words and the words shifted down by 1 << step places.
template <unsigned step>
SCRUB_TEXT_INLINE Words squeeze_step(Words w, unsigned lo, unsigned hi) {
    const Words lands{squeezes.lands[step][lo], squeezes.lands[step][hi]};
    return w ^ ((w ^ (w >> (8 << step))) & lands);
}

// Writes the mapped bytes that `keep` marks, in order, at `out` and returns
// the end of what it wrote; `out` needs room for 16 bytes.
SCRUB_TEXT_INLINE unsigned char* put(const Block& b, unsigned keep, unsigned char* out) {
    const unsigned lo = keep & 0xFF;
    const unsigned hi = keep >> 8;
    Words w = squeeze_step<0>(b.mapped, lo, hi);
    w = squeeze_step<1>(w, lo, hi);
    w = little_endian(squeeze_step<2>(w, lo, hi));
    std::memcpy(out, &w, 8);
    out += squeezes.count[lo];
    std::memcpy(out, reinterpret_cast<const unsigned char*>(&w) + 8, 8);
    return out + squeezes.count[hi];
}

// The block that holds byte `i` of `s[0 .. n)` as its byte `first`, and the
// mask of its bytes from `first` up to the end of the text (none when i is
// n). Where fewer than 16 bytes are left it is the last 16, overlapping the
// block before; a text shorter than a block is read as a short block.
struct Window {
    Block block;
    Py_ssize_t base;  // position of the block's byte 0 in the text
    unsigned first;
    unsigned valid;
};

SCRUB_TEXT_INLINE Window window(const unsigned char* s, Py_ssize_t n, Py_ssize_t i) {
    if (n < block_size) {
        const auto first = static_cast<unsigned>(i);
        return {classify(load_short(s, n)), 0, first, ((1u << n) - 1) & (~0u << first)};
    }
    const Py_ssize_t base = std::min(i, n - block_size);
    const auto first = static_cast<unsigned>(i - base);
    return {classify(s + base), base, first, 0xFFFFu & (~0u << first)};
}

// Both passes below take the text a whole block at a time and the rest
// (the last byte at least, or from a block with a NUL on) through a window;
// a whole block has all its bytes valid.
constexpr unsigned whole = 0xFFFF;

// The bytes of a block that scrubbing changes: white space other than a
// space, a space that follows a space (or starts the text), and a NUL.
// `after_space` tells whether the byte before `first` is a space; it is
// updated for the next block.
SCRUB_TEXT_INLINE unsigned changes(const Block& b, unsigned valid, unsigned first,
                                   unsigned& after_space) {
    const unsigned space = b.space & valid;
    const unsigned doubled = space & ((space << 1) | (after_space << first));
    after_space = space >> 15;
    return ((b.ws & ~b.space) | b.nul | doubled) & valid;
}

// The first position where scrubbing `s[0 .. n)` changes the text, or n.
Py_ssize_t first_change(const unsigned char* s, Py_ssize_t n) {
    unsigned after_space = 1;  // a space at the very start goes
    Py_ssize_t i = 0;
    for (; i + block_size < n; i += block_size) {
        const unsigned change = changes(classify(s + i), whole, 0, after_space);
        if (change != 0) return i + std::countr_zero(change);
    }
    const Window w = window(s, n, i);
    // A single space as the last byte goes too.
    const unsigned last = w.valid & ~(w.valid >> 1);
    const unsigned change =
        changes(w.block, w.valid, w.first, after_space) | (w.block.space & last);
    return change != 0 ? w.base + std::countr_zero(change) : n;
}

// Rewrites the bytes of a block that `valid` marks (bits `first` and up) at
// `end`, up to a NUL among them; `after_ws` tells whether the byte before
// them was white space and is updated.
SCRUB_TEXT_INLINE void rewrite(const Block& b, unsigned valid, unsigned first, unsigned& after_ws,
                               unsigned char*& end) {
    const unsigned nul = b.nul & valid;
    if (nul != 0) valid &= (nul & (0u - nul)) - 1;
    const unsigned ws = b.ws & valid;
    // The second and later bytes of a white-space run are dropped; the first
    // becomes a space.
    const unsigned keep = valid & ~(ws & ((ws << 1) | (after_ws << first)));
    end = put(b, keep, end);
    if (valid != 0) after_ws = (ws >> (31 - std::countl_zero(valid))) & 1;
}

// Room after the scrubbed text that scrub_from may overwrite.
constexpr Py_ssize_t slack = 8;

// Scrubs `s[k .. n)` into `out + k`, where `out[0 .. k)` already holds the
// unchanged `s[0 .. k)` (k is where first_change found the first change),
// and returns the scrubbed length. `out` needs room for n + slack bytes.
Py_ssize_t scrub_from(const unsigned char* s, Py_ssize_t n, Py_ssize_t k, unsigned char* out) {
    unsigned char* end = out + k;
    unsigned after_ws = k == 0 || s[k - 1] == ' ';
    Py_ssize_t i = k;
    for (; i + block_size < n; i += block_size) {
        const Block b = classify(s + i);
        if (b.nul != 0) break;  // left to the window below, which stops there
        rewrite(b, whole, 0, after_ws, end);
    }
    const Window w = window(s, n, i);
    rewrite(w.block, w.valid, w.first, after_ws, end);
    // A text that ends in white space leaves one space at the end.
    if (after_ws && end > out) --end;
    return end - out;
}

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

// The scrubbed form of the UTF-8 bytes `s[0 .. n)` (`ascii` when they are
// known to be ASCII) as a str. `original`, when given, is the exact str
// they are the form of: it is handed back itself when scrubbing changes
// nothing.
PyObject* scrubbed_str(const unsigned char* s, Py_ssize_t n, bool ascii, PyObject* original) {
    const Py_ssize_t k = first_change(s, n);
    if (k == n) {
        if (original != nullptr) return Py_NewRef(original);
        return reru::str_from_utf8(reinterpret_cast<const char*>(s), n, ascii);
    }
    if (ascii && n >= in_place_from) return scrubbed_in_place(s, n, k);
    reru::Scratch scratch;
    char* out = scratch.reserve(n + slack);
    if (out == nullptr) return nullptr;
    std::memcpy(out, s, static_cast<size_t>(k));
    const Py_ssize_t size = scrub_from(s, n, k, reinterpret_cast<unsigned char*>(out));
    return reru::str_from_utf8(out, size, ascii);
}

reru::Name utf8_name{"utf-8"};

// Anything else: the bytes its own encode("utf-8") returns.
PyObject* scrub_encoded(PyObject* value) {
    reru::Ref encoded = reru::Ref::steal(
        PyObject_CallMethodOneArg(value, reru::encode_name.get(), utf8_name.get()));
    if (!encoded) return nullptr;
    if (encoded.get() == Py_None) {
        PyErr_SetString(PyExc_TypeError, "expected bytes, NoneType found");
        return nullptr;
    }
    if (!reru::check_field(encoded.get(), &PyBytes_Type, "bytes")) return nullptr;
    return scrubbed_str(reinterpret_cast<const unsigned char*>(PyBytes_AS_STRING(encoded.get())),
                        PyBytes_GET_SIZE(encoded.get()), false, nullptr);
}

const reru::Unary scrubtext_sig{"scrubtext", "input_string"};

PyObject* scrubtext(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    reru::Utf8Text whole;
    PyObject* value =
        reru::utf8_arg(scrubtext_sig, reru::Declared::any, args, nargs, kwnames, whole);
    if (value == nullptr) return nullptr;
    // An exact str: its own UTF-8 form.
    if (whole.data != nullptr) return scrubbed_str(whole.bytes(), whole.size, whole.ascii, value);
    return scrub_encoded(value);
}

const reru::FunctionDef scrubtext_def{"scrubtext", scrubtext,
                                      "scrubtext($module, /, input_string)\n--\n\n"};

reru::ModuleGuard guard{"scrub_text"};

}  // namespace

// The test twin of the portable block path is this module under another name.
#ifndef SCRUB_TEXT_MODULE
#define SCRUB_TEXT_MODULE scrub_text
#endif
RERU_MODULE(SCRUB_TEXT_MODULE, guard, reru::sole_function<scrubtext_def>)
