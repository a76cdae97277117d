#!/usr/bin/env python3
"""The station's most frequent text exchange, "1FGET P", as a plain pySerial
loop does it: write the command, read its echo, read up to the prompt "=> ".

    pyserial_loop.py DEVICE SECONDS

Runs one exchange to warm up, then exchanges for SECONDS and prints the
number of exchanges and the seconds they took. Exits with 3 when pySerial is
missing (Debian: apt-get install python3-serial) and 1 when the hand does not
answer as it should.
"""
import sys
import time

try:
    import serial
except ImportError:
    print("pySerial is missing: apt-get install python3-serial", file=sys.stderr)
    sys.exit(3)

COMMAND = b"1FGET P\r"
PROMPT = b"=> "


def exchange(port):
    port.write(COMMAND)
    echo = port.read(len(COMMAND) - 1)
    answer = port.read_until(PROMPT)
    if echo != COMMAND[:-1] or not answer.endswith(PROMPT):
        print("unexpected answer: %r %r" % (echo, answer), file=sys.stderr)
        sys.exit(1)


def main():
    device, seconds = sys.argv[1], float(sys.argv[2])
    port = serial.Serial(device, 9600, timeout=15)
    exchange(port)
    count = 0
    start = time.monotonic()
    while True:
        exchange(port)
        count += 1
        now = time.monotonic()
        if now - start >= seconds:
            break
    print(count, now - start)


if __name__ == "__main__":
    main()
