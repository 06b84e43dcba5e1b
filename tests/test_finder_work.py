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

COUNTS = ("facts_read", "memo_found", "memo_computed", "judged", "decided", "prechecked",
          "pure_scans", "passed_over", "index_scans", "id_lookups")
PINNED = {
    ("C", "a pickled finder"):
        (5, 5, 0, 5, 5, 0, 2, 402, 426, 214),
    ("C", "a column of one layout, one finder"):
        (27, 9, 0, 27, 27, 0, 0, 1206, 0, 0),
    ("C", "generated texts, new finder each"):
        (307, 257, 50, 314, 314, 0, 208, 37267, 0, 0),
    ("C", "texts without a time of day, one finder"):
        (5, 5, 0, 4, 4, 0, 5, 0, 0, 0),
    ("C.UTF-8", "a column of one layout, one finder"):
        (44, 9, 0, 45, 0, 45, 0, 1260, 0, 0),
    ("C.UTF-8", "generated texts, new finder each"):
        (1303, 246, 61, 1478, 0, 1478, 894, 37689, 0, 0),
    ("C.UTF-8", "texts without a time of day, one finder"):
        (10, 5, 0, 88, 0, 88, 10, 0, 0, 0),
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
    assert counts == dict(zip(COUNTS, PINNED[locale_name, scenario]))
