"""The finder at its limits: allocations that fail in the middle of a
search, and texts far longer than anything the finder keeps.

What the finder remembers between searches (its verdicts per text shape)
holds only what was computed completely, and never more than a fixed
amount whatever the texts; a failed allocation costs speed, never a wrong
answer later.
"""
import subprocess
import sys
import textwrap

import pytest

pytest.importorskip("patternseek_plain")

# Texts whose verdicts need position sets of two words (64 characters or
# more) and are still kept per shape, and longer ones that are not kept.
TEXTS = ["01/05/2023" + " " * 60 + "10:30", "5" + "\u3000" * 70 + "January 2023",
         "04/31/2023" + "\t" * 80 + "10:30", "x" * 90 + " 10:30", "01/05/2023 " + " " * 300 + "10:30"]

SCRIPT = textwrap.dedent("""
    import _testcapi, sys
    from chronvale.reru.pyd.zududized.patternseek import DateFormatFinder
    import patternseek_plain
    texts = {texts!r}
    def outcome(cls, text):
        cls.clear_cache()
        try:
            return cls().search(text)
        except ValueError as error:
            return str(error)
    expected = [outcome(patternseek_plain.DateFormatFinder, t) for t in texts]
    failed = 0
    for n in range({first}, {last}):
        for text in texts:
            finder = DateFormatFinder()
            DateFormatFinder.clear_cache()
            _testcapi.set_nomemory(n, n + 1)
            try:
                finder.search(text)
            except MemoryError:
                failed += 1
            except SystemError as error:
                # the interpreter's own strptime code, short of memory, can
                # return an error without setting it
                frames = []
                tb = error.__traceback__
                while tb is not None:
                    frames.append(tb.tb_frame.f_code.co_filename)
                    tb = tb.tb_next
                assert frames[-1].endswith("_strptime.py"), frames
            except ValueError:
                pass
            finally:
                _testcapi.remove_mem_hooks()
            # every text of the same shapes, searched again with memory to spare
            got = [outcome(DateFormatFinder, t) for t in texts]
            assert got == expected, (n, text, got, expected)
    print(failed)
""")


@pytest.mark.parametrize("first, last", [(0, 40), (40, 120)])
def test_failed_allocations_leave_nothing_wrong_behind(first, last):
    """The n-th allocation of a search fails (n over a range that covers the
    verdicts' working sets, the memo and strptime's own): the search
    raises MemoryError or goes on without the shortcut, and every later
    search of the same shapes answers as the plain finder does."""
    pytest.importorskip("_testcapi")
    script = SCRIPT.format(texts=TEXTS, first=first, last=last)
    result = subprocess.run([sys.executable, "-P", "-s", "-c", script], capture_output=True,
                            text=True, timeout=600)
    assert result.returncode == 0, result.stderr[-3000:]


def test_a_huge_text_leaves_nothing_behind():
    """A search of a text of millions of characters keeps nothing of it once
    it is over: no copy of its shape stays in the process."""
    script = textwrap.dedent("""
        import tracemalloc
        from chronvale.reru.pyd.zududized.patternseek import DateFormatFinder
        tracemalloc.start()
        for text in ["01/05/2023" + " " * 5_000_000 + "10:30", "y" * 5_000_000]:
            try:
                DateFormatFinder().search(text)
            except ValueError:
                pass
            DateFormatFinder.clear_cache()
            del text
        current, peak = tracemalloc.get_traced_memory()
        print(current)
    """)
    result = subprocess.run([sys.executable, "-P", "-s", "-c", script], capture_output=True,
                            text=True, timeout=300)
    assert result.returncode == 0, result.stderr[-3000:]
    assert int(result.stdout) < 1_000_000
