"""The toolkit's steps of Python code, called through their test hook and held
against what the interpreter does with the same objects: `text.replace(old,
new)` (done directly where nothing can tell the difference) and `first,
second = pair`, also for the objects no module hands them today."""
import itertools

import pytest

hook = pytest.importorskip("toolkit_hook")


def outcome(function, *args):
    """The result, or the type and text of the error."""
    try:
        return function(*args)
    except Exception as error:
        return type(error), str(error)


class Sub(str):
    pass


class Loud(str):
    """A subclass whose replace, __eq__ and __str__ are its own."""

    def replace(self, old, new, count=-1):
        return ("Loud.replace", str(self), old, new)

    def __eq__(self, other):
        return True

    __hash__ = str.__hash__

    def __str__(self):
        return "loud"


class Attribute:
    """No str at all, but with a replace of its own on the instance."""

    def __init__(self):
        self.replace = lambda old, new: ("instance", old, new)


TEXTS = ["", "a-b-a", "aaa", "é-ü", "x" * 300, Sub("a-b"), Loud("a-b"), None, 5, b"a-b",
         Attribute()]
ARGUMENTS = ["-", "", "a", "aa", "ü", Sub("-"), Loud("a"), None, 5, b"-"]


def test_str_replace_is_the_method_call():
    for text, old, new in itertools.product(TEXTS, ARGUMENTS, ARGUMENTS):
        expected = outcome(lambda t, o, n: t.replace(o, n), text, old, new)
        result = outcome(hook.str_replace, text, old, new)
        assert result == expected and type(result) is type(expected), (text, old, new)
        # an exact str that nothing is replaced in comes back itself, as from the method
        if type(text) is str and result == text:
            assert (result is text) == (text.replace(old, new) is text)


def unpacked(pair):
    first, second = pair
    return first, second


def unpacked_after_iter(pair):
    first, second = iter(pair)
    return first, second


class Items:
    """Iterable by __getitem__ alone."""

    def __init__(self, n):
        self.n = n

    def __getitem__(self, i):
        if i >= self.n:
            raise IndexError(i)
        return i


def failing(after):
    yield from range(after)
    raise ArithmeticError(f"after {after}")


PAIRS = [(1, 2), [1, 2], "ab", {1: 2, 3: 4}, Items(2), Sub("ab"), (), (1,), [1, 2, 3], "abc",
         Items(1), Items(5), 5, None, type("NoIter", (), {"__iter__": None})()]


@pytest.mark.parametrize("unpack, model", [
    (hook.unpack_pair, unpacked), (hook.unpack_pair_not_iterable, unpacked_after_iter)])
def test_unpack_pair_is_the_statement(unpack, model):
    for pair in PAIRS:
        assert outcome(unpack, pair) == outcome(model, pair), pair
    for after in range(4):
        assert outcome(unpack, failing(after)) == outcome(model, failing(after)), after
    # no more than the items that tell the answer are taken
    for n in range(5):
        ours, theirs = iter(range(n)), iter(range(n))
        assert outcome(unpack, ours) == outcome(model, theirs)
        assert list(ours) == list(theirs)
    endless = itertools.count()
    assert outcome(unpack, endless) == (ValueError, "too many values to unpack (expected 2)")
    assert next(endless) == 3


def test_the_two_words_for_a_non_iterable():
    assert outcome(hook.unpack_pair, 5) == (TypeError, "cannot unpack non-iterable int object")
    assert outcome(hook.unpack_pair_not_iterable, 5) == (TypeError, "'int' object is not iterable")
