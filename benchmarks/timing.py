"""Side-by-side timing on a noisy machine.

Contenders of one race run in alternating order, batch after batch, so that
they share whatever the machine is doing; each batch gives a time per
operation, each round gives every contender's ratio to the first contender,
and the results are medians over the rounds. Ratios are what to read: the
absolute times drift with the machine's load.
"""
import itertools
import statistics
import time
from dataclasses import dataclass, field

perf_counter = time.perf_counter


@dataclass
class Contender:
    """`run(n)` performs n batches of `ops_per_run` operations and returns the elapsed seconds."""
    name: str
    run: object
    ops_per_run: int = 1


@dataclass
class Result:
    times: dict = field(default_factory=dict)   # name -> median seconds per operation
    ratios: dict = field(default_factory=dict)  # name -> median of (its time / first contender's time)
    rounds: int = 0
    spread: dict = field(default_factory=dict)  # name -> (min, max) of the per-round ratios


def calls(name, fn):
    """A contender that calls fn() once per operation."""
    def run(n):
        t0 = perf_counter()
        for _ in itertools.repeat(None, n):
            fn()
        return perf_counter() - t0
    return Contender(name, run)


def expressions(name, template, strings, formats=(), **names):
    """A contender that evaluates `template` once for each of `strings` per
    run, unrolled, with every name a fast local, so that the loop costs next
    to nothing beside the expression. "{s}" in the template stands for the
    string and "{f}" for the matching entry of `formats`."""
    params = [f"s{i}" for i in range(len(strings))] + [f"f{i}" for i in range(len(formats))]
    body = "\n".join("        " + template.format(s=f"s{i}", f=f"f{i}")
                     for i in range(len(strings)))
    signature = ", ".join(params + [f"{k}={k}" for k in names])
    source = (f"def run(n, {signature}, _repeat=_repeat, _clock=_clock):\n"
              f"    t0 = _clock()\n"
              f"    for _ in _repeat(None, n):\n{body}\n"
              f"    return _clock() - t0\n")
    scope = dict(names, _repeat=itertools.repeat, _clock=perf_counter)
    exec(compile(source, f"<{name}>", "exec"), scope)
    fn = scope["run"]
    values = [*strings, *formats]
    return Contender(name, lambda n: fn(n, *values), len(strings))


def batch_size(contender, min_batch, max_n):
    """How many runs make one batch last at least `min_batch` seconds."""
    n = 1
    while True:
        elapsed = contender.run(n)
        if elapsed >= min_batch or n >= max_n:
            return n
        n = min(max_n, max(n * 2, int(n * min_batch / max(elapsed, 1e-9)) + 1))


def race(contenders, rounds=7, min_batch=0.02, max_n=1_000_000, warmup=True):
    """Interleaved rounds; the first contender is the reference of the ratios."""
    sizes = [batch_size(c, min_batch, max_n) if warmup else 1 for c in contenders]
    per_round = {c.name: [] for c in contenders}
    for r in range(rounds):
        order = list(range(len(contenders)))
        if r % 2:
            order.reverse()
        for i in order:
            c = contenders[i]
            per_round[c.name].append(c.run(sizes[i]) / (sizes[i] * c.ops_per_run))
    result = Result(rounds=rounds)
    first = per_round[contenders[0].name]
    for c in contenders:
        times = per_round[c.name]
        result.times[c.name] = statistics.median(times)
        ratios = [t / f for t, f in zip(times, first)]
        result.ratios[c.name] = statistics.median(ratios)
        result.spread[c.name] = (min(ratios), max(ratios))
    return result
