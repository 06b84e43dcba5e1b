// The source of the time-of-day pattern, compiled with re.IGNORECASE: a
// clock time (h:mm, h:mm:ss, or six digits) not preceded by a digit, an
// optional fraction, AM/PM and zone, then white space or the end. The
// pattern catalogue and the format finder each compile it into a pattern
// of their own.
#pragma once

constexpr char anytime_source[] =
    R"re((?<!\d)(\d{1,2}:\d{2}(?::\d{2})?|\d{6})(?:\.\d{1,6})?(?:\s*[AP]M)?(?:\s*(?:[+-]\d{2}:?\d{2}|[+-]\d{4}|[A-Z]{3,4}|Z))?(?=\s|$))re";
