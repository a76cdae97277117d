"""The ZorvathHand from Python: the hand driver (Hand), the station's run
record (Recorder, Run) and a pytest plugin (zhand.pytest_plugin).

    import zhand

    with zhand.Hand(1) as hand:          # ./COM1, else /dev/ttyS0
        hand.close("G")
        print(hand.get_parameters("G", "P"))

Every failing operation raises HandError, whose ``code`` is the driver's
result code and whose text is the driver's message for it.
"""
from ._zhand import (
    Hand,
    HandError,
    Measurement,
    Recorder,
    Run,
    __version__,
    error_text,
)

__all__ = ["Hand", "HandError", "Measurement", "Recorder", "Run", "error_text", "__version__"]
