"""The format finder against one strptime call: cold searches, the
constructor, whole columns searched row by row, and long texts.

Every figure is a ratio measured side by side with its yardstick (see
timing.py), reported with the spread of the per-round ratios, so a result
that sits within noise of its bound shows as such.

`run(report)` is called by run.py; `python benchmarks/finder_bench.py` runs
these rows alone (with whichever chronvale is first on sys.path).
"""
import datetime
import itertools
import pathlib
import random
import sys

HERE = pathlib.Path(__file__).resolve().parent
# run as a script under -I: this folder, and the tests' plain models and corpus
for folder in (HERE, HERE.parent / "tests"):
    if str(folder) not in sys.path:
        sys.path.insert(0, str(folder))

from timing import calls, race  # noqa: E402

from chronvale.reru.pyd.zududized.patternseek import DateFormatFinder  # noqa: E402

strptime = datetime.datetime.strptime

# (text, answer, bound of a cold search / one strptime of the answer)
WITH_TIME = [("01/05/2023 10:30", "%m/%d/%Y %H:%M", 0.5),
             ("2023-01-05 10:30:00", "%Y-%m-%d %H:%M:%S", 0.5),
             ("20100102 121314", "%d%m%Y %H%M%S", 0.5)]  # day 20, month 10, year 102
WITHOUT_TIME = [("12/31/99", "%m/%d/%y", 0.5), ("5 January 2023", "%d %B %Y", 0.5),
                ("2023-01-05", "%Y-%m-%d", 0.5), ("January 5, 2023", "%B %d, %Y", 0.5),
                ("Mon, 05 Jan 2023", "%a, %d %b %Y", 0.5), ("05-Jan-23", "%d-%b-%y", 0.5),
                ("01/2023", "%m/%Y", 0.5)]
FAILING = "2023-01-05T10:30:00"
# Failing searches without a time of day, against one failing strptime call.
FAILING_WITHOUT_TIME = [("January 2023", 1), ("hello world", 1)]
COLUMNS = [("%m/%d/%Y %H:%M", 0.4), ("%Y-%m-%d %H:%M:%S", 0.4)]
ROWS = 2000
# Failing searches with a time of day on long texts.
LONG = [("240 x 'x' + ' 10:30'", "x" * 240 + " 10:30"), ("250 x 'x' ... ' 10:30'", "x" * 244 + " 10:30"),
        ("256", "x" * 250 + " 10:30"), ("260 x 'x' + ' 10:30'", "x" * 260 + " 10:30"),
        ("300", "x" * 294 + " 10:30"), ("'01/05/2023 10:30 ' + 300 x 'z'", "01/05/2023 10:30 " + "z" * 300),
        ("1,000 x 'x' + ' 10:30'", "x" * 1000 + " 10:30"), ("10,000", "x" * 9994 + " 10:30"),
        ("300 x 'y' (no time of day)", "y" * 300)]


def cold_search(text):
    def go():
        DateFormatFinder.clear_cache()
        try:
            return DateFormatFinder().search(text)
        except ValueError:
            return None
    return go


def failing_strptime(text, fmt):
    def go():
        try:
            strptime(text, fmt)
        except ValueError:
            pass
    return go


def ratio_row(report, title, yardstick, contender, bound, note="", **kw):
    """Races `contender` against `yardstick` and reports contender / yardstick."""
    kw = {"rounds": 9, "min_batch": 0.02, **kw}
    entry = report.case(title, race([yardstick, contender], **kw), note=note)
    name = contender.name
    report.target(entry, f"{title}: {name} / {yardstick.name}", entry["ratio_to_first"][name],
                  bound, False, entry["ratio_spread"][name])
    return entry


def bench_cold(report):
    for text, fmt, bound in WITH_TIME + WITHOUT_TIME:
        assert cold_search(text)() == fmt, text
        ratio_row(report, f"finder, new finder, cold cache, search {text!r}",
                  calls(f"strptime(s, {fmt!r})", lambda t=text, f=fmt: strptime(t, f)),
                  calls("native search", cold_search(text)), bound)
    ratio_row(report, f"finder, new finder, cold cache, failing search {FAILING!r}",
              calls("one failing strptime call", failing_strptime(FAILING, "%Y-%m-%d %H:%M:%S")),
              calls("native search", cold_search(FAILING)), 2)
    for text, bound in FAILING_WITHOUT_TIME:
        assert cold_search(text)() is None
        ratio_row(report, f"finder, new finder, cold cache, failing search {text!r}",
                  calls("one failing strptime call", failing_strptime(text, "%m/%d/%y")),
                  calls("native search", cold_search(text)), bound)
    ratio_row(report, "finder, constructor",
              calls("one strptime call", lambda: strptime("01/05/2023 10:30", "%m/%d/%Y %H:%M")),
              calls("DateFormatFinder()", DateFormatFinder), 0.5)


def column(fmt, rows=ROWS, seed=3):
    rng = random.Random(seed)
    start = datetime.datetime(1990, 1, 1)
    texts = {(start + datetime.timedelta(minutes=rng.randrange(20_000_000))).strftime(fmt)
             for _ in range(rows * 2)}
    return sorted(texts)[:rows]


def bench_columns(report):
    for fmt, bound in COLUMNS:
        texts = column(fmt)

        def searched(texts=texts, fmt=fmt):
            DateFormatFinder.clear_cache()
            search = DateFormatFinder().search
            for text in texts:
                search(text)

        def parsed(texts=texts, fmt=fmt):
            for text in texts:
                strptime(text, fmt)

        assert all(DateFormatFinder().search(t) == fmt for t in texts[:50])
        ratio_row(report, f"finder, column of {len(texts)} distinct rows {texts[0]!r} style, one finder",
                  calls("strptime with the known format, every row", parsed),
                  calls("native search, every row", searched), bound, rounds=11, min_batch=0.05)


def bench_new_shape(report):
    """Each search meets a shape never seen before: the gap between date and
    time is a different mix of 14 spaces and tabs every time."""
    gaps = ("".join(p) for p in itertools.product(" \t", repeat=14))

    def first_of_shape():
        DateFormatFinder.clear_cache()
        DateFormatFinder().search("01/05/2023" + next(gaps) + "10:30")

    return report.case("finder, first search of a never-seen shape, new finder",
                       race([calls("strptime(s, '%m/%d/%Y %H:%M')",
                                   lambda: strptime("01/05/2023 10:30", "%m/%d/%Y %H:%M")),
                             calls("native search", first_of_shape)], rounds=7, max_n=500),
                       note="no bound: the price of a shape-memo miss")


def bench_long_texts(report):
    times = {}
    for label, text in LONG:
        result = race([calls("search", cold_search(text))], rounds=3, min_batch=0.02, max_n=200)
        times[label] = result.times["search"]
    entry = {"case": "finder, failing searches on long texts, new finder", "unit": "seconds",
             "seconds": times, "targets": []}
    report.cases.append(entry)
    print(f"\n{entry['case']}")
    for (label, text), seconds in zip(LONG, times.values()):
        print(f"  {label:36} {len(text):6} chars  {seconds * 1e3:10.3f} ms")
    base = times[LONG[1][0]]
    report.target(entry, "1,000 vs 250 characters, failing search with a time",
                  times[LONG[6][0]] / base, 5, False)
    for i, size in ((2, 256), (4, 300), (7, 10_000)):
        bound = 2 * max(1, size / 250)
        report.target(entry, f"{size:,} vs 250 characters (no step: at most 2 x the length ratio)",
                      times[LONG[i][0]] / base, bound, False)


# A long run of white space between a date and a time of day: the plain
# algorithm makes five strptime calls here (the fifth parses).
WIDE = "010523" + " " * 200_000 + "10"
WIDE_CALLS = ["%m/%d/%y %H", "%m.%d.%y %H", "%m-%d-%y %H", "%m %d %y %H", "%m%d%y %H"]


def bench_wide_space(report):
    assert cold_search(WIDE)() == WIDE_CALLS[-1]

    def plain_calls():
        for fmt in WIDE_CALLS:
            try:
                strptime(WIDE, fmt)
            except ValueError:
                pass

    ratio_row(report, "finder, 200,000 spaces between date and time, new finder, cold cache",
              calls("the plain algorithm's five strptime calls", plain_calls),
              calls("native search", cold_search(WIDE)), 3, rounds=5, min_batch=0.05, max_n=200)


def distinct_gaps(count, width=17):
    """`count` distinct mixes of spaces and tabs, `width` characters each."""
    return ["".join(p) for p in itertools.islice(itertools.product(" \t", repeat=width), count)]


def bench_rows_of_new_shapes(report):
    """Columns whose every row has a shape of its own: the gap between date
    and time is 1 to 400 spaces, or one of 100,000 mixes of spaces and
    tabs; every row searched on one finder, against strptime with the
    known format per row."""
    fmt = "%m/%d/%Y %H:%M"
    for title, texts, bound in [
            ("1 to 400 spaces between date and time",
             ["01/05/2023" + " " * k + "10:30" for k in range(1, 401)], 2),
            ("100,000 mixes of spaces and tabs between date and time",
             ["01/05/2023" + gap + "10:30" for gap in distinct_gaps(100_000)], 2)]:
        assert DateFormatFinder().search(texts[-1]) == fmt

        def searched(texts=texts):
            DateFormatFinder.clear_cache()
            search = DateFormatFinder().search
            for text in texts:
                search(text)

        def parsed(texts=texts):
            for text in texts:
                strptime(text, fmt)

        ratio_row(report, f"finder, every row a new shape: {title}, one finder",
                  calls("strptime with the known format, every row", parsed),
                  calls("native search, every row", searched), bound, rounds=5, min_batch=0.05,
                  max_n=50)


FRESH = """
import datetime, json, sys, time
from chronvale.reru.pyd.zududized.patternseek import DateFormatFinder
texts = json.loads(sys.stdin.read())
clock, ratios = time.perf_counter, []
for text in texts:
    t0 = clock()
    try:
        fmt = DateFormatFinder().search(text)
    except (ValueError, UnicodeError):
        continue
    searched = clock() - t0
    runs = []
    for _ in range(5):
        t0 = clock()
        datetime.datetime.strptime(text, fmt)
        runs.append(clock() - t0)
    ratios.append(searched / min(runs))
print(json.dumps(ratios))
"""


def bench_corpus_fresh(report):
    """The first search of each corpus text in a fresh process, where every
    shape is new: its time against one strptime of the answer (the least of
    five), median over the texts, in three fresh processes."""
    import json
    import statistics
    import subprocess

    from corpus import candidates
    texts = candidates()
    medians = []
    for _ in range(3):
        out = subprocess.run([sys.executable, "-I", "-c", FRESH], input=json.dumps(texts),
                             capture_output=True, text=True, check=True).stdout
        ratios = json.loads(out)
        medians.append(statistics.median(ratios))
        tenth = statistics.quantiles(ratios, n=10)[-1]
    median = statistics.median(medians)
    entry = {"case": "finder, first search of each corpus text in a fresh process", "unit": "ratio",
             "texts": len(texts), "searched": len(ratios), "medians": medians,
             "ninth_decile": tenth, "targets": []}
    report.cases.append(entry)
    print(f"\n{entry['case']}\n  {len(ratios)} texts with an answer of {len(texts)}; median per "
          f"process {', '.join(f'{m:.2f}' for m in medians)}; one in ten above {tenth:.2f}")
    report.target(entry, "first search in a fresh process / one strptime of the answer, median",
                  median, 2, False, (min(medians), max(medians)))


def run(report):
    bench_cold(report)
    bench_columns(report)
    bench_new_shape(report)
    bench_long_texts(report)
    bench_wide_space(report)
    bench_rows_of_new_shapes(report)
    bench_corpus_fresh(report)


if __name__ == "__main__":
    from run import Report
    report = Report()
    run(report)
    report.summary()
