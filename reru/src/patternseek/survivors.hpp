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

// The stage-2 verdicts of the shape view: for every date part, the time
// formats whose candidate may parse. The distinct date parts are walked
// from the start of the text in the catalogue's walk order, each from the
// position sets the part before left after the elements they share; each
// distinct set of a part's end positions is continued over the time
// formats' common leading space once, and over each time format from there.
inline bool compute(shape_check::Text& t, bool c_locale, Stage2& out) {
    using catalogue::kWalk;
    using shape_check::Bits;
    using shape_check::Word;
    constexpr std::size_t kParts = catalogue::kDistinct.count;
    constexpr std::size_t kLevels = catalogue::kMaxLevels;
    constexpr std::size_t kKeep = 16;  // distinct end sets kept for reuse
    const Py_ssize_t words = t.words();
    // after the space, a time format's ends, the sets after each element of
    // the part walked, and the distinct end sets kept
    Word* store = static_cast<Word*>(PyMem_Malloc(sizeof(Word) * (2 + kLevels + kKeep) * words));
    if (store == nullptr) return false;
    Bits after_space{store, 0, -1}, end{store + words, 0, -1};
    Bits level[kLevels];
    for (std::size_t e = 0; e < kLevels; ++e) level[e] = {store + (2 + e) * words, 0, -1};
    level[0].words[0] = 1;  // the start of the text
    level[0].lo = level[0].hi = 0;
    shape_check::Work work(t);
    Bits kept[kKeep];
    std::uint64_t kept_times[kKeep];
    std::size_t kept_count = 0;
    std::uint64_t part_times[kParts];
    std::size_t empty_from = kLevels;  // the first empty set of the walk so far
    for (std::size_t j = 0; j < kParts; ++j) {
        const std::size_t p = kWalk.order[j];
        const shape_check::FormatText part(catalogue::kDistinct.texts[p]);
        std::size_t e = kWalk.shared[j];
        part_times[p] = 0;
        if (e >= empty_from) continue;  // no match gets past the shared elements
        empty_from = kLevels;
        for (Py_ssize_t i = kWalk.start[j]; i < part.n; ++e) {
            i = shape_check::element_of(t, part, i, c_locale, level[e], level[e + 1], work.w);
            if (i < 0) {  // a bad part: no verdicts (the catalogue has none)
                PyMem_Free(store);
                return false;
            }
            if (level[e + 1].empty()) {
                empty_from = e + 1;
                break;
            }
        }
        if (empty_from < kLevels) continue;
        const Bits& ends = level[e];
        std::size_t k = 0;
        while (k < kept_count && !(kept[k] == ends)) ++k;
        if (k < kept_count) {
            part_times[p] = kept_times[k];
            continue;
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
            kept[kept_count] = {store + (2 + kLevels + kept_count) * words, 0, -1};
            shape_check::copy(kept[kept_count], ends);
            kept_times[kept_count++] = times;
        }
    }
    PyMem_Free(store);
    for (std::size_t d = 0; d < kDateCount; ++d)
        for (std::size_t s = 0; s < kSepCount; ++s)
            out.times[d][s] = part_times[catalogue::kDistinct.index[d][s]];
    return t.ok();
}

// The stage-3 verdicts, one bit per format of `formats` (at most
// kStage3Bits of them, none naming a group twice: checked at import).
inline bool compute(shape_check::Text& t, bool c_locale, PyObject* const* formats,
                    std::size_t count, Stage3& out) {
    out = {};
    for (std::size_t i = 0; i < count; ++i)
        if (shape_check::may_cover(t, shape_check::FormatText(formats[i]), c_locale))
            out.bits[i / 64] |= std::uint64_t{1} << (i % 64);
    return t.ok();
}

}  // namespace survivors
