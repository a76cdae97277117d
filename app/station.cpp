#include "station.h"

ZHand hand;
std::string serialNumber = "HND000";
std::string userInitials = "--";
std::array<std::string, kTestCount + 1> testNames{};
std::array<int, kTestCount + 1> testCycles{};
std::array<TestProc, kTestCount + 1> testProcs{};
int lastResult = 0;
