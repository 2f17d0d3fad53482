#!/usr/bin/env python3
"""Writes the band-limits files delivered in data/: "Extra Class.bdl" and one "<caption>.bdl" per
licence class of the preferences' band-limit choice.

Source: the US amateur band plan as the public rules give it (47 CFR 97.301 for the frequency
privileges of each licence class, 97.305 for where phone is authorised; CW is authorised wherever
the class may transmit). Run from the repository's top folder:

    python3 scripts/make_band_limits.py data

File format (see logbook/core/column_grid_file.h): line 1 the column count (5), line 2 the row
count (14), then the cells column by column, each line ended by CR LF. Row 0 and column 0 are
headings; rows 1-13 are the bands, columns 1-4 phone low, phone high, CW low, CW high, in units of
10 kHz (MHz x 100). The logbook truncates the radio's frequency to those units and counts a bound
as inside, so each unit stands for the 10 kHz that begin at it. A segment is therefore written as
the units that lie wholly inside it: low = ceil(low MHz x 100), high = floor(high MHz x 100) - 1.
The band edge itself then shows as outside (a signal there spills over it anyway), and a bound
between two units errs towards a warning, never towards silence.

Only one phone and one CW segment fit a band. Where a class holds two CW pieces of a band (General
and Advanced on 80, 20 and 15 m, General on 40 m) the lower one, the CW sub-band, is written;
CW in the upper, phone piece then shows as outside. A band the class may not use at all, and phone
on 30 m, are written as 0 0: no frequency a radio reports truncates to 0.
"""

import math
import os
import sys
from decimal import Decimal

BANDS = ["160 m", "80 m", "40 m", "30 m", "20 m", "17 m", "15 m", "12 m", "10 m", "6 m", "2 m",
         "70 cm", "23 cm"]
HEADINGS = ["Band", "Phone Low", "Phone High", "CW Low", "CW High"]

# (phone low, phone high), (CW low, CW high) in MHz per band, None where the class has none.
EXTRA = {
    "160 m": (("1.800", "2.000"), ("1.800", "2.000")),
    "80 m": (("3.600", "4.000"), ("3.500", "4.000")),
    "40 m": (("7.125", "7.300"), ("7.000", "7.300")),
    "30 m": (None, ("10.100", "10.150")),
    "20 m": (("14.150", "14.350"), ("14.000", "14.350")),
    "17 m": (("18.110", "18.168"), ("18.068", "18.168")),
    "15 m": (("21.200", "21.450"), ("21.000", "21.450")),
    "12 m": (("24.930", "24.990"), ("24.890", "24.990")),
    "10 m": (("28.300", "29.700"), ("28.000", "29.700")),
    "6 m": (("50.100", "54.000"), ("50.000", "54.000")),
    "2 m": (("144.100", "148.000"), ("144.000", "148.000")),
    "70 cm": (("420.000", "450.000"), ("420.000", "450.000")),
    "23 cm": (("1240.000", "1300.000"), ("1240.000", "1300.000")),
}

ADVANCED = dict(EXTRA, **{
    "80 m": (("3.700", "4.000"), ("3.525", "3.600")),
    "40 m": (("7.125", "7.300"), ("7.025", "7.300")),
    "20 m": (("14.175", "14.350"), ("14.025", "14.150")),
    "15 m": (("21.225", "21.450"), ("21.025", "21.200")),
})

GENERAL = dict(EXTRA, **{
    "80 m": (("3.800", "4.000"), ("3.525", "3.600")),
    "40 m": (("7.175", "7.300"), ("7.025", "7.125")),
    "20 m": (("14.225", "14.350"), ("14.025", "14.150")),
    "15 m": (("21.275", "21.450"), ("21.025", "21.200")),
})

# Technician (and Technician Plus, whose privileges are now the Technician's): the Novice HF
# segments, phone on 10 m only, and every band from 50 MHz up.
TECH = {
    "160 m": (None, None),
    "80 m": (None, ("3.525", "3.600")),
    "40 m": (None, ("7.025", "7.125")),
    "30 m": (None, None),
    "20 m": (None, None),
    "17 m": (None, None),
    "15 m": (None, ("21.025", "21.200")),
    "12 m": (None, None),
    "10 m": (("28.300", "28.500"), ("28.000", "28.500")),
    "6 m": EXTRA["6 m"],
    "2 m": EXTRA["2 m"],
    "70 cm": EXTRA["70 cm"],
    "23 cm": EXTRA["23 cm"],
}

NOVICE = dict(TECH, **{
    "6 m": (None, None),
    "2 m": (None, None),
    "70 cm": (None, None),
    "23 cm": (("1270.000", "1295.000"), ("1270.000", "1295.000")),
})

FILES = {
    "Extra Class.bdl": EXTRA,
    "ADVANCED Class.bdl": ADVANCED,
    "GENERAL Class.bdl": GENERAL,
    "TECHPLUS Class.bdl": TECH,
    "TECH Class.bdl": TECH,
    "NOVICE Class.bdl": NOVICE,
}


def units(segment):
    if segment is None:
        return ["0", "0"]
    low, high = (Decimal(v) * 100 for v in segment)
    return [str(math.ceil(low)), str(math.floor(high) - 1)]


def grid(plan):
    columns = [["Band"] + BANDS] + [[h] for h in HEADINGS[1:]]
    for band in BANDS:
        phone, cw = plan[band]
        for column, value in zip(columns[1:], units(phone) + units(cw)):
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
