"""Native modules for date and time text.

The public functions and classes of the modules can be imported from here,
``from chronvale import DateFormatFinder``: each name is the very object of
the module that defines it. That module is imported on first use of one of
its names, so ``import chronvale`` alone loads none of the native modules.
"""

__version__ = "0.1.0"

# Each public name and the module (relative to this package) that defines it.
_HOMES: dict[str, str] = {
    "DateFormatFinder": ".reru.pyd.zududized.patternseek",
    "dFormats": ".reru.pyd.zududized.patternseek",
    "anytime": ".reru.pyd.zududized.patternseek",
    "get_time_components": ".reru.pyd.zududized.patternseek",
    "get_zonebook": ".reru.pyd.zonebook",
    "datetime_regex": ".reru.pyd.Compiled",
    "compile_regex_patterns": ".reru.pyd.Compiled",
    "cRegexps": ".reru.pyd.Compiled",
    "get_time_fragment": ".reru.pyd.Compiled",
    "zero_handling_date_formats": ".reru.pyd.zududized.PadShaper",
    "non_padded_to_zero_padded_specifiers": ".reru.pyd.zududized.PadShaper",
    "has_leading_zero": ".reru.pyd.zududized.PadShaper",
    "date_format_leading_zero": ".reru.pyd.zududized.PadShaper",
    "replace_non_padded_with_padded": ".reru.pyd.zududized.PadShaper",
    "isISOT": ".reru.pyd.zududized.joinmark",
    "replaceZ": ".reru.pyd.zududized.suffixswap",
    "scrubtext": ".reru.pyd.scrub_text",
    "keeps_text": ".reru.pyd.zududized.roundtrip",
    "survey_formats": ".survey",
    "FormatSurvey": ".survey",
}

__all__ = list(_HOMES)


def __getattr__(name: str) -> object:
    """Imports the module behind a public name on first use and binds the name here."""
    # Imported here, so that importing the package imports nothing at all.
    import importlib

    home = _HOMES.get(name)
    if home is None:
        # The package as `obj` lets the interpreter suggest a listed name.
        package = importlib.import_module(__name__)
        raise AttributeError(f"module {__name__!r} has no attribute {name!r}", name=name, obj=package)
    value = getattr(importlib.import_module(home, __name__), name)
    # Bound here, later look-ups never come back to this function.
    globals()[name] = value
    return value


def __dir__() -> list[str]:
    return sorted({*globals(), *__all__})
