// The finder's verdict layer.
//
// The search (patternseek.cpp) is the plain algorithm: its loops hold their
// lists and loop variables as Python for-loops do, and every candidate of
// every stage goes through one function, attempt(), which is
// generate_formats for one candidate. Before attempt() calls strptime it
// asks this layer one question about the candidate the loops actually hold:
// "is it proved that strptime refuses this text with this format, or that
// it accepts it?". The loops of stage 2 also ask "which is the next
// candidate of this loop that is not proved refused?", to pass over runs of
// refused candidates without building them, and the walk of stage 3 asks
// whether an entry is proved refused on a set whose operations run no
// Python code, to record it in seen_formats with one operation.
//
// The contract
// ------------
// An attempt's observable effects: the text is encoded (a text that cannot
// be encoded raises there), the module global `py_datetime` is looked up
// (NameError when missing), `py_datetime.strptime(text, candidate)` is
// called, which runs Python code and may raise; on success the attempt
// adds the candidate to `historical_formats`. A refused attempt, one where
// strptime raised ValueError, has no effect at all: the attempt drops the
// exception.
//
// A verdict is given only for an exact str candidate and only while these
// facts hold:
//   1. the text is an exact str that can be encoded (checked once: a str
//      does not change);
//   2. the module's entry `py_datetime`, where the attempt looks first, is
//      the genuine datetime.datetime, whose strptime is the interpreter's
//      own;
//   3. that strptime would run the interpreter's own `_strptime` code: the
//      module is loaded, and the function `datetime.strptime` calls on it
//      at each use (`_strptime_datetime`) and the globals that code calls
//      through are the ones the module defined (accept::init() takes hold
//      of them once they are loaded and plain functions of the module;
//      accept::read_current() compares them);
//   4. strptime would not rebuild its locale and zone cache (a rebuild
//      calls time.tzset(), an effect no verdict may skip): the cache was
//      built for the current locale's language and the current
//      time.tzname and time.daylight. For a locale other than C, the
//      language strptime computes is found once per locale name, at the
//      start of a search, by calling strptime's own `_getlang`, which only
//      queries the locale (learn_locale_language());
//   5. for "accepted" verdicts: LC_TIME is the C locale, and the cache
//      holds the expressions and names the native decision (accept.hpp)
//      implements; %Z's names are read from it. In another locale the
//      name directives accept anything here, and only refusals are proved.
// Facts 2 to 5 can change only when Python code runs, so they are read
// again at the first question after any call that can run Python code:
// the search tells the layer through python_ran() after every strptime
// call and every other operation on objects that are not exact built-in
// containers of exact str (set and dict operations, truth tests, method
// calls on str subclasses). Reading facts 3 and 4 in full is skipped while
// no dictionary they were read from has changed since (a dict watcher).
//
// Under these facts a refused verdict is a proof that strptime raises
// ValueError, and an accepted one a proof that it returns a datetime: the
// native decision (accept.hpp) decides both exactly where it implements
// the format, and the pre-check (shape_check.hpp), which computes where a
// match of the format's regular expression can end and is looser than
// strptime wherever it is not exact, proves refusals everywhere else.
// Skipping a refused attempt cannot be told apart from making it: both
// leave everything as it was. An accepted attempt has the effects of a
// successful call (the search adds the candidate to historical_formats and
// returns it) without the call. The only differences are time and what
// strptime itself caches (its compiled patterns).
//
// The shape memo (memo.hpp) keeps the shape view's verdicts on the
// catalogue's candidates per text shape; a memo verdict is applied to a
// candidate the loops hold only when that candidate is, character for
// character, the catalogue's (its date format, time format and separator
// are exact str equal to the catalogue's, and old_sep is "/").
#pragma once

#include "accept.hpp"
#include "catalogue.hpp"
#include "memo.hpp"
#include "shape_check.hpp"

#include <datetime.h>

#include <cstdint>

namespace verdicts {

// What the layer did, counted in the test-only build that counts
// (CHRONVALE_COUNTING), so that the tests can pin what each shortcut
// decides: one that proves less or works more shows in the counts.
struct Counts {
    std::size_t facts_read, memo_found, memo_computed, judged, decided, prechecked, pure_scans,
        passed_over, index_scans, id_lookups;
};
#ifdef CHRONVALE_COUNTING
inline Counts counts;
#define CHRONVALE_COUNT(field, n) (verdicts::counts.field += static_cast<std::size_t>(n))
#else
#define CHRONVALE_COUNT(field, n) ((void)0)
#endif

using catalogue::kDateCount;
using catalogue::kSepCount;
using catalogue::kTimeCount;

// ---------------------------------------------------------------------------
// The catalogue as str objects, made at import and kept for the life of the
// process (the module lives in one interpreter and is never unloaded).

struct Pristine {
    PyObject* dates[kDateCount];
    PyObject* times[kTimeCount];
    PyObject* unique[catalogue::kUniqueCount];
    PyObject* separators[kSepCount];
    PyObject* old_sep;
    PyObject* precomputed;          // the precomputed list for old_sep "/" (a list)
    PyObject* stage3_ids;           // dict: each distinct text of `precomputed` -> its number
    survivors::Stage3Table stage3;  // those texts, by number
    // The same by the identity of the catalogue's own objects (the lists of
    // finders built the default way hold them): open addressing, id + 1.
    static constexpr std::size_t kSlots = 512;
    PyObject* by_identity[kSlots];
    std::uint16_t identity_ids[kSlots];
};
inline Pristine pristine;

inline reru::Name n_strptime_module{"_strptime"};
inline reru::Name n_strptime_datetime{"_strptime_datetime"};
inline reru::Name n_py_datetime{"py_datetime"};

inline bool same_str(PyObject* a, PyObject* b) {
    return a == b || (PyUnicode_CheckExact(a) && PyUnicode_Compare(a, b) == 0);
}

// Whether `list` is an exact list of exactly the catalogue's strings.
inline bool pristine_list(PyObject* list, PyObject* const* items, std::size_t count) {
    if (!PyList_CheckExact(list) || PyList_GET_SIZE(list) != static_cast<Py_ssize_t>(count))
        return false;
    for (std::size_t i = 0; i < count; ++i)
        if (!same_str(PyList_GET_ITEM(list, static_cast<Py_ssize_t>(i)), items[i])) return false;
    return true;
}

// The position of `s` in a catalogue table, trying `hint` first; -1 when it
// is not one of its strings (or not an exact str).
inline int index_in(PyObject* s, PyObject* const* items, std::size_t count, Py_ssize_t hint) {
    if (hint >= 0 && static_cast<std::size_t>(hint) < count && items[hint] == s)
        return static_cast<int>(hint);
    if (!PyUnicode_CheckExact(s)) return -1;
    CHRONVALE_COUNT(index_scans, 1);
    for (std::size_t i = 0; i < count; ++i)
        if (same_str(s, items[i])) return static_cast<int>(i);
    return -1;
}

inline std::size_t identity_slot(PyObject* p) {
    return (reinterpret_cast<std::uintptr_t>(p) >> 4) * 0x9E3779B97F4A7C15ULL >> 55;
}
static_assert(Pristine::kSlots == 512, "identity_slot gives 9 bits");
static_assert(survivors::kStage3Bits * 2 <= Pristine::kSlots,
              "the identity table stays half empty");

// At import, after the catalogue's strings and the precomputed list exist.
inline bool init(PyObject* precomputed) {
    pristine.precomputed = Py_NewRef(precomputed);
    pristine.old_sep = Py_NewRef(pristine.separators[0]);
    pristine.stage3_ids = PyDict_New();
    if (pristine.stage3_ids == nullptr) return false;
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(precomputed); ++i) {
        PyObject* text = PyList_GET_ITEM(precomputed, i);
        const int known = PyDict_Contains(pristine.stage3_ids, text);
        if (known < 0) return false;
        if (known) continue;
        if (shape_check::repeats_a_group(shape_check::FormatText(text))) {
            PyErr_SetString(PyExc_SystemError, "a stage-3 format names a directive twice");
            return false;
        }
        reru::Ref id = reru::Ref::steal(PyLong_FromSize_t(pristine.stage3.table.count));
        if (!id || !pristine.stage3.add(text) ||
            PyDict_SetItem(pristine.stage3_ids, text, id.get()) != 0)
            return false;
    }
    if (!pristine.stage3.close()) return false;
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(precomputed); ++i) {
        PyObject* text = PyList_GET_ITEM(precomputed, i);
        std::size_t k = identity_slot(text);
        while (pristine.by_identity[k] != nullptr && pristine.by_identity[k] != text)
            k = (k + 1) % Pristine::kSlots;
        if (pristine.by_identity[k] == text) continue;
        PyObject* id = PyDict_GetItem(pristine.stage3_ids, text);
        pristine.by_identity[k] = text;
        pristine.identity_ids[k] = static_cast<std::uint16_t>(PyLong_AsLong(id) + 1);
    }
    return true;
}

// The language strptime computes for the time locale in force, when that is
// not the C locale: found once per locale name by calling strptime's own
// `_getlang` (the genuine function, which only queries the locale and runs
// no code of a caller's), and kept, so that later searches can tell,
// without running Python code, whether strptime's cache is current.
struct LocaleLanguage {
    char name[256] = {};
    PyObject* lang = nullptr;  // owned
};
inline LocaleLanguage locale_language;

// Called at the start of a search, before anything is borrowed.
inline void learn_locale_language() {
    if (accept::c_time_locale()) return;
    const char* now = std::setlocale(LC_TIME, nullptr);
    if (now == nullptr || std::strlen(now) >= sizeof locale_language.name ||
        (locale_language.lang != nullptr && std::strcmp(now, locale_language.name) == 0) ||
        !accept::init())
        return;
    char name[sizeof locale_language.name];
    std::strcpy(name, now);
    // Every function _getlang calls through must be the module's own too.
    if (!accept::pins_hold()) {
        PyErr_Clear();
        return;
    }
    reru::Ref lang = reru::Ref::steal(PyObject_CallNoArgs(accept::detail::held.pin_value[2]));
    const char* after = std::setlocale(LC_TIME, nullptr);
    if (!lang || after == nullptr || std::strcmp(after, name) != 0) {
        PyErr_Clear();  // strptime would raise the same itself: no verdicts then
        return;
    }
    accept::forget_reading();  // the old language object goes, and its address may come back
    Py_XSETREF(locale_language.lang, lang.release());
    std::strcpy(locale_language.name, name);
}

// ---------------------------------------------------------------------------
// The layer, for one search

enum class Verdict { refused, accepted, unknown };

// The plain road (the test-only twin module) is built without verdicts.
#ifdef CHRONVALE_PLAIN_ROAD
constexpr bool kEnabled = false;
#else
constexpr bool kEnabled = true;
#endif

class Layer {
public:
    // `module_dict`: where the search looks `py_datetime` up.
    Layer(PyObject* text, PyObject* module_dict) : text_(text), module_dict_(module_dict) {}

    // Python code may have run: the facts are read again when next needed.
    void python_ran() { state_ = State::unread; }

    // After a set or dict operation with `key` on `container`: Python code
    // ran unless both are exact built-ins whose keys are all exact str.
    void operation_on(PyObject* container, PyObject* key) {
        if (state_ == State::unread) return;
        if (!PyUnicode_CheckExact(key) || !pure_container(container)) python_ran();
    }

    // Whether strptime(text, fmt) is proved to refuse. `stage3`: the
    // candidate comes from a stage-3 list, whose texts have shape verdicts
    // of their own.
    Verdict judge(PyObject* fmt, bool stage3) {
        if (!kEnabled || !facts_hold() || !PyUnicode_CheckExact(fmt)) return Verdict::unknown;
        // The same candidate asked again before Python code ran (the stage-3
        // entry question, then its attempt): the same verdict.
        if (fmt == last_format_.get() && state_ == State::hold) return last_verdict_;
        last_format_ = reru::Ref::borrow(fmt);  // held, so that its address is not reused
        return last_verdict_ = verdict_on(fmt, stage3);
    }

private:
    Verdict verdict_on(PyObject* fmt, bool stage3) {
        CHRONVALE_COUNT(judged, 1);
        if (stage3 && shape_refuses(fmt)) return Verdict::refused;
        if (decidable_) {
            accept::Program program;
            if (accept::compile(fmt, program)) {
                CHRONVALE_COUNT(decided, 1);
                const accept::Verdict v = accept::decide(program, text_, facts_);
                if (v != accept::Verdict::unknown)
                    return v == accept::Verdict::accepted ? Verdict::accepted : Verdict::refused;
            }
        }
        CHRONVALE_COUNT(prechecked, 1);
        shape_check::Text& t = concrete();
        return shape_check::may_parse(t, shape_check::FormatText(fmt), c_locale_)
                   ? Verdict::unknown
                   : Verdict::refused;
    }

public:
    // Stage 3: whether the entry `fmt` is proved refused and the set's
    // operations with it run no Python code (an exact set of exact str).
    bool refused_entry(PyObject* set, PyObject* fmt) {
        return kEnabled && facts_hold() && PySet_CheckExact(set) && PyUnicode_CheckExact(fmt) &&
               pure_container(set) && (shape_refuses(fmt) || judge(fmt, true) == Verdict::refused);
    }

    // Stage 2, middle loop: the first index >= from of `times` whose
    // candidates with the date format `date` (at index `date_hint` of its
    // list) and the separators may not all be refused; `from` itself when
    // that cannot be told.
    Py_ssize_t next_time(PyObject* date, Py_ssize_t date_hint, PyObject* times, Py_ssize_t from,
                         PyObject* separators, PyObject* old_sep) {
        const int d = date_index(date, date_hint, separators, old_sep);
        if (d < 0) return from;
        std::uint64_t any = 0;
        for (std::uint64_t bits : stage2_.times[d]) any |= bits;
        const Py_ssize_t n = PyList_GET_SIZE(times);
        Py_ssize_t j = from;
        for (; j < n; ++j) {
            const int t = index_in(PyList_GET_ITEM(times, j), pristine.times, kTimeCount, j);
            if (t < 0 || (any >> t & 1)) break;
        }
        CHRONVALE_COUNT(passed_over, j - from);
        return j;
    }

    // Stage 2, inner loop: the same for the separators of one date and time.
    Py_ssize_t next_separator(PyObject* date, Py_ssize_t date_hint, PyObject* time,
                              Py_ssize_t time_hint, PyObject* separators, Py_ssize_t from,
                              PyObject* old_sep) {
        const int d = date_index(date, date_hint, separators, old_sep);
        if (d < 0) return from;
        const int t = index_in(time, pristine.times, kTimeCount, time_hint);
        if (t < 0) return from;
        Py_ssize_t s = from;
        while (s < static_cast<Py_ssize_t>(kSepCount) && !(stage2_.times[d][s] >> t & 1)) ++s;
        CHRONVALE_COUNT(passed_over, s - from);
        return s;
    }

private:
    enum class State { unread, hold, fail };

    // Facts 1-4, read again when Python code may have run since.
    bool facts_hold() {
        if (state_ == State::unread) read_facts();
        return state_ == State::hold;
    }

    void read_facts() {
        CHRONVALE_COUNT(facts_read, 1);
        state_ = State::fail;
        last_format_.reset();
        if (!encodable_) {
            if (!PyUnicode_CheckExact(text_) ||
                PyUnicode_AsUTF8AndSize(text_, nullptr) == nullptr) {
                PyErr_Clear();  // the attempt raises it where the search would
                return;
            }
            encodable_ = true;
        }
        // Fact 2: the attempt looks py_datetime up in the module (then in the
        // builtins); the module's entry is the genuine class.
        if (PyDict_GetItem(module_dict_, n_py_datetime.get()) !=
            reinterpret_cast<PyObject*>(PyDateTimeAPI->DateTimeType))
            return;
        // Facts 3 to 5.
        const bool c = accept::c_time_locale();
        PyObject* lang = nullptr;
        if (c && accept::init())
            lang = accept::detail::held.c_lang;
        else if (!c && locale_language.lang != nullptr &&
                 std::strcmp(std::setlocale(LC_TIME, nullptr), locale_language.name) == 0)
            lang = locale_language.lang;
        PyObject *cache = nullptr, *locale_time = nullptr;
        if (lang == nullptr ||
            accept::read_current(lang, cache, locale_time) != accept::Reading::usable) {
            PyErr_Clear();
            return;
        }
        decidable_ =
            c && accept::read_decidable(cache, locale_time, facts_) == accept::Reading::usable;
        PyErr_Clear();
        if (c != c_locale_) {
            c_locale_ = c;
            have2_ = have3_ = failed2_ = failed3_ = false;
        }
        pure_checked_ = nullptr;
        state_ = State::hold;
    }

    // Whether operations on `container` with an exact str key run no Python
    // code: an exact set or dict whose keys are all exact str (checked once
    // per reading of the facts; the search adds exact str only).
    bool pure_container(PyObject* container) {
        if (container == pure_checked_) return true;
        CHRONVALE_COUNT(pure_scans, 1);
        Py_ssize_t pos = 0;
        PyObject* key;
        if (PySet_CheckExact(container)) {
            Py_hash_t hash;
            while (_PySet_NextEntry(container, &pos, &key, &hash))
                if (!PyUnicode_CheckExact(key)) return false;
        } else if (PyDict_CheckExact(container)) {
            PyObject* value;
            while (PyDict_Next(container, &pos, &key, &value))
                if (!PyUnicode_CheckExact(key)) return false;
        } else {
            return false;
        }
        pure_checked_ = container;
        return true;
    }

    // The catalogue's date index of `date`, when the layer may pass over
    // candidates of it: the facts hold, the separators and old_sep are the
    // catalogue's, and the stage-2 verdicts of the text are known.
    int date_index(PyObject* date, Py_ssize_t hint, PyObject* separators, PyObject* old_sep) {
        if (!kEnabled) return -1;
        if (!facts_hold() || !same_str(old_sep, pristine.old_sep) ||
            !pristine_list(separators, pristine.separators, kSepCount) || !have_stage2())
            return -1;
        return index_in(date, pristine.dates, kDateCount, hint);
    }

    // Whether the shape verdicts refuse `fmt`, a text of the stage-3 lists
    // (the cheapest verdict, asked first and not kept as the last one).
    bool shape_refuses(PyObject* fmt) {
        const int id = stage3_id(fmt);
        return id >= 0 && have_stage3() && !(stage3_.bits[id / 64] >> (id % 64) & 1);
    }

    static int stage3_id(PyObject* fmt) {
        for (std::size_t k = identity_slot(fmt); pristine.by_identity[k] != nullptr;
             k = (k + 1) % Pristine::kSlots)
            if (pristine.by_identity[k] == fmt) return pristine.identity_ids[k] - 1;
        CHRONVALE_COUNT(id_lookups, 1);
        PyObject* id = PyDict_GetItem(pristine.stage3_ids, fmt);  // exact str keys only
        return id == nullptr ? -1 : static_cast<int>(PyLong_AsLong(id));
    }

    shape_check::Text& concrete() {
        if (!concrete_built_) {
            new (concrete_storage_) shape_check::Text(text_, false);
            concrete_built_ = true;
        }
        return *reinterpret_cast<shape_check::Text*>(concrete_storage_);
    }

    bool compute(shape_check::Text& shape, survivors::Stage2& out) const {
        return survivors::compute(shape, c_locale_, out);
    }
    bool compute(shape_check::Text& shape, survivors::Stage3& out) const {
        return survivors::compute(shape, c_locale_, pristine.stage3, out);
    }
    template <class Stage>
    bool verdicts_of(Stage& out) {
        const memo::Key key(text_, c_locale_);
        if (memo::find(key, out)) return CHRONVALE_COUNT(memo_found, 1), true;
        CHRONVALE_COUNT(memo_computed, 1);
        shape_check::Text shape(text_, true);
        if (!shape.ok() || !compute(shape, out)) return false;
        memo::store(key, out);
        return true;
    }
    bool have_stage2() {
        if (!have2_ && !failed2_) (have2_ = verdicts_of(stage2_)) || (failed2_ = true);
        return have2_;
    }
    bool have_stage3() {
        if (!have3_ && !failed3_) (have3_ = verdicts_of(stage3_)) || (failed3_ = true);
        return have3_;
    }

public:
    ~Layer() {
        if (concrete_built_) reinterpret_cast<shape_check::Text*>(concrete_storage_)->~Text();
    }

private:
    PyObject* text_;
    PyObject* module_dict_;
    State state_ = State::unread;
    bool encodable_ = false;
    bool c_locale_ = true;
    bool decidable_ = false;  // fact 5: the native decision applies
    accept::Facts facts_;
    bool have2_ = false, have3_ = false, failed2_ = false, failed3_ = false;
    PyObject* pure_checked_ = nullptr;
    reru::Ref last_format_;
    Verdict last_verdict_ = Verdict::unknown;
    survivors::Stage2 stage2_;
    survivors::Stage3 stage3_;
    bool concrete_built_ = false;
    alignas(shape_check::Text) unsigned char concrete_storage_[sizeof(shape_check::Text)];
};

}  // namespace verdicts
