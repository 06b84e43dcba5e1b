// The shape memo: per text shape, which candidates of the catalogue the
// shape view of the pre-check lets through, so that a column of texts of
// one layout works it out once.
//
// A fixed table of slots in the module's own storage: a slot holds a shape
// of at most kKeyMax characters and the verdicts computed for it; a new
// shape takes the slot its hash names, replacing what was there. Its size
// is bounded whatever the input (longer shapes are never kept), it holds no
// Python objects, and an entry is written only after its verdicts were
// computed completely.
#pragma once

#include "survivors.hpp"

#include <cstdint>
#include <cstring>

namespace memo {

using survivors::kStage3Bits;
using survivors::Stage2;
using survivors::Stage3;

constexpr std::size_t kKeyMax = 96;
constexpr std::size_t kSlots = 1024;

// The shape of a text: ASCII digits as '0', other ASCII characters as they
// are, other characters by class; and whether LC_TIME was the C locale.
struct Key {
    unsigned char bytes[kKeyMax];
    std::size_t size = 0;
    bool c_locale = true;
    bool kept = false;  // false: too long to be kept
    std::uint64_t hash = 0;

    Key(PyObject* text, bool c) : c_locale(c) {
        const Py_ssize_t n = PyUnicode_GET_LENGTH(text);
        if (n > static_cast<Py_ssize_t>(kKeyMax)) return;
        const int kind = PyUnicode_KIND(text);
        const void* data = PyUnicode_DATA(text);
        std::uint64_t h = c ? 1469598103934665603ULL : 7809847782465536322ULL;
        for (Py_ssize_t i = 0; i < n; ++i) {
            const Py_UCS4 ch = PyUnicode_READ(kind, data, i);
            const unsigned char b =
                shape_check::ascii_digit(ch) ? '0' : shape_check::class_code(ch);
            bytes[i] = b;
            h = (h ^ b) * 1099511628211ULL;
        }
        size = static_cast<std::size_t>(n);
        hash = h;
        kept = true;
    }
};

struct Slot {
    unsigned char key[kKeyMax];
    std::uint8_t size;
    bool used, c_locale, has2, has3;
    Stage2 stage2;
    Stage3 stage3;
};
static_assert(kKeyMax < 256, "slot sizes fit a byte");

inline Slot table[kSlots];

inline Slot* slot_of(const Key& key) {
    if (!key.kept) return nullptr;
    return &table[key.hash % kSlots];
}

inline bool holds(const Slot& slot, const Key& key) {
    return slot.used && slot.c_locale == key.c_locale && slot.size == key.size &&
           std::memcmp(slot.key, key.bytes, key.size) == 0;
}

// The slot for `key`, emptied and claimed when it held another shape.
inline Slot& claim(Slot& slot, const Key& key) {
    if (!holds(slot, key)) {
        slot.used = false;
        slot.has2 = slot.has3 = false;
        std::memcpy(slot.key, key.bytes, key.size);
        slot.size = static_cast<std::uint8_t>(key.size);
        slot.c_locale = key.c_locale;
        slot.used = true;
    }
    return slot;
}

inline bool find(const Key& key, Stage2& out) {
    const Slot* slot = slot_of(key);
    if (slot == nullptr || !holds(*slot, key) || !slot->has2) return false;
    out = slot->stage2;
    return true;
}
inline bool find(const Key& key, Stage3& out) {
    const Slot* slot = slot_of(key);
    if (slot == nullptr || !holds(*slot, key) || !slot->has3) return false;
    out = slot->stage3;
    return true;
}
inline void store(const Key& key, const Stage2& value) {
    if (Slot* slot = slot_of(key)) {
        Slot& s = claim(*slot, key);
        s.stage2 = value;
        s.has2 = true;
    }
}
inline void store(const Key& key, const Stage3& value) {
    if (Slot* slot = slot_of(key)) {
        Slot& s = claim(*slot, key);
        s.stage3 = value;
        s.has3 = true;
    }
}

}  // namespace memo
