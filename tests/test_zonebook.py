import collections
import re

import pytest

from chronvale.reru.pyd import zonebook

BOOK = zonebook.get_zonebook()

# The table's keys in order, as runs of consecutive rows sharing a region.
RUNS = [
    ("Africa Time Zones", "CVT CAT EAT MUT RET SCT SAST WAST WAT WT"),
    ("Pacific Time Zones", "WST"),
    ("Antarctica Time Zones", "CAST DAVT DDUT MAWT ROTT SYOT VOST"),
    ("Asia Time Zones", "AFT ALMT ANAST ANAT AQTT"),
    ("North America Time Zones", "ADT AST"),
    ("South America Time Zones", "AMST AMT"),
    ("Asia Time Zones", "AZST AZT"),
    ("Pacific Time Zones", "BST"),
    ("Asia Time Zones", "BTT BNT WITA"),
    ("North America Time Zones", "CST"),
    ("Asia Time Zones", "CHOT TLT WIT GET"),
    ("South America Time Zones", "GST"),
    ("Asia Time Zones", "HKT HOVT"),
    ("Europe Time Zones", "IST"),
    ("Asia Time Zones", "ICT IRDT IRST IRKST IRKT IDT JST PETST PETT KST KRAST KRAT KGT MAGST "
     "MAGT MYT MVT MMT NPT NOVST NOVT OMST OMSST ORAT PKT PHT QYZT SAKT SGT SRET TJT TMT ULAT "
     "UZT VLAST VLAT WIB YAKST YAKT YEKST YEKT"),
    ("Atlantic Time Zones", "AZOST AZOT"),
    ("Australia Time Zones", "ACDT ACST ACWST AEDT AEST AWDT AWST CXT LHDT LHST NFT"),
    ("Caribbean Time Zones", "CIDST CIST"),
    ("North America Time Zones", "CDT"),
    ("Coordinated Universal Time Zones", "UTC"),
    ("Europe Time Zones", "CEST CET EEST EET FET GMT KUYT MSD MSK SAMT WEST WET"),
    ("Indian Ocean Time Zones", "CCT TFT IOT"),
    ("Military Time Zones", "A B C D E F G H I K L M N O P Q R S T U V W X Y Z"),
    ("North America Time Zones", "AKDT AKST EGT EDT EGST EST HADT HAST MDT MST NDT NST PDT"),
    ("Pacific Time Zones", "PST"),
    ("North America Time Zones", "PMDT PMST WGT WGST"),
    ("Pacific Time Zones", "AOE CHST CHADT CHAST CHUT CKT EAST EASST FJST FJT GALT GAMT GILT "
     "KOST LINT MART MHT NRT NCT NZDT NZST NUT PWT PGT PHOT PONT SST SBT TAHT TKT TOT TVT VUT "
     "WAKT WFT YAPT"),
    ("South America Time Zones", "ACT ART BOT BRST BRT CLT CLST COT ECT FKT FKST FNT GFT GYT "
     "PYST PYT PET SRT UYST UYT VET WARST"),
]

REGION_COUNTS = {
    "Africa Time Zones": 10, "Antarctica Time Zones": 7, "Asia Time Zones": 57,
    "Atlantic Time Zones": 2, "Australia Time Zones": 11, "Caribbean Time Zones": 2,
    "Coordinated Universal Time Zones": 1, "Europe Time Zones": 13, "Indian Ocean Time Zones": 3,
    "Military Time Zones": 25, "North America Time Zones": 21, "Pacific Time Zones": 39,
    "South America Time Zones": 25,
}

PAIRS = ("WAT/WAST ANAT/ANAST AST/ADT AMT/AMST AZT/AZST CST/CDT IRST/IRDT IRKT/IRKST PETT/PETST "
         "KRAT/KRAST MAGT/MAGST NOVT/NOVST OMST/OMSST VLAT/VLAST YAKT/YAKST YEKT/YEKST AZOT/AZOST "
         "ACST/ACDT AEST/AEDT AWST/AWDT LHST/LHDT CIST/CIDST CET/CEST EET/EEST MSK/MSD WET/WEST "
         "AKST/AKDT EST/EDT HAST/HADT MST/MDT NST/NDT PST/PDT PMST/PMDT WGT/WGST CHAST/CHADT "
         "EAST/EASST FJT/FJST NZST/NZDT BRT/BRST CLT/CLST FKT/FKST PYT/PYST UYT/UYST").split()

ONE_WAY = {"WT": ("Standard", "WST"), "GMT": ("Standard", "BST"), "IST": ("Daylight", "GMT"),
           "IDT": ("Daylight", "IST"), "EGST": ("Daylight", "EGT"), "WARST": ("Daylight", "None")}

MILITARY_WORDS = ("Alpha Bravo Charlie Delta Echo Foxtrot Golf Hotel India Kilo Lima Mike November "
                  "Oscar Papa Quebec Romeo Sierra Tango Uniform Victor Whiskey X-ray Yankee Zulu")


def test_keys_follow_the_region_runs_in_table_order():
    expected = [(abbr, region) for region, abbrs in RUNS for abbr in abbrs.split()]
    assert [(abbr, row["region"]) for abbr, row in BOOK.items()] == expected
    assert len(BOOK) == 216


def test_counts_by_region_type_and_counterpart():
    assert collections.Counter(row["region"] for row in BOOK.values()) == REGION_COUNTS
    assert collections.Counter(row["type"] for row in BOOK.values()) == {
        "Daylight": 47, "Standard": 169}
    assert sum(row["dst"] != "None" for row in BOOK.values()) == 91


def test_every_row_is_five_strings_in_field_order():
    for row in BOOK.values():
        assert list(row) == ["full_name", "region", "offset", "type", "dst"]
        assert all(type(value) is str and value for value in row.values())
        assert re.fullmatch(r"UTC [+-](?:[0-9]|1[0-4]):(?:00|30|45)", row["offset"])
        assert row["offset"] != "UTC -0:00"
        # The pattern catalogue joins the names into a regular expression unescaped.
        assert re.fullmatch(r"[A-Za-z &'-]+", row["full_name"])


def test_reciprocal_pairs():
    for pair in PAIRS:
        standard, daylight = pair.split("/")
        assert (BOOK[standard]["type"], BOOK[standard]["dst"]) == ("Standard", daylight)
        assert (BOOK[daylight]["type"], BOOK[daylight]["dst"]) == ("Daylight", standard)


def test_one_way_counterparts_and_unpaired_rows():
    for abbr, type_and_dst in ONE_WAY.items():
        assert (BOOK[abbr]["type"], BOOK[abbr]["dst"]) == type_and_dst
    paired = {abbr for pair in PAIRS for abbr in pair.split("/")} | set(ONE_WAY)
    for abbr in BOOK.keys() - paired:
        assert (BOOK[abbr]["type"], BOOK[abbr]["dst"]) == ("Standard", "None"), abbr


def test_military_rows_follow_their_rule():
    offsets = [f"+{h}" for h in range(1, 13)] + [f"-{h}" for h in range(1, 13)] + ["+0"]
    for letter, word, offset in zip("ABCDEFGHIKLMNOPQRSTUVWXYZ", MILITARY_WORDS.split(), offsets):
        assert BOOK[letter] == {"full_name": f"{word} Time Zone", "region": "Military Time Zones",
                                "offset": f"UTC {offset}:00", "type": "Standard", "dst": "None"}


@pytest.mark.parametrize("abbr, full_name, offset", [
    ("DDUT", "Dumont-d'Urville Time", "UTC +10:00"),
    ("ACWST", "Australian Central Western Standard Time", "UTC +8:45"),
    ("PMDT", "Pierre & Miquelon Daylight Time", "UTC -2:00"),
    ("NPT", "Nepal Time", "UTC +5:45"),
    ("CHADT", "Chatham Island Daylight Time", "UTC +13:45"),
    ("LINT", "Line Islands Time", "UTC +14:00"),
    ("AOE", "Anywhere on Earth", "UTC -12:00"),
    ("GMT", "Greenwich Mean Time", "UTC +0:00"),
    ("MAGT", "Magadan Time", "UTC +10:00"),
    ("MAGST", "Magadan Summer Time", "UTC +12:00"),
])
def test_row_texts(abbr, full_name, offset):
    assert (BOOK[abbr]["full_name"], BOOK[abbr]["offset"]) == (full_name, offset)


@pytest.mark.parametrize("standard, daylight", [
    ("ANAT", "ANAST"), ("PETT", "PETST"), ("NOVT", "NOVST"), ("CLT", "CLST")])
def test_pairs_sharing_an_offset(standard, daylight):
    assert BOOK[standard]["offset"] == BOOK[daylight]["offset"]


def test_lookups_are_exact():
    assert "J" not in BOOK and "est" not in BOOK and "EST" in BOOK
    assert list(BOOK["Z"].items()) == [
        ("full_name", "Zulu Time Zone"), ("region", "Military Time Zones"),
        ("offset", "UTC +0:00"), ("type", "Standard"), ("dst", "None")]


def test_every_call_builds_a_fresh_dictionary():
    first, second = zonebook.get_zonebook(), zonebook.get_zonebook()
    assert first == second == zonebook.zonebook_dict
    assert first is not second and first is not zonebook.zonebook_dict
    assert all(first[k] is not second[k] for k in first)
    first["EST"]["offset"] = "changed"
    del first["UTC"]
    assert second["EST"]["offset"] == zonebook.zonebook_dict["EST"]["offset"] == "UTC -5:00"
    assert "UTC" in second and "UTC" in zonebook.zonebook_dict


def test_changes_to_zonebook_dict_do_not_reach_get_zonebook(monkeypatch):
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
    ((), {"x": 1}, "get_zonebook() takes no keyword arguments"),
])
def test_get_zonebook_takes_no_arguments(args, kwargs, message):
    with pytest.raises(TypeError) as info:
        zonebook.get_zonebook(*args, **kwargs)
    assert str(info.value) == message
