"""What the finder's verdict layer does, pinned.

The shortcuts of the finder cannot be seen in what a search returns, only
in how much it does; a shortcut that proves less, or does more to prove it,
is a regression all the same. The counting build of the finder (the same
source, counting what its verdict layer does) runs fixed sequences of
searches, and the counts must be the ones pinned here: facts read,
verdicts judged, decided natively or by the pre-check, shape verdicts found
in the memo or computed, candidates passed over without being built.
"""
import corpus
import pytest
from meddling import available_time_locales, time_locale

counting = pytest.importorskip("patternseek_counting")
Finder = counting.DateFormatFinder


def outcome(search, text):
    try:
        return search(text)
    except ValueError:
        return None


def new_finder_each(texts):
    return [outcome(Finder().search, t) for t in texts if Finder.clear_cache() is None]


def one_finder(texts):
    Finder.clear_cache()
    search = Finder().search
    return [outcome(search, t) for t in texts]


COLUMN = [f"{m:02d}/{d:02d}/20{y:02d} {h:02d}:{n:02d}" for m, d, y, h, n in
          zip(range(1, 13), range(1, 29), range(0, 99, 7), range(24), range(0, 60, 7))]

def pickled_finder(texts):
    import pickle
    Finder.clear_cache()
    search = pickle.loads(pickle.dumps(Finder())).search   # equal strings, other objects
    return [outcome(search, t) for t in texts]


SCENARIOS = {
    "generated texts, new finder each": lambda: new_finder_each(corpus.generated()),
    "a column of one layout, one finder": lambda: one_finder(COLUMN * 3),
    "texts without a time of day, one finder": lambda: one_finder(
        ["January 5, 2023", "5 January 2023", "2023-01-05", "January 2023", "01/2023"]),
    "a pickled finder": lambda: pickled_finder(COLUMN[:3] + ["January 5, 2023", "01/2023"]),
}

PINNED = {
    ("C", "a pickled finder"): {
        "facts_read": 5, "memo_found": 5, "memo_computed": 0, "judged": 5, "decided": 5,
        "prechecked": 0, "pure_scans": 2, "passed_over": 402, "index_scans": 426,
        "id_lookups": 214},
    ("C", "a column of one layout, one finder"): {
        "facts_read": 27, "memo_found": 9, "memo_computed": 0, "judged": 27, "decided": 27,
        "prechecked": 0, "pure_scans": 0, "passed_over": 1206, "index_scans": 0, "id_lookups": 0},
    ("C", "generated texts, new finder each"): {
        "facts_read": 307, "memo_found": 257, "memo_computed": 50, "judged": 314, "decided": 314,
        "prechecked": 0, "pure_scans": 208, "passed_over": 37267, "index_scans": 0,
        "id_lookups": 0},
    ("C", "texts without a time of day, one finder"): {
        "facts_read": 5, "memo_found": 5, "memo_computed": 0, "judged": 4, "decided": 4,
        "prechecked": 0, "pure_scans": 5, "passed_over": 0, "index_scans": 0, "id_lookups": 0},
    ("C.UTF-8", "a column of one layout, one finder"): {
        "facts_read": 44, "memo_found": 9, "memo_computed": 0, "judged": 45, "decided": 0,
        "prechecked": 45, "pure_scans": 0, "passed_over": 1260, "index_scans": 0, "id_lookups": 0},
    ("C.UTF-8", "generated texts, new finder each"): {
        "facts_read": 1303, "memo_found": 246, "memo_computed": 61, "judged": 1478, "decided": 0,
        "prechecked": 1478, "pure_scans": 894, "passed_over": 37689, "index_scans": 0,
        "id_lookups": 0},
    ("C.UTF-8", "texts without a time of day, one finder"): {
        "facts_read": 10, "memo_found": 5, "memo_computed": 0, "judged": 88, "decided": 0,
        "prechecked": 88, "pure_scans": 10, "passed_over": 0, "index_scans": 0, "id_lookups": 0},
}


@pytest.mark.parametrize("locale_name, scenario", sorted(PINNED))
def test_work_is_pinned(locale_name, scenario):
    if locale_name not in available_time_locales():
        pytest.skip(f"no {locale_name} locale")
    with time_locale(locale_name):
        SCENARIOS[scenario]()  # the first run fills the shape memo
        counting._counts()
        SCENARIOS[scenario]()
        counts = counting._counts()
    Finder.clear_cache()
    assert counts == PINNED[locale_name, scenario]
