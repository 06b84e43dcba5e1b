"""chronvale benchmarks: every public function against its baselines, in one run.

Each case races the native function against a plain Python model of the same
algorithm, the standard-library idiom a user would otherwise write, and the
cheapest builtin call on the same data. Contenders run interleaved and the
figures are medians of side-by-side ratios (see timing.py). The table is
printed and the same figures are written as JSON to benchmarks/results/.

Run with `make bench` (or `.venv/bin/python -I benchmarks/run.py`).
"""
import datetime
import importlib
import json
import os
import pathlib
import platform
import re
import statistics
import subprocess
import sys
import time

HERE = pathlib.Path(__file__).resolve().parent
# run as a script under -I: this folder, and the tests' plain models and corpus
for folder in (HERE, HERE.parent / "tests"):
    if str(folder) not in sys.path:
        sys.path.insert(0, str(folder))

import corpus  # noqa: E402
import finder_bench  # noqa: E402
import plain_models  # noqa: E402
import scrub_bench  # noqa: E402
import survey_bench  # noqa: E402
from timing import Result, calls, expressions, race  # noqa: E402

from chronvale.reru.pyd.zududized.patternseek import DateFormatFinder  # noqa: E402

PROBES = {
    "isISOT": "chronvale.reru.pyd.zududized.joinmark",
    "replaceZ": "chronvale.reru.pyd.zududized.suffixswap",
    "scrubtext": "chronvale.reru.pyd.scrub_text",
}
MODULES = ["chronvale.reru.pyd.zududized.patternseek", "chronvale.reru.pyd.zonebook",
           "chronvale.reru.pyd.Compiled", "chronvale.reru.pyd.zududized.PadShaper",
           *PROBES.values()]

# Short ASCII strings (at most 40 bytes) of the kinds the probes meet.
SHORT = [
    "2024-01-15T12:30:45Z",
    "20240115T123045.123+0100",
    "2019-12-31T23:59:59.999999+05:30",
    "  hello   world  ",
    "01/05/2023 10:30 PM",
    "Thu, 05 Jan 2023 09:07:03 GMT",
    "\tmeeting at\n 9 am ",
    "plain",
]
ISO_T = re.compile(r"\d{4}-\d{2}-\d{2}T\d{2}:\d{2}(?::\d{2}(?:\.\d*)?)?(?:Z|[+-]\d{2}:\d{2})?"
                   r"|\d{8}T\d{6}(?:\.\d{3})?(?:Z|[+-]\d{4})?")

NO_TIME_FAILURE = "January 2023"
TIME_FAILURE = "2023-01-05T10:30:00"
CACHED = [("01/05/2023", "%m/%d/%Y"), ("2023-01-05 10:30:00", "%Y-%m-%d %H:%M:%S"),
          ("January 5, 2023", "%B %d, %Y"), ("05.01.2023 10:30 PM", "%m.%d.%Y %H:%M %p")]
CORPUS_TIMED = 240        # strings timed from the corpus (all of them when fewer)


class Report:
    """Collects the rows and targets, prints them as they come, and writes the JSON."""

    def __init__(self):
        self.cases = []

    def case(self, name, result, unit="per call", note=""):
        entry = {"case": name, "unit": unit, "note": note, "rounds": result.rounds,
                 "median_seconds": result.times, "ratio_to_first": result.ratios,
                 "targets": []}
        self.cases.append(entry)
        first = next(iter(result.times))
        print(f"\n{name}" + (f"  ({note})" if note else ""))
        entry["ratio_spread"] = getattr(result, "spread", {})
        for who, seconds in result.times.items():
            ratio = result.ratios[who]
            low, high = entry["ratio_spread"].get(who, (ratio, ratio))
            print(f"  {who:46} {_seconds(seconds):>10} {unit:8} x{ratio:9.3f} of {first}"
                  f"  (rounds x{low:.3f}..x{high:.3f})")
        return entry

    def target(self, entry, text, value, bound, at_least, spread=None):
        ok = value >= bound if at_least else value <= bound
        entry["targets"].append({"target": text, "value": value, "bound": bound,
                                 "at_least": at_least, "pass": ok, "spread": spread})
        within = f", rounds {spread[0]:.3f}..{spread[1]:.3f}" if spread else ""
        print(f"  -> {text}: {value:.3f} (target {'>=' if at_least else '<='} {bound:g}{within})"
              f"  {'PASS' if ok else 'FALL SHORT'}")

    def missing(self, name):
        self.cases.append({"case": name, "available": False})
        print(f"\n{name}: not available")

    def summary(self):
        print("\nTargets")
        for entry in self.cases:
            for t in entry.get("targets", []):
                verdict = "PASS" if t["pass"] else "FALL SHORT"
                sign = ">=" if t["at_least"] else "<="
                within = f", rounds {t['spread'][0]:.3f}..{t['spread'][1]:.3f}" if t.get("spread") else ""
                print(f"  {verdict:10} {t['target']}: {t['value']:.3f} ({sign} {t['bound']:g}{within})")
            if entry.get("available") is False:
                print(f"  {'SKIPPED':10} {entry['case']}: not available")


def _seconds(s):
    for unit, scale in (("s", 1), ("ms", 1e-3), ("us", 1e-6)):
        if s >= scale:
            return f"{s / scale:.3f} {unit}"
    return f"{s / 1e-9:.1f} ns"


# --- the format finder ------------------------------------------------------------

# A search by a new finder with the answer cache cleared, None when it fails.
fresh_native = finder_bench.cold_search


def fresh_model(text):
    def go():
        plain_models.PlainFinder.clear_cache()
        try:
            return plain_models.PlainFinder().search(text)
        except ValueError:
            return None
    return go


def bench_finder_failures(report):
    entry = report.case(
        f"finder, failing search without a time of day ({NO_TIME_FAILURE!r}), new finder",
        race([calls("native DateFormatFinder", fresh_native(NO_TIME_FAILURE)),
              calls("plain model", fresh_model(NO_TIME_FAILURE))], rounds=9, min_batch=0.02),
        note="every distinct stage-3 candidate; finder built inside the timed region")
    report.target(entry, "plain model / native, failing search without time",
                  entry["ratio_to_first"]["plain model"], 50, True)

    entry = report.case(
        f"finder, failing search with a time of day ({TIME_FAILURE!r}), new finder",
        race([calls("native DateFormatFinder", fresh_native(TIME_FAILURE)),
              calls("plain model", fresh_model(TIME_FAILURE))], rounds=3, min_batch=0.05,
             max_n=1000),
        note="all 3135 combinations")
    report.target(entry, "plain model / native, failing search with time",
                  entry["ratio_to_first"]["plain model"], 500, True)


def bench_cache_hit(report):
    native, model = DateFormatFinder(), plain_models.PlainFinder()
    DateFormatFinder.clear_cache()
    plain_models.PlainFinder.clear_cache()
    for text, fmt in CACHED:
        assert native.search(text) == fmt and model.search(text) == fmt, (text, fmt)
    texts, formats = [t for t, _ in CACHED], [f for _, f in CACHED]
    entry = report.case(
        "finder, cache hit (4 strings, 4 formats)",
        race([expressions("native search", "search({s})", texts, search=native.search),
              expressions("datetime.strptime(s, cached format)", "strptime({s}, {f})", texts, formats,
                          strptime=datetime.datetime.strptime),
              expressions("plain model search", "search({s})", texts, search=model.search)],
             rounds=9))
    report.target(entry, "native cache hit / one strptime call",
                  1 / entry["ratio_to_first"]["datetime.strptime(s, cached format)"], 0.3, False)


def per_string_ratio(text):
    """Plain model time / native time for one successful search on new finders."""
    native, model = calls("native", fresh_native(text)), calls("model", fresh_model(text))
    t_native, t_model = native.run(1), model.run(1)
    if t_model > 0.05:  # slow enough for one side-by-side pair to tell
        return t_model / t_native
    return race([native, model], rounds=5, min_batch=0.002, max_n=200).ratios["model"]


def bench_corpus(report):
    found = corpus.build()
    shared = corpus.shared()
    timed = found
    if len(found) > CORPUS_TIMED:
        step = len(found) / CORPUS_TIMED
        timed = [found[int(i * step)] for i in range(CORPUS_TIMED)]
    with_time = sum(plain_models.anytime_regex.search(t) is not None for t, _ in timed)
    t0 = time.perf_counter()
    ratios = [per_string_ratio(text) for text, _ in timed]
    spent = time.perf_counter() - t0
    median = statistics.median(ratios)
    quart = statistics.quantiles(ratios, n=4)
    entry = {"case": "finder, successful searches over the corpus, new finder each",
             "unit": "ratio", "corpus_size": len(found), "timed": len(timed),
             "timed_with_time_of_day": with_time, "shared_collection": bool(shared),
             "per_string_ratios": dict(zip((t for t, _ in timed), ratios)),
             "median_ratio": median, "quartiles": quart, "seconds": spent, "targets": []}
    report.cases.append(entry)
    print(f"\n{entry['case']}")
    print(f"  corpus: {len(found)} strings the model finds ({'with' if shared else 'without'} the "
          f"shared collection), {len(timed)} timed, {with_time} of them with a time of day")
    print(f"  plain model / native per string: median x{median:.3f}, quartiles "
          f"x{quart[0]:.3f} .. x{quart[2]:.3f}, min x{min(ratios):.3f}, max x{max(ratios):.3f}")
    report.target(entry, "median over strings of plain model / native, successful search",
                  median, 20, True)


# --- the string probes ----------------------------------------------------------

def probe(name):
    try:
        module = importlib.import_module(PROBES[name])
    except ImportError:
        return None
    return getattr(module, name, None)


def floors(strings):
    return [expressions("len(s)", "len({s})", strings),
            expressions("s.strip()", "{s}.strip()", strings)]


def bench_short_probes(report):
    idioms = {
        "isISOT": ("ISO_T.fullmatch(s) is not None", "iso.fullmatch({s}) is not None",
                   {"iso": ISO_T}),
        "replaceZ": ("s[:-1] + '+00:00' if s.endswith('Z') else s",
                     "{s}[:-1] + '+00:00' if {s}.endswith('Z') else {s}", {}),
        "scrubtext": ('" ".join(s.split())', '" ".join({s}.split())', {}),
    }
    for name, (label, template, names) in idioms.items():
        fn = probe(name)
        title = f"{name} on short ASCII strings ({len(SHORT)} strings, 5..40 bytes)"
        if fn is None:
            report.missing(title)
            continue
        entry = report.case(title, race([
            expressions(f"native {name}", "fn({s})", SHORT, fn=fn),
            *floors(SHORT),
            expressions(label, template, SHORT, **names),
            expressions(f"plain model {name}", "fn({s})", SHORT, fn=getattr(plain_models, name)),
        ], rounds=9))
        floor, bound = ("len(s)", 2) if name == "isISOT" else ("s.strip()", 1.5)
        report.target(entry, f"native {name} / {floor}",
                      1 / entry["ratio_to_first"][floor], bound, False)


# --- import ------------------------------------------------------------------------

PRELUDE = "import time, re, datetime, os, sys\n"
# Prints the whole import's time, then each module's share, in MODULES order.
IMPORT_ALL = PRELUDE + (
    "import importlib\n"
    f"clock = [time.perf_counter()]\n"
    f"for name in {MODULES!r}:\n"
    "    importlib.import_module(name)\n"
    "    clock.append(time.perf_counter())\n"
    "print(clock[-1] - clock[0], *(b - a for a, b in zip(clock, clock[1:])))\n")
# The sources travel on stdin, so that this interpreter compiles them as cold
# as the import does: the parser and compiler of `re` get no warm-up run.
COMPILE_ONLY = PRELUDE + (
    "sources = sys.stdin.read().split('\\0')\n"
    "assert len(sources) == 14\n"
    "t0 = time.perf_counter()\n"
    "for src in sources:\n"
    "    re.compile(src, re.IGNORECASE)\n"
    "print(time.perf_counter() - t0)\n")


def pattern_sources():
    from chronvale.reru.pyd import Compiled
    return "\0".join(Compiled.regex_patterns.values())


def in_subprocess(code, stdin=""):
    out = subprocess.run([sys.executable, "-I", "-c", code], capture_output=True, text=True,
                         check=True, input=stdin)
    return [float(x) for x in out.stdout.split()]


def bench_import(report, rounds=15):
    whole, compiling, shares = [], [], []
    sources = pattern_sources()
    for r in range(rounds):
        if r % 2:
            compiling += in_subprocess(COMPILE_ONLY, sources)
        total, *each = in_subprocess(IMPORT_ALL)
        whole.append(total)
        shares.append(each)
        if not r % 2:
            compiling += in_subprocess(COMPILE_ONLY, sources)
    result = Result(rounds=rounds)
    names = ["import of the seven modules", "re.compile of the 14 Compiled sources"]
    for name, values in zip(names, (whole, compiling)):
        result.times[name] = statistics.median(values)
        result.ratios[name] = statistics.median(a / b for a, b in zip(values, whole))
    entry = report.case("import, each in a fresh interpreter", result, unit="",
                        note="re, datetime, os and sys imported beforehand on both sides")
    entry["per_module_seconds"] = {m: statistics.median(s[i] for s in shares)
                                   for i, m in enumerate(MODULES)}
    print("  of which, median per module in this order (zonebook is loaded before Compiled):")
    for module, seconds in entry["per_module_seconds"].items():
        print(f"    {module:44} {_seconds(seconds):>10}")
    report.target(entry, "import of all seven modules / compiling the 14 sources with re",
                  1 / result.ratios[names[1]], 1.2, False)


# --- the run --------------------------------------------------------------------------

def git_commit():
    try:
        head = subprocess.run(["git", "rev-parse", "--short", "HEAD"], cwd=HERE, text=True,
                              capture_output=True, timeout=10)
        dirty = subprocess.run(["git", "status", "--porcelain", "--untracked-files=no"],
                               cwd=HERE, text=True, capture_output=True, timeout=10)
    except (OSError, subprocess.SubprocessError):
        return None
    if head.returncode != 0:
        return None
    return head.stdout.strip() + ("-dirty" if dirty.stdout.strip() else "")


def main():
    started = time.perf_counter()
    commit = git_commit()
    print(f"chronvale benchmarks - Python {platform.python_version()}, {os.cpu_count()} cores, "
          f"commit {commit or 'unknown'}")
    print("Figures are medians of interleaved rounds; ratios are measured side by side.")
    report = Report()
    bench_import(report)
    bench_short_probes(report)
    scrub_bench.run(report)
    bench_cache_hit(report)
    bench_finder_failures(report)
    bench_corpus(report)
    finder_bench.run(report)
    survey_bench.run(report)
    report.summary()
    elapsed = time.perf_counter() - started
    print(f"\ntotal {elapsed:.0f} s")

    stamp = datetime.datetime.now().strftime("%Y%m%d-%H%M%S")
    out = HERE / "results" / f"bench-{stamp}{'-' + commit if commit else ''}.json"
    out.parent.mkdir(exist_ok=True)
    out.write_text(json.dumps({
        "timestamp": stamp, "commit": commit, "python": platform.python_version(),
        "machine": platform.machine(), "cores": os.cpu_count(), "seconds": elapsed,
        "cases": report.cases}, indent=1, ensure_ascii=False) + "\n")
    print(f"written {out.relative_to(HERE.parent)}")


if __name__ == "__main__":
    main()
