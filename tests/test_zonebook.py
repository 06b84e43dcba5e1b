import collections
import hashlib
import json
import re

import pytest

from chronvale.reru.pyd import zonebook

BOOK = zonebook.get_zonebook()

# Rows whose counterpart does not point back: abbreviation -> (type, dst).
ONE_WAY = {"WT": ("Standard", "WST"), "GMT": ("Standard", "BST"), "IST": ("Daylight", "GMT"),
           "IDT": ("Daylight", "IST"), "EGST": ("Daylight", "EGT"), "WARST": ("Daylight", "None")}

MILITARY_WORDS = ("Alpha Bravo Charlie Delta Echo Foxtrot Golf Hotel India Kilo Lima Mike November "
                  "Oscar Papa Quebec Romeo Sierra Tango Uniform Victor Whiskey X-ray Yankee Zulu")


def test_the_whole_table_in_order():
    # Every key, row and text in table order, pinned by a digest of the whole table; the
    # tests below state the rules the rows follow.
    digest = hashlib.sha256(json.dumps(list(BOOK.items())).encode()).hexdigest()
    assert digest == "6c9dc69be4117c39c54e0c6bb2ee88097a6faf8c138361451ca6e4dc8d4e003b"
    assert (len(BOOK), list(BOOK)[0], list(BOOK)[-1]) == (216, "CVT", "WARST")
    assert collections.Counter(row["region"] for row in BOOK.values()) == {
        "Africa Time Zones": 10, "Antarctica Time Zones": 7, "Asia Time Zones": 57,
        "Atlantic Time Zones": 2, "Australia Time Zones": 11, "Caribbean Time Zones": 2,
        "Coordinated Universal Time Zones": 1, "Europe Time Zones": 13, "Indian Ocean Time Zones": 3,
        "Military Time Zones": 25, "North America Time Zones": 21, "Pacific Time Zones": 39,
        "South America Time Zones": 25}
    assert collections.Counter(row["type"] for row in BOOK.values()) == {"Daylight": 47, "Standard": 169}
    assert sum(row["dst"] != "None" for row in BOOK.values()) == 91


def test_every_row_is_five_strings_in_field_order():
    for abbr, row in BOOK.items():
        assert re.fullmatch("[A-Z]{1,5}", abbr)
        assert list(row) == ["full_name", "region", "offset", "type", "dst"]
        assert all(type(value) is str and value for value in row.values())
        assert re.fullmatch(r"UTC [+-](?:[0-9]|1[0-4]):(?:00|30|45)", row["offset"])
        assert row["offset"] != "UTC -0:00"
        # The pattern catalogue joins the names into a regular expression unescaped.
        assert re.fullmatch(r"[A-Za-z &'-]+", row["full_name"])


def test_counterparts_point_back_except_six_rows():
    paired = 0
    for abbr, row in BOOK.items():
        if abbr in ONE_WAY:
            assert (row["type"], row["dst"]) == ONE_WAY[abbr]
        elif row["dst"] == "None":
            assert row["type"] == "Standard", abbr
        else:
            other = BOOK[row["dst"]]
            assert other["dst"] == abbr and {row["type"], other["type"]} == {"Standard", "Daylight"}
            paired += 1
    assert paired == 2 * 43


def test_military_rows_follow_their_rule():
    offsets = [f"+{h}" for h in range(1, 13)] + [f"-{h}" for h in range(1, 13)] + ["+0"]
    for letter, word, offset in zip("ABCDEFGHIKLMNOPQRSTUVWXYZ", MILITARY_WORDS.split(), offsets):
        assert BOOK[letter] == {"full_name": f"{word} Time Zone", "region": "Military Time Zones",
                                "offset": f"UTC {offset}:00", "type": "Standard", "dst": "None"}


@pytest.mark.parametrize("abbr, full_name, offset", [
    ("DDUT", "Dumont-d'Urville Time", "UTC +10:00"),
    ("ACWST", "Australian Central Western Standard Time", "UTC +8:45"),
    ("PMDT", "Pierre & Miquelon Daylight Time", "UTC -2:00"),
    ("NPT", "Nepal Time", "UTC +5:45"), ("CHADT", "Chatham Island Daylight Time", "UTC +13:45"),
    ("LINT", "Line Islands Time", "UTC +14:00"), ("AOE", "Anywhere on Earth", "UTC -12:00"),
    ("GMT", "Greenwich Mean Time", "UTC +0:00"), ("MAGT", "Magadan Time", "UTC +10:00"),
    ("MAGST", "Magadan Summer Time", "UTC +12:00"), ("IST", "Irish Standard Time", "UTC +1:00"),
])
def test_row_texts(abbr, full_name, offset):
    assert (BOOK[abbr]["full_name"], BOOK[abbr]["offset"]) == (full_name, offset)


def test_documented_lookups():
    assert "J" not in BOOK and "est" not in BOOK and "EST" in BOOK
    assert list(BOOK["Z"].items()) == [
        ("full_name", "Zulu Time Zone"), ("region", "Military Time Zones"),
        ("offset", "UTC +0:00"), ("type", "Standard"), ("dst", "None")]
    for standard, daylight in (("ANAT", "ANAST"), ("PETT", "PETST"), ("NOVT", "NOVST"), ("CLT", "CLST")):
        assert BOOK[standard]["offset"] == BOOK[daylight]["offset"]
    assert [BOOK[a]["dst"] for a in ("IDT", "IST", "GMT", "BST")] == ["IST", "GMT", "BST", "None"]
    assert (BOOK["PST"]["region"], BOOK["PDT"]["region"]) == ("Pacific Time Zones", "North America Time Zones")


def test_every_call_builds_a_fresh_dictionary(monkeypatch):
    first, second = zonebook.get_zonebook(), zonebook.get_zonebook()
    assert first == second == zonebook.zonebook_dict
    assert first is not second and first is not zonebook.zonebook_dict
    assert all(first[k] is not second[k] for k in first)
    first["EST"]["offset"] = "changed"
    del first["UTC"]
    assert second["EST"]["offset"] == zonebook.zonebook_dict["EST"]["offset"] == "UTC -5:00"
    assert "UTC" in second and "UTC" in zonebook.zonebook_dict
    monkeypatch.setitem(zonebook.zonebook_dict, "XYZ", {})
    assert "XYZ" not in zonebook.get_zonebook()


def test_module_surface():
    assert zonebook.__doc__ is None
    assert zonebook.__all__ == ["zonebook_dict"]
    namespace = {}
    exec("from chronvale.reru.pyd.zonebook import *", namespace)
    assert set(namespace) - {"__builtins__"} == {"zonebook_dict"}
    fn = zonebook.get_zonebook
    assert (fn.__name__, fn.__qualname__, fn.__module__, fn.__doc__) == (
        "get_zonebook", "get_zonebook", "chronvale.reru.pyd.zonebook", None)


@pytest.mark.parametrize("args, kwargs, message", [
    ((1,), {}, "get_zonebook() takes no arguments (1 given)"),
    ((1, 2), {}, "get_zonebook() takes no arguments (2 given)"),
    ((), {"x": 1}, "get_zonebook() takes no keyword arguments"),
])
def test_get_zonebook_takes_no_arguments(args, kwargs, message):
    with pytest.raises(TypeError) as info:
        zonebook.get_zonebook(*args, **kwargs)
    assert str(info.value) == message
