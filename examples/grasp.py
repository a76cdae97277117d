#!/usr/bin/env python3
"""Drives the hand through the flat C interface of libzhand with ctypes:
creates the hand on port 1 (./COM1), initialises it, closes and opens the
grasp and prints the fingers' positions after each.

    python3 grasp.py [path/to/libzhand.so.4]
"""
import ctypes
import ctypes.util
import sys

GET_MAX_VALUES = 4  # Get stores at most four integers


def load_library():
    if len(sys.argv) > 1:
        return ctypes.CDLL(sys.argv[1])
    try:
        return ctypes.CDLL("libzhand.so.4")
    except OSError:
        found = ctypes.util.find_library("zhand")
        if found is None:
            raise
        return ctypes.CDLL(found)


def bind(lib):
    motor = ctypes.c_char
    signatures = {
        "CreateHand": [],
        "InitHand": [],
        "Open": [motor],
        "Close": [motor],
        "Get": [motor, ctypes.c_char, ctypes.POINTER(ctypes.c_int)],
    }
    for name, args in signatures.items():
        function = getattr(lib, name)
        function.argtypes = args
        function.restype = ctypes.c_int
    return lib


def check(what, code):
    if code != 0:
        sys.exit(f"{what} failed: result code {code}")


def print_fingers(hand, label):
    positions = (ctypes.c_int * GET_MAX_VALUES)()
    check("Get", hand.Get(b"G", b"P", positions))
    print(f"{label} F1 {positions[0]} F2 {positions[1]} F3 {positions[2]}")


def main():
    hand = bind(load_library())
    check("CreateHand", hand.CreateHand())
    check("InitHand", hand.InitHand())
    check("Close", hand.Close(b"G"))
    print_fingers(hand, "closed:")
    check("Open", hand.Open(b"G"))
    print_fingers(hand, "opened:")


if __name__ == "__main__":
    main()
