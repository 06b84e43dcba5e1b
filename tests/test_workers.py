"""Finders in worker processes, under every start method the platform has."""
import concurrent.futures
import copy
import multiprocessing

import pytest

from chronvale import DateFormatFinder

TEXTS = ["01/05/2023 10:30", "2023-01-05", "January 5, 2023", "05/01/2023"]


@pytest.mark.parametrize("method", multiprocessing.get_all_start_methods())
def test_a_pickled_finder_searches_in_workers(method):
    DateFormatFinder.clear_cache()
    finder = DateFormatFinder()
    # A finder with a history of failures: "%m/%d/%Y" failed for it.
    assert finder.search("15/01/2023") == "%d/%m/%Y"
    # Each task gets its own copy of the finder, as it was when sent.
    expected = [copy.deepcopy(finder).search(text) for text in TEXTS]
    assert expected[3] == "%d/%m/%Y"
    DateFormatFinder.clear_cache()
    context = multiprocessing.get_context(method)
    with concurrent.futures.ProcessPoolExecutor(2, mp_context=context) as pool:
        # The bound method pickles with its finder.
        assert list(pool.map(finder.search, TEXTS)) == expected
        with pytest.raises(ValueError, match="No matching format found"):
            pool.submit(finder.search, "January 2023").result()
    # Each process has its own answer cache: the workers' answers stay there.
    assert DateFormatFinder.successful_formats == {}
