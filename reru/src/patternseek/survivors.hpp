// The pre-check's verdicts on the catalogue's candidates for one text (the
// finder computes them through the shape view, once per text shape):
// which stage-2 candidates (date x time x separator) and which stage-3
// formats it lets through.
#pragma once

#include "catalogue.hpp"
#include "shape_check.hpp"

#include <cstdint>

namespace survivors {

using catalogue::kDateCount;
using catalogue::kSepCount;
using catalogue::kTimeCount;

// Stage 2: for each date format and separator, the time formats (bit t)
// whose candidate the shape lets through.
struct Stage2 {
    std::uint64_t times[kDateCount][kSepCount];
};

// Stage 3: one bit per distinct format text of the date formats and the
// precomputed list (their number is known at import).
constexpr std::size_t kStage3Bits = 192;
struct Stage3 {
    std::uint64_t bits[kStage3Bits / 64];
};

// The position sets of a walk: the start of the text, then the sets after
// each element of the format walked (N: the most elements, plus one);
// `store` holds N sets.
template <std::size_t N>
struct Levels {
    static constexpr std::size_t kCount = N;
    Levels(shape_check::Word* store, Py_ssize_t words) {
        for (std::size_t e = 0; e < kCount; ++e) level[e] = {store + e * words, 0, -1};
        level[0].words[0] = 1;
        level[0].lo = level[0].hi = 0;
    }
    shape_check::Bits level[kCount];
};

// Walks the formats of `table` over the text from its start, in the order
// of `walk`, each from the position sets the format before left after the
// elements they share, and stops a format where no match gets further.
// Calls reached(index, ends) with the end positions of every format some
// match of which gets through it. False when a format is bad (the
// catalogue has none), and then no verdict may be given.
template <std::size_t N, std::size_t L, class Reached>
inline bool walk_formats(shape_check::Text& t, bool c_locale, const catalogue::Texts<N>& table,
                         const catalogue::Walk<N>& walk, Levels<L>& levels, Reached&& reached) {
    shape_check::Bits* level = levels.level;
    shape_check::Work work(t);
    std::size_t empty_from = L;  // the first empty set of the walk so far
    for (std::size_t j = 0; j < table.count; ++j) {
        const shape_check::FormatText format(table.texts[walk.order[j]]);
        std::size_t e = walk.shared[j];
        if (e >= empty_from) continue;  // no match gets past the shared elements
        empty_from = L;
        for (Py_ssize_t i = walk.start[j]; i < format.n; ++e) {
            i = shape_check::element_of(t, format, i, c_locale, level[e], level[e + 1], work.w);
            if (i < 0) return false;
            if (level[e + 1].empty()) {
                empty_from = e + 1;
                break;
            }
        }
        if (empty_from == L) reached(walk.order[j], level[e]);
    }
    return true;
}

// The stage-2 verdicts of the shape view: for every date part, the time
// formats whose candidate may parse. The distinct date parts are walked
// from the start of the text; each distinct set of a part's end positions
// is continued over the time formats' common leading space once, and over
// each time format from there.
inline bool compute(shape_check::Text& t, bool c_locale, Stage2& out) {
    using shape_check::Bits;
    using shape_check::Word;
    constexpr std::size_t kParts = catalogue::kDistinct.count;
    constexpr std::size_t kKeep = 16;  // distinct end sets kept for reuse
    const Py_ssize_t words = t.words();
    // after the space, a time format's ends, the distinct end sets kept, and
    // the sets of the walk
    using PartLevels = Levels<catalogue::kPartWalk.levels>;
    Word* store =
        static_cast<Word*>(PyMem_Malloc(sizeof(Word) * (2 + kKeep + PartLevels::kCount) * words));
    if (store == nullptr) return false;
    Bits after_space{store, 0, -1}, end{store + words, 0, -1};
    PartLevels levels(store + (2 + kKeep) * words, words);
    Bits kept[kKeep];
    std::uint64_t kept_times[kKeep];
    std::size_t kept_count = 0;
    std::uint64_t part_times[kParts] = {};
    const bool walked = walk_formats(
        t, c_locale, catalogue::kDistinctTexts, catalogue::kPartWalk, levels,
        [&](std::size_t p, const Bits& ends) {
            std::size_t k = 0;
            while (k < kept_count && !(kept[k] == ends)) ++k;
            if (k < kept_count) {
                part_times[p] = kept_times[k];
                return;
            }
            std::uint64_t times = 0;
            shape_check::space_run(t, ends, after_space);
            for (std::size_t ti = 0; ti < kTimeCount && !after_space.empty(); ++ti) {
                shape_check::ends_after(t, shape_check::FormatText(catalogue::kTimes[ti]), c_locale,
                                        after_space, end);
                if (end.has(t.size())) times |= std::uint64_t{1} << ti;
            }
            part_times[p] = times;
            if (kept_count < kKeep) {
                kept[kept_count] = {store + (2 + kept_count) * words, 0, -1};
                shape_check::copy(kept[kept_count], ends);
                kept_times[kept_count++] = times;
            }
        });
    PyMem_Free(store);
    for (std::size_t d = 0; d < kDateCount; ++d)
        for (std::size_t s = 0; s < kSepCount; ++s)
            out.times[d][s] = part_times[catalogue::kDistinct.index[d][s]];
    return walked && t.ok();
}

// The stage-3 formats: the distinct texts of the finder's precomputed list,
// made at import (they are held by that list for the life of the process),
// and the order in which they are walked.
struct Stage3Table {
    static constexpr std::size_t kMostLevels = 24;
    catalogue::Texts<kStage3Bits> table;
    catalogue::Walk<kStage3Bits> walk;

    // Adds `text`, an exact str; false with an exception set when the table
    // is full or the text has no UTF-8 form.
    bool add(PyObject* text) {
        if (table.count == kStage3Bits) {
            PyErr_SetString(PyExc_SystemError, "more stage-3 formats than verdict bits");
            return false;
        }
        Py_ssize_t size;
        const char* utf8 = PyUnicode_AsUTF8AndSize(text, &size);
        if (utf8 == nullptr) return false;
        table.texts[table.count++] = {utf8, static_cast<std::size_t>(size)};
        return true;
    }
    // Orders the walk once every text is added; false with an exception set
    // when the texts cannot be walked (not printable ASCII, too long).
    bool close() {
        walk = catalogue::make_walk(table);
        if (walk.printable && walk.fits && walk.levels <= kMostLevels) return true;
        PyErr_SetString(PyExc_SystemError, "the stage-3 formats cannot be walked");
        return false;
    }
};

// The stage-3 verdicts, one bit per format of the table (none names a group
// twice: checked at import): those whose walk reaches the end of the text.
inline bool compute(shape_check::Text& t, bool c_locale, const Stage3Table& formats, Stage3& out) {
    using Stage3Levels = Levels<Stage3Table::kMostLevels>;
    out = {};
    shape_check::Word* store = static_cast<shape_check::Word*>(
        PyMem_Malloc(sizeof(shape_check::Word) * Stage3Levels::kCount * t.words()));
    if (store == nullptr) return false;
    Stage3Levels levels(store, t.words());
    const bool walked = walk_formats(t, c_locale, formats.table, formats.walk, levels,
                                     [&](std::size_t i, const shape_check::Bits& ends) {
                                         if (ends.has(t.size()))
                                             out.bits[i / 64] |= std::uint64_t{1} << (i % 64);
                                     });
    PyMem_Free(store);
    return walked && t.ok();
}

}  // namespace survivors
