#!/usr/bin/env python3
"""Writes the seed corpus of the fuzz host: short, meaningful host sessions.

Each seed is a little program of host operations in the byte format that
fuzz_host.cpp reads (every field little-endian, read front to back):

  0 make       index-sel kind-sel length:u16
  1 dispatch   slot opcode-sel index:i32 value:i32 rate-sel pointer-sel pincount-sel
  2 event      slot type-sel param0:i32 status-sel short:u16 pin-sel clock:u16
  3 process    slot shape offset:u16 count:u16 refill [recipes...] [two shifts when shape says so]
  4 set clock  clock-sel
  5 properties index-sel

A selector byte below the length of the matching table in fuzz_host.cpp picks
from the table; 0xFF reads a raw 32-bit value instead. Usage:
  make_seeds.py [corpus-directory]   (default: the corpus/ folder beside it)
"""
import os
import struct
import sys

# Table positions used below (see the tables in fuzz_host.cpp).
OPEN, CLOSE, RATE, BLOCK, PINPROPS, NOTIFY, MESSAGE, PROCINFO = 0, 2, 3, 5, 6, 8, 9, 10
RATE_44100, RATE_48000, RATE_96000, RATE_0, RATE_NEG0, RATE_NEG, RATE_NAN, RATE_INF = range(8)
RATE_NEG_INF, RATE_1E38, RATE_MAX, RATE_DENORMAL, RATE_TINY, RATE_1 = 8, 9, 10, 11, 12, 13
PINS_24, PINS_0, PINS_NEG, PINS_1, PINS_2, PINS_23, PINS_25, PINS_40, PINS_1000, PINS_HUGE = (
    0, 3, 4, 5, 6, 7, 8, 9, 10, 11)
EV_STATUS, EV_DATA, EV_CALL, EV_OTHER = 0, 3, 4, 5
ST_0, ST_1, ST_2, ST_NEG = 0, 1, 2, 6
PIN_IN1, PIN_IN2, PIN_OUT1, PIN_TYPE1, PIN_NEG, PIN_24, PIN_30, PIN_39 = 0, 1, 4, 7, 9, 10, 11, 12
CLOCK_0, CLOCK_NEAR_WRAP, CLOCK_NEG100, CLOCK_MIN, CLOCK_NEG1 = range(5)

# Float selectors (kSpecialFloats).
F_ZERO, F_NEG_ZERO, F_ONE, F_MINUS_ONE, F_HALF, F_QUARTER, F_100 = 0, 1, 2, 3, 4, 5, 6
F_1000, F_MINUS_1000, F_1E_20, F_DENORMAL, F_FLT_MIN, F_FLT_MAX = 8, 9, 10, 12, 13, 14
F_INF, F_NEG_INF, F_NAN, F_1E30, F_3_7, F_6, F_8 = 16, 17, 18, 20, 22, 23, 24


def u8(v):
    return struct.pack("<B", v & 0xFF)


def u16(v):
    return struct.pack("<H", v & 0xFFFF)


def i32(v):
    return struct.pack("<i", v)


def make(length=256, index_sel=0, kind_sel=0):
    return u8(0) + u8(index_sel) + u8(kind_sel) + u16(length)


def dispatch(opcode_sel, index=0, value=0, rate_sel=RATE_48000, pointer=1, pins=PINS_24, slot=0):
    return u8(1) + u8(slot) + u8(opcode_sel) + i32(index) + i32(value) + u8(rate_sel) + u8(pointer) + u8(pins)


def event(type_sel, status_sel=ST_2, pin_sel=PIN_IN1, clock=0, param0=0, short=0, slot=0):
    return (u8(2) + u8(slot) + u8(type_sel) + i32(param0) + u8(status_sel) + u16(short) + u8(pin_sel)
            + u16(clock))


def constant(selector_bytes):
    """Recipe 1: one value throughout."""
    return u8(1) + selector_bytes


def sine(step, amplitude):
    return u8(3) + u16(step) + u8(amplitude)


def control(kind, raw):
    """A control value in the control's own ordinary scale (selector < 96)."""
    if kind == 0:
        return u8(0) + u16(raw)
    return u8(0) + u8(raw)


def special(selector):
    return u8(selector)


def control_special(selector):
    """A special float on a control buffer (selector 96 and up reads a float selector)."""
    return u8(96) + u8(selector)


def band_controls(freq, gain, width, ftype):
    """Recipes for one band's Freq, Gain, Q, Type buffers, each constant."""
    return (constant(control(0, freq)) + constant(control(1, gain)) + constant(control(2, width))
            + constant(control(3, ftype)))


# Where the outputs lie (upper bits of the shape byte; see Alias in fuzz_host.cpp).
IN_PLACE, CROSSED, SHARED_OUTPUT, SHIFTED = 4 << 4, 5 << 4, 6 << 4, 7 << 4


def process(offset, count, inputs=None, controls=None, bands=0x1F, outputs=None, slot=0, shape=0,
            shifts=b""):
    refill = (1 if inputs else 0) | (2 if controls else 0) | (4 if outputs else 0)
    data = u8(3) + u8(slot) + u8(shape) + u16(offset) + u16(count) + u8(refill)
    if inputs:
        data += inputs
    if controls:
        data += u8(bands) + controls
    if outputs:
        data += outputs
    return data + shifts


def set_clock(selector):
    return u8(4) + u8(selector)


def properties(index_sel):
    return u8(5) + u8(index_sel)


def flat_bands():
    # Peaking at 0 dB everywhere: the host's defaults.
    return b"".join(band_controls(32 * 100, 0, 19, 7) for _ in range(5))


def all_types():
    # Band k gets type k (selector value = type + 1), band 5 a shelf.
    return b"".join(band_controls(32 * (100 + 300 * k), 24, 7, t + 1)
                    for k, t in enumerate((0, 2, 4, 6, 8)))


def music_inputs():
    return sine(900, 200) + sine(1300, 255)


SEEDS = {
    "startup_and_close": make() + properties(0) + properties(3) + dispatch(RATE, rate_sel=RATE_48000)
    + dispatch(BLOCK, value=256) + dispatch(OPEN) + dispatch(CLOSE),
    "pin_descriptions": make() + b"".join(dispatch(PINPROPS, index=i) for i in (0, 5, 22, 23, 24, -1))
    + dispatch(PINPROPS, index=3, pointer=0) + dispatch(PROCINFO),
    "process_before_open": make(128) + process(0, 128, inputs=music_inputs()),
    "flat_music": make(512) + dispatch(RATE, rate_sel=RATE_48000) + dispatch(OPEN)
    + process(0, 512, inputs=music_inputs(), controls=flat_bands())
    + process(100, 300) + process(0, 512),
    "every_type": make(1024) + dispatch(RATE, rate_sel=RATE_44100) + dispatch(OPEN)
    + process(0, 1024, inputs=music_inputs(), controls=all_types())
    + process(3, 1000) + process(0, 1024),
    "offsets_and_counts": make(300) + dispatch(OPEN) + process(0, 0, inputs=music_inputs(), controls=flat_bands())
    + process(299, 1) + process(0, 1) + process(17, 33) + process(0, 0, shape=15) + process(150, 150),
    "nan_burst_then_clean": make(512) + dispatch(OPEN)
    + process(0, 512, inputs=music_inputs(), controls=all_types())
    + process(0, 64, inputs=constant(special(F_NAN)) + constant(special(F_ONE)))
    + process(0, 512, inputs=music_inputs()) + process(0, 512),
    "infinite_inputs": make(256) + dispatch(OPEN)
    + process(0, 256, inputs=constant(special(F_INF)) + constant(special(F_NEG_INF)), controls=all_types())
    + process(0, 256, inputs=music_inputs()) + process(0, 256),
    "nan_controls": make(256) + dispatch(OPEN)
    + process(0, 256, inputs=music_inputs(),
              controls=constant(control_special(F_NAN)) * 4, bands=0x04)
    + process(0, 256, controls=band_controls(32 * 50, 10, 64, 7), bands=0x04) + process(0, 256),
    "huge_controls": make(256) + dispatch(OPEN)
    + process(0, 256, inputs=music_inputs(),
              controls=(constant(control_special(F_FLT_MAX)) + constant(control_special(F_FLT_MAX))
                        + constant(control_special(F_1E30)) + constant(control_special(F_FLT_MAX))) * 5)
    + process(0, 256),
    "silence_paths": make(256) + dispatch(OPEN)
    + process(0, 256, inputs=constant(special(F_ZERO)) + constant(special(F_NEG_ZERO)),
              controls=flat_bands(), outputs=constant(special(F_HALF)) + constant(special(F_QUARTER)))
    + process(0, 256, outputs=constant(special(F_1E_20)) + constant(special(F_ZERO)))
    + process(0, 256, outputs=constant(special(F_MINUS_ONE)) + constant(special(F_ZERO)))
    + process(0, 256, inputs=constant(special(F_ZERO)) + constant(special(F_DENORMAL))),
    "sample_rates": make(128) + b"".join(dispatch(RATE, rate_sel=r) + dispatch(OPEN)
                                         + process(0, 128, inputs=music_inputs(), controls=all_types())
                                         for r in (RATE_0, RATE_NAN, RATE_NEG, RATE_INF, RATE_MAX,
                                                   RATE_DENORMAL, RATE_TINY, RATE_1, RATE_96000)),
    "status_events": make(64) + dispatch(OPEN)
    + process(0, 64, inputs=constant(special(F_ZERO)) + constant(special(F_HALF)))
    + b"".join(event(EV_STATUS, status_sel=s, pin_sel=p, clock=c)
               for s in (ST_0, ST_1, ST_2, ST_NEG) for p, c in ((PIN_IN1, 3), (PIN_IN2, 63), (PIN_NEG, 0),
                                                                (PIN_24, 5), (PIN_OUT1, 9))),
    "other_events": make(64) + event(EV_STATUS) + dispatch(OPEN) + event(EV_DATA, param0=7, short=0xFFFF)
    + event(EV_CALL) + event(EV_OTHER) + dispatch(NOTIFY, index=3) + dispatch(MESSAGE, value=5),
    "pin_counts": make(64) + b"".join(dispatch(OPEN, pins=n) + process(0, 64, inputs=music_inputs())
                                      + event(EV_STATUS, pin_sel=PIN_IN2, clock=1)
                                      for n in (PINS_0, PINS_NEG, PINS_1, PINS_2, PINS_23, PINS_HUGE,
                                                PINS_1000, PINS_24)),
    "more_pins_than_described": make(64) + dispatch(OPEN, pins=PINS_40)
    + event(EV_STATUS, pin_sel=PIN_30, status_sel=ST_2, clock=2),
    # Found a fault: an event whose clock has passed the wrap while its block
    # started before it.
    "clock_wrap_straddling_block": make(256) + dispatch(OPEN) + set_clock(CLOCK_NEAR_WRAP)
    + process(0, 256, inputs=music_inputs(), controls=flat_bands())
    + event(EV_STATUS, pin_sel=PIN_IN1, clock=200) + event(EV_STATUS, pin_sel=PIN_IN2, clock=10),
    "several_instances": make(128) + make(256) + make(64, index_sel=4) + make(64, kind_sel=5)
    + dispatch(OPEN, slot=0) + dispatch(RATE, rate_sel=RATE_96000, slot=1) + dispatch(OPEN, slot=1)
    + process(0, 128, inputs=music_inputs(), controls=all_types(), slot=0)
    + process(0, 256, inputs=music_inputs(), controls=flat_bands(), slot=1)
    + dispatch(CLOSE, slot=0) + process(0, 200, slot=1) + make(32) + dispatch(OPEN, slot=0),
    "outputs_on_other_buffers": make(512) + dispatch(OPEN)
    + process(0, 512, inputs=music_inputs(), controls=all_types())
    + process(0, 256, shape=IN_PLACE, inputs=music_inputs()) + process(256, 256, shape=CROSSED, inputs=music_inputs())
    + process(10, 400, shape=SHARED_OUTPUT, inputs=music_inputs())
    + process(100, 300, shape=SHIFTED, inputs=music_inputs(), shifts=u8(101) + u8(99))
    + process(0, 512, inputs=music_inputs()) + process(0, 512),
    "reopen": make(256) + dispatch(OPEN) + process(0, 256, inputs=music_inputs(), controls=all_types())
    + dispatch(RATE, rate_sel=RATE_96000) + dispatch(OPEN) + process(0, 256) + dispatch(OPEN, pins=PINS_HUGE)
    + process(0, 256) + dispatch(OPEN) + process(0, 256),
}


def main():
    folder = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus")
    os.makedirs(folder, exist_ok=True)
    for name, data in SEEDS.items():
        with open(os.path.join(folder, "seed_" + name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
