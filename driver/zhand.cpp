// Temporary skeleton: operations not written yet return 0.
#include "zhand.h"

std::atomic<bool> ZHand::instanceInitialized{false};

struct ZHand::ThreadState {};

ZHand::ZHand() = default;
ZHand::~ZHand() = default;
int ZHand::Initialize(int, int) {
    return 0;
}
int ZHand::OpenPort(int, int) {
    return 0;
}
int ZHand::SetBaudRate(int) {
    return 0;
}
int ZHand::SetTimeouts(int, int, int, int, int) {
    return 0;
}
bool ZHand::PurgePort() {
    return true;
}
int ZHand::ReadBytes(unsigned char*, int) {
    return 0;
}
int ZHand::WriteBytes(const unsigned char*, int) {
    return 0;
}
int ZHand::Request(int) {
    return 0;
}
bool ZHand::IsBusy() {
    return false;
}
int ZHand::WaitDone(int) {
    return 0;
}
const char* ZHand::ReplyText() {
    return reply.data();
}
const char* ZHand::CommandText() {
    return command.data();
}
const char* ZHand::ErrorText(int) {
    return "No error";
}
int ZHand::Open(const char*) {
    return 0;
}
int ZHand::Close(const char*) {
    return 0;
}
int ZHand::IncrementalOpen(const char*, int) {
    return 0;
}
int ZHand::IncrementalClose(const char*, int) {
    return 0;
}
int ZHand::MoveTo(const char*, int) {
    return 0;
}
int ZHand::Move(const char*) {
    return 0;
}
int ZHand::MoveAllTo(int, int, int, int) {
    return 0;
}
int ZHand::Home() {
    return 0;
}
int ZHand::Terminate(const char*) {
    return 0;
}
int ZHand::InitHand(const char*) {
    return 0;
}
int ZHand::SetParameter(const char*, const char*, int) {
    return 0;
}
int ZHand::GetParameters(const char*, const char*, std::span<int>) {
    return 0;
}
int ZHand::SaveParameters(const char*) {
    return 0;
}
int ZHand::LoadParameters(const char*) {
    return 0;
}
int ZHand::LoadDefaults(const char*) {
    return 0;
}
int ZHand::GetTemperature(int*) {
    return 0;
}
int ZHand::Reset() {
    return 0;
}
int ZHand::SetHandBaud(unsigned) {
    return 0;
}
int ZHand::Delay(unsigned) {
    return 0;
}
int ZHand::Command(const char*, std::string* reply) {
    if (reply) reply->clear();
    return 0;
}
int ZHand::RTSetFlags(const char*, bool, int, bool, bool, int, bool, bool, bool, int) {
    return 0;
}
int ZHand::RTStart(const char*) {
    return 0;
}
int ZHand::RTUpdate(bool, bool) {
    return 0;
}
int ZHand::RTAbort() {
    return 0;
}
int ZHand::RTSetVelocity(char, int) {
    return 0;
}
int ZHand::RTSetGain(char, int) {
    return 0;
}
signed char ZHand::RTGetVelocity(char) {
    return 0;
}
unsigned char ZHand::RTGetStrain(char) {
    return 0;
}
int ZHand::RTGetPosition(char) {
    return 0;
}
signed char ZHand::RTGetDeltaPos(char) {
    return 0;
}
