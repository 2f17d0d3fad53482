#!/usr/bin/env python3
"""Writes data/ding.wav, the band-limit warning: a short bell-like tone made here from sine waves
(a 1320 Hz partial with two quieter overtones, a 5 ms rise and an exponential decay), 0.4 s of
16-bit mono PCM at 22050 Hz. Deterministic: the same bytes on every run. Run from the repository's
top folder:

    python3 scripts/make_ding.py data/ding.wav
"""

import math
import struct
import sys
import wave

RATE = 22050
SECONDS = 0.4
PARTIALS = [(1320.0, 1.0), (2640.0, 0.35), (3960.0, 0.12)]  # frequency in Hz, relative level
PEAK = 0.6  # of full scale, leaving room for the desktop's own mixing


def samples():
    count = int(RATE * SECONDS)
    rise = int(RATE * 0.005)
    total = sum(level for _, level in PARTIALS)
    for n in range(count):
        t = n / RATE
        envelope = min(1.0, n / rise) * math.exp(-t * 9.0)
        value = sum(level * math.sin(2 * math.pi * freq * t) for freq, level in PARTIALS) / total
        yield int(round(value * envelope * PEAK * 32767))


def main():
    path = sys.argv[1] if len(sys.argv) > 1 else "data/ding.wav"
    with wave.open(path, "wb") as out:
        out.setnchannels(1)
        out.setsampwidth(2)
        out.setframerate(RATE)
        out.writeframes(b"".join(struct.pack("<h", s) for s in samples()))


if __name__ == "__main__":
    main()
