"""Realistic date strings for the finder benchmark and the sameness tests.

`candidates()` renders many everyday layouts (numeric with slashes, dots and
dashes, month and weekday names, ISO-like, compact digits, with and without a
time of day and a zone) for a few dates, and adds the strings of the shared
date-string collection when it is present. `build()` keeps the strings for
which the plain model finds a format, with that format.
"""
import datetime
import os
import pathlib

import plain_models

HERE = pathlib.Path(__file__).resolve().parent
ROOT = HERE.parent
SHARED = ROOT.parent / "shared" / "corpus" / "datestrings.tsv"

DATES = [
    datetime.datetime(2023, 1, 5, 9, 7, 3, 250000),
    datetime.datetime(2019, 12, 31, 23, 59, 59, 999999),
    datetime.datetime(2024, 2, 29, 14, 30, 15, 123456),
    datetime.datetime(2021, 7, 14, 0, 0, 0),
]
ZONES = [datetime.UTC, datetime.timezone(datetime.timedelta(hours=5, minutes=30)),
         datetime.timezone(datetime.timedelta(hours=-8))]

DATE_LAYOUTS = [
    "%m/%d/%Y", "%m/%d/%y", "%d/%m/%Y", "%Y-%m-%d", "%Y/%m/%d", "%d.%m.%Y", "%Y.%m.%d",
    "%d-%m-%Y", "%m-%d-%Y", "%m.%d.%y", "%B %d, %Y", "%b %d, %Y", "%d %B %Y", "%d %b %Y",
    "%A, %B %d, %Y", "%a, %b %d, %Y", "%a, %d %b %Y", "%Y%m%d", "%d-%b-%y", "%d-%b-%Y",
    "%b. %d, %Y", "%d/%b/%Y", "%Y/%b/%d", "%B %d, %y", "%d %B %y", "%y/%m/%d",
]
ONLY_DATE_LAYOUTS = [
    "%B %Y", "%Y-%m", "%m/%Y", "%B %d", "%d %B", "%Y-%j", "%Y", "%B, %Y", "on %B %d, %Y",
    "%dth of %B %Y", "%Y %B", "%d %B, %Y", "%b-%d-%y", "%b %d %y", "%Y, %B %d", "%B", "%A",
    "%a", "%b", "%Y.%m", "%d of %B, %Y", "%A, %d %B %Y", "%Y-W%U-%w", "%A the %dth of %B, %Y",
]
TIME_LAYOUTS = [
    "%H:%M", "%H:%M:%S", "%I:%M %p", "%I:%M:%S %p", "%H:%M:%S.%f", "%H:%M:%S%z",
    "%H:%M:%S %Z", "%I %p", "%H:%M:%S %z", "%H:%M:%SZ", "%I:%M %p %Z", "%H%M%S",
]
# Common ways of joining a date and a time that the finder's candidates do not cover.
ISO_LAYOUTS = ["%Y-%m-%dT%H:%M:%S", "%Y-%m-%dT%H:%M:%S%z", "%Y%m%dT%H%M%S"]


def _needs_zone(layout):
    return "%z" in layout or "%Z" in layout


def generated():
    """Layouts x dates: every plain date layout, then each date layout with a
    few time layouts in turn (so that every time layout meets many date
    layouts), then ISO forms with a "T"."""
    out = []
    for layout in DATE_LAYOUTS + ONLY_DATE_LAYOUTS:
        for when in DATES:
            out.append(when.strftime(layout))
    pairs = [(d, t) for i, d in enumerate(DATE_LAYOUTS)
             for t in (TIME_LAYOUTS[i % len(TIME_LAYOUTS)], TIME_LAYOUTS[(i * 5 + 3) % len(TIME_LAYOUTS)])]
    for k, (d, t) in enumerate(pairs):
        for j, when in enumerate(DATES[:2] if k % 2 else DATES[2:]):
            if _needs_zone(t):
                when = when.replace(tzinfo=ZONES[(k + j) % len(ZONES)] if "%z" in t else ZONES[0])
            out.append(when.strftime(d + " " + t))
    for layout in ISO_LAYOUTS:
        out.append(DATES[0].replace(tzinfo=ZONES[1]).strftime(layout))
    return out


def shared_path():
    """The shared collection: $CHRONVALE_DATESTRINGS if set, else beside the checkout."""
    override = os.environ.get("CHRONVALE_DATESTRINGS")
    return pathlib.Path(override) if override else SHARED


def shared():
    """The strings of the shared collection (empty when it is absent). Its
    lines are source, string and format, tab-separated; only the final line
    feed is removed, since the strings keep their own spaces."""
    path = shared_path()
    if not path.is_file():
        return []
    out = []
    with open(path, encoding="utf-8", newline="") as stream:
        for line in stream:
            fields = line.removesuffix("\n").split("\t")
            if len(fields) == 3:
                out.append(fields[1])
    return out


def candidates():
    """Generated strings, then shared ones, each once, in first-seen order."""
    return list(dict.fromkeys(generated() + shared()))


def build():
    """[(date string, format the plain model finds)] for every candidate it
    finds, each searched on a new model finder with an empty class cache."""
    found = []
    with plain_models.roomy_re_cache():
        for text in candidates():
            plain_models.PlainFinder.clear_cache()
            try:
                found.append((text, plain_models.PlainFinder().search(text)))
            except ValueError:
                pass
            except UnicodeEncodeError:
                pass
    plain_models.PlainFinder.clear_cache()
    return found


if __name__ == "__main__":
    corpus = build()
    print(f"{len(corpus)} strings with a format, of {len(candidates())} candidates "
          f"(shared collection: {'used' if shared() else 'absent'})")
    for text, fmt in corpus:
        print(f"{text!r:45} {fmt}")
