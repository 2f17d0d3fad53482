#!/usr/bin/env python3
"""Writes the band-limits files delivered in data/: "Extra Class.bdl" and one "<caption>.bdl" per
licence class of the preferences' band-limit choice.

Source: the US amateur rules. 47 CFR 97.301 gives each licence class's frequency privileges,
97.305 where phone is authorised within them; 97.305(a) authorises CW on every frequency a class
may use. Run from the repository's top folder:

    python3 scripts/make_band_limits.py data

File format (see logbook/core/column_grid_file.h): line 1 the column count (5), line 2 the row
count (14), then the cells column by column, each line ended by CR LF. Row 0 and column 0 are
headings; rows 1-13 are the bands, columns 1-4 phone low, phone high, CW low, CW high, in units of
10 kHz (MHz x 100). The logbook truncates the radio's frequency to those units and counts a bound
as inside, so each unit stands for the 10 kHz that begin at it. A segment is therefore written as
the units that lie wholly inside it: low = ceil(low MHz x 100), high = floor(high MHz x 100) - 1.
The band edge itself then shows as outside (a signal there spills over it anyway), and a bound
between two units errs towards a warning.

Every class is written by the same two rules:
- Phone: the class's phone segment of the band (one in every band these files hold).
- CW: from the lowest to the highest frequency of the class's privileges in the band. Where the
  privileges come in two pieces (General and Advanced on 80, 20 and 15 m, General on 40 m) the
  segment spans the gap between them, since a band has room for one CW segment only: CW anywhere
  in the privileges is inside, and the gap, which only higher classes may use, is not warned
  about in CW (it is in phone).
A band where the class has no segment is written low 1, high 0: no frequency lies in it (not
"0" "0", which would hold every frequency below 10 kHz, such as a radio reporting 0 Hz).

tests/logbook_core/band_limits_test.cpp checks every delivered file against a table of the same
rules written there on its own.
"""

import math
import os
import sys
from decimal import Decimal

BANDS = ["160 m", "80 m", "40 m", "30 m", "20 m", "17 m", "15 m", "12 m", "10 m", "6 m", "2 m",
         "70 cm", "23 cm"]
HEADINGS = ["Band", "Phone Low", "Phone High", "CW Low", "CW High"]

# Per band: the class's privileges (97.301, a list of (low, high) pieces in MHz) and its phone
# segment (97.305, None where it has none).
EXTRA = {
    "160 m": ([("1.800", "2.000")], ("1.800", "2.000")),
    "80 m": ([("3.500", "4.000")], ("3.600", "4.000")),
    "40 m": ([("7.000", "7.300")], ("7.125", "7.300")),
    "30 m": ([("10.100", "10.150")], None),
    "20 m": ([("14.000", "14.350")], ("14.150", "14.350")),
    "17 m": ([("18.068", "18.168")], ("18.110", "18.168")),
    "15 m": ([("21.000", "21.450")], ("21.200", "21.450")),
    "12 m": ([("24.890", "24.990")], ("24.930", "24.990")),
    "10 m": ([("28.000", "29.700")], ("28.300", "29.700")),
    "6 m": ([("50.000", "54.000")], ("50.100", "54.000")),
    "2 m": ([("144.000", "148.000")], ("144.100", "148.000")),
    "70 cm": ([("420.000", "450.000")], ("420.000", "450.000")),
    "23 cm": ([("1240.000", "1300.000")], ("1240.000", "1300.000")),
}

ADVANCED = dict(EXTRA, **{
    "80 m": ([("3.525", "3.600"), ("3.700", "4.000")], ("3.700", "4.000")),
    "40 m": ([("7.025", "7.300")], ("7.125", "7.300")),
    "20 m": ([("14.025", "14.150"), ("14.175", "14.350")], ("14.175", "14.350")),
    "15 m": ([("21.025", "21.200"), ("21.225", "21.450")], ("21.225", "21.450")),
})

GENERAL = dict(EXTRA, **{
    "80 m": ([("3.525", "3.600"), ("3.800", "4.000")], ("3.800", "4.000")),
    "40 m": ([("7.025", "7.125"), ("7.175", "7.300")], ("7.175", "7.300")),
    "20 m": ([("14.025", "14.150"), ("14.225", "14.350")], ("14.225", "14.350")),
    "15 m": ([("21.025", "21.200"), ("21.275", "21.450")], ("21.275", "21.450")),
})

# Technician (and Technician Plus, whose privileges are now the Technician's): the Novice HF
# segments, phone on 10 m only, and every band from 50 MHz up.
TECH = {
    "160 m": ([], None),
    "80 m": ([("3.525", "3.600")], None),
    "40 m": ([("7.025", "7.125")], None),
    "30 m": ([], None),
    "20 m": ([], None),
    "17 m": ([], None),
    "15 m": ([("21.025", "21.200")], None),
    "12 m": ([], None),
    "10 m": ([("28.000", "28.500")], ("28.300", "28.500")),
    "6 m": EXTRA["6 m"],
    "2 m": EXTRA["2 m"],
    "70 cm": EXTRA["70 cm"],
    "23 cm": EXTRA["23 cm"],
}

NOVICE = dict(TECH, **{
    "6 m": ([], None),
    "2 m": ([], None),
    "70 cm": ([], None),
    "23 cm": ([("1270.000", "1295.000")], ("1270.000", "1295.000")),
})

FILES = {
    "Extra Class.bdl": EXTRA,
    "ADVANCED Class.bdl": ADVANCED,
    "GENERAL Class.bdl": GENERAL,
    "TECHPLUS Class.bdl": TECH,
    "TECH Class.bdl": TECH,
    "NOVICE Class.bdl": NOVICE,
}

NO_SEGMENT = ["1", "0"]


def units(segment):
    if segment is None:
        return NO_SEGMENT
    low, high = (Decimal(v) * 100 for v in segment)
    return [str(math.ceil(low)), str(math.floor(high) - 1)]


def cw_segment(privileges):
    if not privileges:
        return None
    return (min(p[0] for p in privileges), max(p[1] for p in privileges))


def grid(plan):
    columns = [["Band"] + BANDS] + [[h] for h in HEADINGS[1:]]
    for band in BANDS:
        privileges, phone = plan[band]
        cw = cw_segment([(Decimal(low), Decimal(high)) for low, high in privileges])
        values = units(phone) + (units((str(cw[0]), str(cw[1]))) if cw else NO_SEGMENT)
        for column, value in zip(columns[1:], values):
            column.append(value)
    return columns


def main():
    folder = sys.argv[1] if len(sys.argv) > 1 else "data"
    for name, plan in FILES.items():
        columns = grid(plan)
        lines = [str(len(columns)), str(len(columns[0]))] + [cell for column in columns for cell in column]
        with open(os.path.join(folder, name), "w", newline="") as out:
            out.write("".join(line + "\r\n" for line in lines))


if __name__ == "__main__":
    main()
