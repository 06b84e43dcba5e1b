"""Plain Python models of chronvale's algorithms, written for clarity, not speed.

They are the reference of the sameness tests and the yardstick of the
benchmarks (which import them from here): each does exactly what the native
code is meant to do, step by step, with one `strptime` call per format
candidate in the finder. The finder's catalogue lists come from the native
`dFormats`, so both sides always try the same formats.
"""
import contextlib
import datetime
import re

from chronvale.reru.pyd.zududized.patternseek import dFormats

# Looked up at each attempt, so a test can rebind it (as it rebinds the
# native module's attribute of the same name).
py_datetime = datetime.datetime

ANYTIME_SOURCE = (r"(?<!\d)(\d{1,2}:\d{2}(?::\d{2})?|\d{6})(?:\.\d{1,6})?(?:\s*[AP]M)?"
                  r"(?:\s*(?:[+-]\d{2}:?\d{2}|[+-]\d{4}|[A-Z]{3,4}|Z))?(?=\s|$)")
anytime_regex = re.compile(ANYTIME_SOURCE, re.IGNORECASE)

SEPARATORS = ["/", ".", "-", " ", ""]
NOT_FOUND = "No matching format found for the given date string."
NOT_FOUND_WITH_TIME = "No matching format found for the given date string with time components."
NOT_NONE = "cannot pass None into a C function argument that is declared 'not None'"


class PlainFinder:
    """The format finder: cache, then date x time x separator, then date and stand-alone formats."""

    successful_formats = {}
    historical_formats = set()

    def __init__(self, old_sep="/"):
        formats = dFormats()
        self.date_formats = formats.Dates()
        self.time_formats = formats.Times()
        self.unique_formats = formats.Unique()
        self.separators = list(SEPARATORS)
        self.old_sep = old_sep
        self.seen_formats = set()
        self.precomputed_formats = self._precompute_formats()

    @staticmethod
    def clear_cache():
        PlainFinder.successful_formats.clear()
        PlainFinder.historical_formats.clear()

    def _precompute_formats(self):
        combined = self.date_formats + self.unique_formats
        count, separators = len(combined), len(self.separators)
        result = []
        for i in range(count):
            entry = combined[i]
            result.append(entry)
            for j in range(separators):
                variant = entry.replace(self.old_sep, self.separators[j])
                if variant not in result:
                    result.append(variant)
        return result

    def _attempt(self, date_string, fmt):
        """generate_formats for one candidate: the format when it parses, else None."""
        try:
            py_datetime.strptime(date_string, fmt)
        except ValueError:
            return None
        PlainFinder.historical_formats.add(fmt)
        return fmt

    def _walk(self, formats, date_string):
        """Every position of `formats` (the length taken once), skipping known failures."""
        for i in range(len(formats)):
            fmt = formats[i]
            if fmt in self.seen_formats:
                continue
            if self._attempt(date_string, fmt):
                return fmt
            self.seen_formats.add(fmt)
        return None

    def _try_formats(self, candidates, date_string):
        date_string.encode()
        found = self._walk(candidates, date_string)
        if found is None:
            found = self._walk(self.precomputed_formats, date_string)
        return found

    def search(self, date_string):
        if date_string in PlainFinder.successful_formats:
            cached = PlainFinder.successful_formats[date_string]
            date_string.encode()
            if self._attempt(date_string, cached):
                return cached
            del PlainFinder.successful_formats[date_string]
            PlainFinder.historical_formats.add(cached)

        if date_string is None:
            raise TypeError(NOT_NONE)
        if anytime_regex.search(date_string):
            for d in self.date_formats:
                for t in self.time_formats:
                    for sep in self.separators:
                        candidate = d.replace(self.old_sep, sep) + " " + t
                        date_string.encode()
                        if self._attempt(date_string, candidate):
                            PlainFinder.successful_formats[date_string] = candidate
                            return candidate
            raise ValueError(NOT_FOUND_WITH_TIME)

        found = self._try_formats(self.date_formats, date_string)
        if not found:
            found = self._try_formats(self.unique_formats, date_string)
            if not found:
                raise ValueError(NOT_FOUND)
        PlainFinder.successful_formats[date_string] = found
        return found


@contextlib.contextmanager
def roomy_re_cache(size=8192):
    """Let `re` keep every pattern it compiles, so that a failing search with a
    time of day (over 2,000 distinct strptime formats) costs tens of
    milliseconds instead of recompiling nearly every format. Answers do not
    change, only their cost; the cache is emptied on the way out."""
    saved = re._MAXCACHE
    re._MAXCACHE = size
    try:
        yield
    finally:
        re._MAXCACHE = saved
        re.purge()


# --- the string probes, on the UTF-8 bytes up to the first NUL ---------------

def _c_bytes(text):
    data = text.encode("utf-8")
    return data.split(b"\0", 1)[0]


def _atoi(field):
    """C's atoi: leading white space, one sign, then digits up to the first other byte."""
    field = field.lstrip(b" \t\n\v\f\r")
    sign = 1
    if field[:1] in (b"+", b"-"):
        sign = -1 if field[:1] == b"-" else 1
        field = field[1:]
    digits = b""
    for b in field:
        if not 0x30 <= b <= 0x39:
            break
        digits += bytes([b])
    return sign * int(digits) if digits else 0


def _valid_date(year, month, day):
    if not 1 <= month <= 12:
        return False
    lengths = [31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31]
    if month == 2 and (year % 4 == 0 and year % 100 != 0 or year % 400 == 0):
        return 1 <= day <= 29
    return 1 <= day <= lengths[month - 1]


def _basic_layout(s):
    n = len(s)
    if n < 15 or s[8:9] != b"T":
        return False
    year, month, day = _atoi(s[0:4]), _atoi(s[4:6]), _atoi(s[6:8])
    hour, minute, second = _atoi(s[9:11]), _atoi(s[11:13]), _atoi(s[13:15])
    if not (_valid_date(year, month, day) and 0 <= hour <= 23
            and 0 <= minute <= 59 and 0 <= second <= 59):
        return False
    p = 19 if s[15:16] == b"." else 15
    c = s[p:p + 1]
    expected = p + 1 if c == b"Z" else p + 5 if c in (b"+", b"-") else p
    return n == expected


def _digits(s, *positions):
    return all(s[i:i + 1].isdigit() for i in positions)


def _extended_layout(s):
    n = len(s)
    if n < 16:
        return False
    if not (_digits(s, 0, 1, 2, 3, 5, 6, 8, 9, 11, 12, 14, 15)
            and s[4:5] == b"-" and s[7:8] == b"-" and s[10:11] == b"T" and s[13:14] == b":"):
        return False
    year, month, day = int(s[0:4]), int(s[5:7]), int(s[8:10])
    hour, minute = int(s[11:13]), int(s[14:16])
    if not _valid_date(year, month, day):
        return False
    if s[16:17] == b":":
        if n < 19 or not _digits(s, 17, 18):
            return False
        if hour > 23 or minute > 59 or int(s[17:19]) > 59:
            return False
        p = 19
        if s[19:20] == b".":
            p = 20
            while s[p:p + 1].isdigit():
                p += 1
    else:
        if hour > 23 or minute > 59:
            return False
        p = 16
    if s[p:p + 1] == b"Z":
        p += 1
    if s[p:p + 1] in (b"+", b"-"):
        if not (_digits(s, p + 1, p + 2, p + 4, p + 5) and s[p + 3:p + 4] == b":"):
            return False
        p += 6
    return p == n


def isISOT(date_string):
    s = _c_bytes(date_string)
    if b"T" not in s:
        return False
    return _basic_layout(s) or _extended_layout(s)


def replaceZ(datetime_string):
    s = _c_bytes(datetime_string)
    if s.endswith(b"Z"):
        s = s[:-1] + b"+00:00"
    return s.decode("utf-8")


def scrubtext(input_string):
    s = _c_bytes(input_string)
    out = bytearray()
    space = False
    started = False
    for b in s:
        if b in b" \t\n\v\f\r":
            if started and not space:
                out.append(0x20)
            space = True
        else:
            out.append(b)
            space = False
            started = True
    if out and out[-1] == 0x20:
        del out[-1]
    return out.decode("utf-8")
