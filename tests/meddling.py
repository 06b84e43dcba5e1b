"""Python code inside genuine strptime calls, for the finder's tests.

A monitoring callback at the start of each call of strptime's own
`_strptime` function runs while nothing of strptime's machinery is
replaced, so the finder's verdicts stay in force around it.
"""
import _strptime
import contextlib
import locale
import sys

MONITOR = sys.monitoring
TOOL = 4


@contextlib.contextmanager
def on_each_call(callback):
    """Calls callback(fmt) at the start of every genuine strptime call."""
    MONITOR.use_tool_id(TOOL, "chronvale tests")
    code = _strptime._strptime.__code__

    def started(_code, _offset):
        callback(sys._getframe(1).f_locals.get("format"))

    MONITOR.register_callback(TOOL, MONITOR.events.PY_START, started)
    MONITOR.set_local_events(TOOL, code, MONITOR.events.PY_START)
    try:
        yield
    finally:
        MONITOR.set_local_events(TOOL, code, 0)
        MONITOR.register_callback(TOOL, MONITOR.events.PY_START, None)
        MONITOR.free_tool_id(TOOL)


def available_time_locales():
    saved = locale.setlocale(locale.LC_TIME)
    found = []
    for name in ("C", "C.UTF-8", "POSIX"):
        try:
            locale.setlocale(locale.LC_TIME, name)
            found.append(name)
        except locale.Error:
            pass
    locale.setlocale(locale.LC_TIME, saved)
    return found


@contextlib.contextmanager
def time_locale(name):
    """LC_TIME set to `name` (strptime's cache made for it), then put back."""
    import datetime
    saved = locale.setlocale(locale.LC_TIME)
    try:
        locale.setlocale(locale.LC_TIME, name)
        datetime.datetime.strptime("1", "%d")
        yield
    finally:
        locale.setlocale(locale.LC_TIME, saved)
