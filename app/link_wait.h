// Waiting for a hand whose link was lost: the station tries to open the port
// again every so often and sleeps in the console's key wait in between, so the
// technician can give up with Esc.
#pragma once

#include "console.h"
#include "zhand.h"

// How long the wait sleeps between two attempts to open the port again.
constexpr int kReconnectPollMs = 200;

// Until the link is up again (true) or Esc is pressed or the keyboard has
// gone (false): hand.Reconnect(), then up to kReconnectPollMs in the key
// wait. Esc is read; other keys typed meanwhile are read and dropped. The
// hand is not reset here: that is the caller's to do once it is back.
bool AwaitReconnect(ZHand& hand, Console& console);
