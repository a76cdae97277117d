// The EEPROM and firmware loaders: byte by byte over the hand's port, through
// the driver's raw operations, while no request is pending.
#pragma once

#include <string>

class ZHand;

// Sends "eeploadr.boo" to the hand's boot mode at 4800 baud, then the image
// file `name` to that loader at 5908 baud, and returns the port to 9600 baud.
// 0 when it ran to the end; 1 when a file cannot be read or the hand stopped
// echoing.
int LoadEeprom(ZHand& hand, const std::string& name);

// Checks the S-record file `name` whole, then sends its S1 records to the
// hand's firmware loader. 0 when it ran to the end; 1 when the file cannot be
// read or holds a bad record (nothing is sent then), or the loader does not
// answer or stops echoing.
int LoadFirmware(ZHand& hand, const std::string& name);
