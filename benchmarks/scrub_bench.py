"""scrubtext on megabyte texts: throughput in GB/s of UTF-8 input.

Two kinds of text: prose with sparse white space (mostly single spaces
between words), and text dense with runs of white space, where nearly every
few bytes something is dropped. Called from run.py with its Report; run on
its own with `.venv/bin/python -I benchmarks/scrub_bench.py`.
"""
import importlib
import pathlib
import sys

HERE = pathlib.Path(__file__).resolve().parent
# run as a script under -I: this folder, and the tests' plain models and corpus
for folder in (HERE, HERE.parent / "tests"):
    if str(folder) not in sys.path:
        sys.path.insert(0, str(folder))

import plain_models  # noqa: E402
from timing import calls, race  # noqa: E402

MEGABYTE = 1_000_000
DENSE_UNIT = "  hello   world  2024-01-15 "


def sparse_text(ascii_only):
    words = ["date", "time", "meeting", "on", "the", "2023-01-05", "at", "10:30", "and",
             "report", "zone", "UTC", "quarterly", "review" if ascii_only else "révision",
             "of", "numbers" if ascii_only else "Zürich", "a", "offset", "+05:30", "week"]
    gaps = [" ", " ", " ", " ", "  ", "\t", "\n", " \r\n", "\n\n  ", " "]
    parts, size, i = ["  "], 2, 0
    while size < MEGABYTE:
        word, gap = words[(i * 7) % len(words)], gaps[(i * 3) % len(gaps)]
        parts += [word, gap]
        size += len(word.encode()) + len(gap)
        i += 1
    return "".join(parts) + "\n"


def dense_text():
    return DENSE_UNIT * (MEGABYTE // len(DENSE_UNIT) + 1)


CASES = [  # (title, text, whether the 2 GB/s target applies)
    ("sparse white space", lambda: sparse_text(True), True),
    ("sparse white space, non-ASCII words", lambda: sparse_text(False), False),
    (f"dense white space ({DENSE_UNIT!r} repeated)", dense_text, True),
]


def scrubtext():
    try:
        return importlib.import_module("chronvale.reru.pyd.scrub_text").scrubtext
    except (ImportError, AttributeError):
        return None


def run(report):
    fn = scrubtext()
    for kind, make, with_target in CASES:
        text = make()
        nbytes = len(text.encode())
        title = f"scrubtext on a {nbytes / 1e6:.2f} MB text, {kind}"
        if fn is None:
            report.missing(title)
            continue
        result = race([calls("native scrubtext", lambda text=text: fn(text)),
                       calls('" ".join(s.split())', lambda text=text: " ".join(text.split())),
                       calls("s.strip()", text.strip),
                       calls("plain model scrubtext", lambda text=text: plain_models.scrubtext(text))],
                      rounds=5, min_batch=0.05, max_n=200)
        entry = report.case(title, result)
        speed = nbytes / result.times["native scrubtext"] / 1e9
        print(f"  native throughput: {speed:.2f} GB/s")
        if with_target:
            report.target(entry, f"native scrubtext throughput, GB/s ({kind})", speed, 2, True)


if __name__ == "__main__":
    from run import Report
    report = Report()
    run(report)
    report.summary()
