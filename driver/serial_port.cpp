// Temporary skeleton.
#include "serial_port.h"

int SerialPort::Open(const std::string&) {
    return -2;
}
void SerialPort::Close() {}
int SerialPort::SetBaudRate(int) {
    return -3;
}
int SerialPort::BaudRate() const {
    return -1;
}
int SerialPort::SetTimeouts(int, int, int, int, int) {
    return -5;
}
bool SerialPort::Purge() {
    return false;
}
int SerialPort::Read(unsigned char*, int) {
    return -9;
}
int SerialPort::Write(const unsigned char*, int) {
    return -8;
}
bool SerialPort::Pause(int) {
    return true;
}
void SerialPort::Interrupt() {}
void SerialPort::ClearInterrupt() {}
int SerialPort::WaitReady(short, int64_t) {
    return -1;
}
