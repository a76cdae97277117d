// The flat interface against a scripted hand on a pty. Its one object lives
// for the rest of the process, so the whole life of the interface is one
// ordered table: every function before CreateHand, CreateHand, then each
// function's command on the wire.
#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "flat_from_c.h"
#include "pty_peer.h"
#include "zhand.h"
#include "zhand_flat.h"

namespace {

constexpr int kUntouched = -7777;

struct Step {
    std::string what;
    std::function<int()> call;
    int expected;
    std::vector<std::string> sent;  // bytes the hand receives, command by command
    std::vector<int> values = {};   // the caller's five integers afterwards, when given
};

using Values = std::array<int, 5>;  // four for Get, a fifth that must stay untouched

std::vector<int> Untouched() {
    return std::vector<int>(5, kUntouched);
}

// Every function but CreateHand, called before it exists: -15 and nothing else.
void AddBeforeCreateHand(std::vector<Step>& steps, Values& v) {
    int* p = v.data();
    const std::vector<std::pair<std::string, std::function<int()>>> calls = {
        {"Open", [] { return Open('G'); }},
        {"Close", [] { return Close('G'); }},
        {"IncrementalOpen", [] { return IncrementalOpen('1', 10); }},
        {"IncrementalClose", [] { return IncrementalClose('1', 10); }},
        {"MoveTo", [] { return MoveTo('4', 1200); }},
        {"MoveAllTo", [] { return MoveAllTo(1, 2, 3, 4); }},
        {"Home", [] { return Home(); }},
        {"Terminate", [] { return Terminate('G'); }},
        {"Set", [] { return Set('4', 'C', 45); }},
        {"Set unknown selector", [] { return Set('4', 'x', 45); }},
        {"Get", [p] { return Get('G', 'P', p); }},
        {"SaveParameters", [] { return SaveParameters('G'); }},
        {"LoadParameters", [] { return LoadParameters('G'); }},
        {"LoadDefaults", [] { return LoadDefaults('G'); }},
        {"GetTemperature", [p] { return GetTemperature(p); }},
        {"InitHand", [] { return InitHand(); }},
    };
    for (const auto& [name, call] : calls)
        steps.push_back({name + " before CreateHand", call, -15, {}, Untouched()});
}

// Selectors that neither Set nor Get know: -16 and nothing sent.
void AddUnknownSelectors(std::vector<Step>& steps, Values& v) {
    int* p = v.data();
    for (char selector : std::string("cmopsXZ1 ") + '\0') {
        std::string shown = selector == '\0' ? "NUL" : std::string(1, selector);
        steps.push_back(
            {"Set '" + shown + "'", [=] { return Set('1', selector, 5); }, -16, {}, Untouched()});
        steps.push_back(
            {"Get '" + shown + "'", [=] { return Get('1', selector, p); }, -16, {}, Untouched()});
    }
    steps.push_back({"Set 'P' is read-only", [] { return Set('1', 'P', 5); }, -16, {}});
}

}  // namespace

TEST(FlatInterface, LifeOfTheInterface) {
    PtyPeer hand({.holdHostEnd = true});
    const std::map<std::string, std::string> replies = {
        {"GFGET P", "11 22 33 44 55"}, {"1FGET S", "7"},     {"2FGET SG", "-12"},
        {"3FGET MOV", "ERR 12"},       {"PGET TEMP", "457"}, {"1T", "ERR 3"}};
    hand.AnswerCommands([replies](const std::string& command) {
        auto it = replies.find(command);
        return std::optional<std::string>(it != replies.end() ? it->second : "");
    });
    // The commands received since the last call, each with its CR.
    auto commandsSent = [&hand] {
        std::vector<std::string> commands = hand.TakeCommands();
        for (std::string& command : commands) command += '\r';
        return commands;
    };

    Values v{};
    int* p = v.data();
    ZHand* first = nullptr;
    std::vector<Step> steps;
    AddBeforeCreateHand(steps, v);
    const size_t createHand = steps.size();
    steps.push_back({"CreateHand resets the hand on COM1",
                     [&] {
                         int code = CreateHand();
                         first = theHand;
                         // Short link time-outs so a silent fault fails fast.
                         if (theHand != nullptr) theHand->SetTimeouts(0, 10, 2000, 10, 2000);
                         return code;
                     },
                     0,
                     {"\r", "RESET\r"}});
    steps.push_back({"second CreateHand keeps the first object",
                     [&] {
                         int code = CreateHand();
                         return theHand == first ? code : -999;  // -999: object replaced
                     },
                     -1,
                     {}});
    // Set with 'C' and SetParameter with "MCV" put the same bytes on the wire.
    steps.push_back({"Set '4' 'C' 45", [] { return Set('4', 'C', 45); }, 0, {"4FSET MCV 45\r"}});
    steps.push_back({"SetParameter 4 MCV 45",
                     [] { return theHand->SetParameter("4", "MCV", 45); },
                     0,
                     {"4FSET MCV 45\r"}});
    steps.push_back(
        {"Set 'M' writes HOLD", [] { return Set('1', 'M', 9); }, 0, {"1FSET HOLD 9\r"}});
    steps.push_back({"Get 'M' reads S",
                     [p] { return Get('1', 'M', p); },
                     0,
                     {"1FGET S\r"},
                     {7, kUntouched, kUntouched, kUntouched, kUntouched}});
    steps.push_back(
        {"Set 'O' writes MOV", [] { return Set('2', 'O', 30); }, 0, {"2FSET MOV 30\r"}});
    steps.push_back({"Set 'S' writes MSG", [] { return Set('S', 'S', 0); }, 0, {"SFSET MSG 0\r"}});
    steps.push_back({"Get 'S' reads SG",
                     [p] { return Get('2', 'S', p); },
                     0,
                     {"2FGET SG\r"},
                     {-12, kUntouched, kUntouched, kUntouched, kUntouched}});
    steps.push_back({"Get 'C' reads MCV", [p] { return Get('4', 'C', p); }, 0, {"4FGET MCV\r"}});
    steps.push_back({"Get stores at most four values",
                     [p] { return Get('G', 'P', p); },
                     0,
                     {"GFGET P\r"},
                     {11, 22, 33, 44, kUntouched}});
    steps.push_back({"Get from C",
                     [p] { return ReadFingersFromC(p); },
                     0,
                     {"GFGET P\r"},
                     {11, 22, 33, 44, kUntouched}});
    steps.push_back({"Get on a hand error leaves the values",
                     [p] { return Get('3', 'O', p); },
                     12,
                     {"3FGET MOV\r"},
                     Untouched()});
    steps.push_back(
        {"Get with no array still asks", [] { return Get('G', 'P', nullptr); }, 0, {"GFGET P\r"}});
    AddUnknownSelectors(steps, v);
    steps.push_back({"Open", [] { return Open('G'); }, 0, {"GO\r"}});
    steps.push_back({"Open whole hand", [] { return Open('\0'); }, 0, {"O\r"}});
    steps.push_back({"Close", [] { return Close('S'); }, 0, {"SC\r"}});
    steps.push_back(
        {"IncrementalOpen", [] { return IncrementalOpen('1', 250); }, 0, {"1IO 250\r"}});
    steps.push_back(
        {"IncrementalClose", [] { return IncrementalClose('2', 30000); }, 0, {"2IC 30000\r"}});
    steps.push_back(
        {"IncrementalClose out of range", [] { return IncrementalClose('2', 30001); }, -18, {}});
    steps.push_back({"MoveTo", [] { return MoveTo('4', 1200); }, 0, {"4M 1200\r"}});
    steps.push_back({"MoveTo out of range", [] { return MoveTo('4', -1); }, -18, {}});
    steps.push_back(
        {"MoveAllTo",
         [] { return MoveAllTo(10, 20, 30, 40); },
         0,
         {"1FSET DP 10\r", "2FSET DP 20\r", "3FSET DP 30\r", "4FSET DP 40\r", "GSM\r"}});
    steps.push_back({"Home", [] { return Home(); }, 0, {"GSHOME\r", "SHOME\r"}});
    steps.push_back(
        {"Terminate passes the hand's error", [] { return Terminate('1'); }, 3, {"1T\r"}});
    steps.push_back({"SaveParameters", [] { return SaveParameters('G'); }, 0, {"GFSAVE\r"}});
    steps.push_back({"LoadParameters", [] { return LoadParameters('3'); }, 0, {"3FLOAD\r"}});
    steps.push_back({"LoadDefaults", [] { return LoadDefaults('G'); }, 0, {"GFDEF\r"}});
    steps.push_back({"GetTemperature",
                     [p] { return GetTemperature(p); },
                     0,
                     {"PGET TEMP\r"},
                     {45, kUntouched, kUntouched, kUntouched, kUntouched}});
    steps.push_back({"GetTemperature with no value",
                     [] { return GetTemperature(nullptr); },
                     0,
                     {"PGET TEMP\r"}});
    steps.push_back({"InitHand", [] { return InitHand(); }, 0, {"GSHI\r"}});

    const std::filesystem::path home = std::filesystem::current_path();
    std::filesystem::current_path(hand.Dir());
    for (size_t i = 0; i < steps.size(); ++i) {
        const Step& step = steps[i];
        SCOPED_TRACE(step.what);
        v.fill(kUntouched);
        EXPECT_EQ(step.call(), step.expected);
        EXPECT_EQ(commandsSent(), step.sent);
        if (!step.values.empty()) {
            EXPECT_EQ(std::vector<int>(v.begin(), v.end()), step.values);
        }
        if (i == createHand && HasFailure()) break;  // without a hand the rest tells nothing
    }
    std::filesystem::current_path(home);
}
