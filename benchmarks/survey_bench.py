"""The column survey against the finder's searches of the same rows.

A 100-row sample of a column: `survey_formats(rows)` (a new finder for each
distinct value, then every format found checked against every value)
against the searches of those rows on one finder, every row searched, both
with the finder's answer cache cleared first. Bound: 2.

How the survey uses the finder was chosen here: a new finder for each
distinct value gives each value the answer it gets alone, but building a
finder costs about as much as a search, and that survey measured 2.2 to 2.5
times the searches on these columns; one finder for the sample would be
cheaper but answers a value differently (or not at all) once a format that
parses it failed for an earlier value. The survey keeps one finder and
empties its set of failed formats before each search, which gives the
answers of new finders at 1.2 to 1.5 times the searches.

`run(report)` is called by run.py; `python benchmarks/survey_bench.py` runs
these rows alone (with whichever chronvale is first on sys.path).
"""
import datetime
import pathlib
import random
import sys

HERE = pathlib.Path(__file__).resolve().parent
if str(HERE) not in sys.path:
    sys.path.insert(0, str(HERE))

from timing import calls, race  # noqa: E402

from chronvale import DateFormatFinder, survey_formats  # noqa: E402

ROWS = 100
# (title, layouts the rows are written in, one after the other)
COLUMNS = [
    ("'01/05/2023 10:30'", ["%m/%d/%Y %H:%M"]),
    ("'2023-01-05'", ["%Y-%m-%d"]),
    ("'5 January 2023'", ["%d %B %Y"]),
    ("'01/05/2023 10:30 PM' (a lossy answer)", ["%m/%d/%Y %I:%M %p"]),
    ("'2023-01-05 10:30:00+05:30' (an offset)", ["%Y-%m-%d %H:%M:%S%z"]),
    ("mixed: '05/01/2023', 'Jan 05, 2023', '2023-01-05'", ["%d/%m/%Y", "%b %d, %Y", "%Y-%m-%d"]),
]
BOUND = 2


def sample(layouts, rows=ROWS, seed=7):
    rng = random.Random(seed)
    start = datetime.datetime(1990, 1, 1, tzinfo=datetime.timezone(datetime.timedelta(hours=5.5)))
    return [(start + datetime.timedelta(minutes=rng.randrange(20_000_000)))
            .strftime(layouts[i % len(layouts)]) for i in range(rows)]


def searched(rows):
    def go():
        DateFormatFinder.clear_cache()
        search = DateFormatFinder().search
        for row in rows:
            try:
                search(row)
            except ValueError:
                pass
    return go


def surveyed(rows):
    def go():
        DateFormatFinder.clear_cache()
        survey_formats(rows)
    return go


def run(report):
    for title, layouts in COLUMNS:
        rows = sample(layouts)
        entry = report.case(
            f"survey_formats, {ROWS}-row sample {title}",
            race([calls("finder searches, one finder, every row", searched(rows)),
                  calls("survey_formats(rows)", surveyed(rows))], rounds=9, min_batch=0.05),
            note="answer cache cleared on both sides")
        report.target(entry, f"survey_formats / finder searches, {title}",
                      entry["ratio_to_first"]["survey_formats(rows)"], BOUND, False,
                      entry["ratio_spread"]["survey_formats(rows)"])


if __name__ == "__main__":
    import run as runner
    report = runner.Report()
    run(report)
    report.summary()
