#include "test_run.h"

#include <cctype>

#include "framework.h"
#include "link_wait.h"
#include "record.h"
#include "record_names.h"
#include "test_log.h"

namespace {

// The driver's code for an exchange the hand did not answer in time.
constexpr int kReadFailed = -9;
// Timed-out exchanges in a row that make a hand on a live link a silent one.
constexpr int kSilentExchanges = 3;

// The words of the log line and the event of each way the hand stops a run.
const char* TroubleWords(HandTrouble trouble) {
    return trouble == HandTrouble::LinkLost ? results::kLinkLost : results::kHandNotResponding;
}

// Row 20's message when the hand stopped the run in `cycle` of `cycles`.
std::string TroubleMessage(HandTrouble trouble, int cycle, int cycles) {
    if (trouble == HandTrouble::LinkLost) {
        return Format("Link to hand lost in cycle %d of %d.", cycle, cycles);
    }
    return Format("Hand not responding in cycle %d of %d.", cycle, cycles);
}

// Number of integers at the start of a reply, read the way the driver reads
// them: blanks skipped, a run of digits and minus signs per value, stopping at
// any other character. A run without a digit is not a number.
std::size_t CountReplyNumbers(const char* text) {
    std::size_t count = 0;
    const char* p = text;
    for (;;) {
        while (*p != '\0' && std::isspace(static_cast<unsigned char>(*p))) ++p;
        bool digit = false;
        const char* start = p;
        while (*p == '-' || std::isdigit(static_cast<unsigned char>(*p))) {
            digit = digit || *p != '-';
            ++p;
        }
        if (p == start || !digit) return count;
        ++count;
    }
}

bool ReplyHolds(ZHand& hand, std::size_t numbers) {
    const char* reply = hand.ReplyText();
    return reply != nullptr && CountReplyNumbers(reply) >= numbers;
}

bool IsClosingCheck(PositionCheck check) {
    return check == PositionCheck::FingerClosed || check == PositionCheck::SpreadClosed;
}

}  // namespace

TestRun::TestRun(Station& station, int test) : station_(station), test_(test) {}

TestRun::~TestRun() {
    End(results::kError);
}

void TestRun::ShowHeader(std::initializer_list<std::string_view> lines) {
    console().ClearScreen();
    ShowTestHeader(station_, test_);
    for (std::string_view line : lines) console().PrintCentered(line);
}

bool TestRun::OpenLog(int cyclesPlanned) {
    std::string name;
    std::FILE* file = OpenTestLog(station_.identity, &name);
    const Identity& identity = station_.identity;
    cyclesPlanned_ = cyclesPlanned;
    if (!log().BeginRun(station_.tests.names[test_], cyclesPlanned, identity.serialNumber,
                        identity.userInitials, file, name)) {
        console().MoveCursor(20, 0);
        console().PrintCentered(Format("Could not open log file %s", name.c_str()));
        console().GetKey();
        return false;
    }
    recording_ = true;
    ShowStoreProblem();
    return true;
}

void TestRun::PrepareHand() {
    Command("FDEF");
    Command("FSAVE");
    InitHand("1234");
}

void TestRun::WriteSection(const std::string& heading) {
    log().Print("\n\n*****\n* %s\n* %s*****\n", heading.c_str(), clock().TimeText().c_str());
}

void TestRun::WriteBanner(const std::string& title) {
    WriteSection(Format("%s, %d cycles", title.c_str(), Cycles()));
}

bool TestRun::Examine(int result) {
    if (result == 0) {
        timeoutsInRow_ = 0;
        return true;
    }
    if (HandStopped()) return false;
    if (hand().LinkLost()) {
        trouble_ = HandTrouble::LinkLost;
    } else if (result != kReadFailed) {
        timeoutsInRow_ = 0;  // the hand answered, if only with an error
        return false;
    } else if (++timeoutsInRow_ >= kSilentExchanges) {
        trouble_ = HandTrouble::NotResponding;
    }
    if (HandStopped()) troubleCode_ = result;
    return false;
}

int TestRun::Close(const char* motors) {
    return Exchange([motors](ZHand& hand) { return hand.Close(motors); });
}

int TestRun::Open(const char* motors) {
    return Exchange([motors](ZHand& hand) { return hand.Open(motors); });
}

int TestRun::InitHand(const char* motors) {
    return Exchange([motors](ZHand& hand) { return hand.InitHand(motors); });
}

int TestRun::SetParameter(const char* motors, const char* name, int value) {
    return Exchange(
        [motors, name, value](ZHand& hand) { return hand.SetParameter(motors, name, value); });
}

int TestRun::Command(const char* text, std::string* reply) {
    if (HandStopped() && reply != nullptr) reply->clear();
    return Exchange([text, reply](ZHand& hand) { return hand.Command(text, reply); });
}

int TestRun::MoveTo(const char* motors, int value) {
    return Exchange([motors, value](ZHand& hand) { return hand.MoveTo(motors, value); });
}

int TestRun::RTStart(const char* motors) {
    return Exchange([motors](ZHand& hand) { return hand.RTStart(motors); });
}

int TestRun::RTUpdate() {
    return Exchange([](ZHand& hand) { return hand.RTUpdate(true, true); });
}

int TestRun::RTAbort() {
    return Exchange([](ZHand& hand) { return hand.RTAbort(); });
}

bool TestRun::Read(const char* motors, const char* names, std::span<int> values) {
    if (HandStopped()) return false;
    return Examine(hand().GetParameters(motors, names, values)) &&
           ReplyHolds(hand(), values.size());
}

bool TestRun::ReadTemperature(int* value) {
    if (HandStopped()) return false;
    int reading = 0;
    if (!Examine(hand().GetTemperature(&reading)) || !ReplyHolds(hand(), 1)) return false;
    *value = reading;
    return true;
}

void TestRun::RecoverMotor(const char* motors, int velocity) {
    int saved[1] = {0};
    const bool haveSaved = Read(motors, "MOV", saved);
    SetParameter(motors, "MOV", velocity);
    InitHand(motors);
    // Without a reading there is nothing to restore; the motor keeps the
    // recovery velocity rather than an invented one.
    if (haveSaved) SetParameter(motors, "MOV", saved[0]);
}

int TestRun::Check(PositionCheck check, int finger, int cycle) {
    const bool spread = IsSpreadCheck(check);
    const std::string name = spread ? "Spread" : "F" + std::to_string(finger);
    const std::string motors = spread ? "S" : std::to_string(finger);
    int position[1] = {0};
    if (HandStopped()) return 0;
    if (!Read(motors.c_str(), "P", position)) {
        if (HandStopped()) return 0;
        Fault(cycle, name, kNoPositionReading,
              Format("%s %s in cycle %d at %s", name.c_str(), kNoPositionReading, cycle,
                     clock().TimeText().c_str()));
        return 1;
    }
    const PassBand band = PassBandOf(check);
    log().Measure(name + (IsClosingCheck(check) ? " closed" : " open"), position[0],
                  results::kCounts, cycle, band.low, band.high);
    const PositionLimit* broken = BrokenLimit(check, position[0]);
    if (broken == nullptr) return 0;
    if (broken->recoveryVelocity != 0) RecoverMotor(motors.c_str(), broken->recoveryVelocity);
    Fault(cycle, name, broken->words,
          Format("%s %s in cycle %d at %s", name.c_str(), broken->words, cycle,
                 clock().TimeText().c_str()));
    return 1;
}

void TestRun::Fault(std::optional<int> cycle, std::string_view motor, std::string_view kind,
                    std::string_view line) {
    log().Fault(cycle, motor, kind, line);
    ++errors_;
}

TestRun::Ending TestRun::RunCycles(const CycleBody& body, const SummaryLines& summary,
                                   CyclePlan plan) {
    cycled_ = true;
    stop_ = false;
    for (int cycle = 1; cycle <= Cycles(); ++cycle) {
        // The set-up may already have found the hand gone.
        if (HandStopped()) return FinishForHand(cycle, Cycles(), summary);
        if (plan.status) ShowCycleStatus(console(), cycle, Cycles(), errors_);
        body(cycle);
        if (HandStopped()) return FinishForHand(cycle, Cycles(), summary);
        if (stop_) return Ending::Stopped;
        cyclesDone_ = cycle;
        log().Progress(cyclesDone_, errors_);
        ShowStoreProblem();
        if (plan.commands && CommandPoll()) {
            const std::string message = AbortTest(station_.tests, test_, cycle);
            if (plan.abortMessage) log().Print("\n\n%s", message.c_str());
            if (summary) summary();
            End(results::kAborted);
            Countdown(message);
            return Ending::Aborted;
        }
    }
    return Ending::Completed;
}

void TestRun::EndForHand(int cycle, const SummaryLines& summary) {
    if (HandStopped()) FinishForHand(cycle, cyclesPlanned_, summary);
}

TestRun::Ending TestRun::FinishForHand(int cycle, int cycles, const SummaryLines& summary) {
    const char* words = TroubleWords(trouble_);
    log().Fault(cycle, {}, words,
                Format("\n%s in cycle %d at %s", words, cycle, clock().TimeText().c_str()));
    if (summary) summary();
    CancelLaterTests(station_.tests, test_);
    End(results::kError);

    ClearStoreProblem();
    const std::string message = TroubleMessage(trouble_, cycle, cycles);
    console().MoveCursor(20, 0);
    console().PrintCentered(message);
    if (trouble_ == HandTrouble::LinkLost) {
        console().MoveCursor(21, 0);
        console().PrintCentered("Reconnect the hand, or press Esc.");
        const bool back = AwaitReconnect(hand(), console());
        console().BlankRow(21);
        if (!back) return Ending::HandLost;
        // The hand may have restarted while it was away, at its own rate.
        hand().Reset();
    }
    Countdown(message);
    return Ending::HandLost;
}

bool TestRun::CommandPoll() {
    if (!console().KeyWaiting()) return false;
    const int key = FoldUpper(console().GetKey());
    if (key == 'A') return true;
    if (key == 'P') {
        ClearStoreProblem();
        PauseTest(console(), clock());
    }
    return false;
}

void TestRun::Complete() {
    if (!cycled_) cyclesDone_ = cyclesPlanned_;
    End(errors_ == 0 ? results::kPass : results::kFail);
}

void TestRun::End(const char* outcome) {
    if (!recording_) return;
    recording_ = false;
    log().EndRun(outcome, cyclesDone_, errors_);
}

void TestRun::CompleteWithCountdown() {
    Complete();
    Countdown(Format("Test completed with %d errors.", errors_));
}

void TestRun::Countdown(const std::string& message) {
    ClearStoreProblem();
    CountdownPrompt(console(), clock(), message);
}

void TestRun::ShowStoreProblem() {
    const std::string& problem = station_.recorder.StoreProblem();
    if (problem == shownProblem_) return;
    console().ShowAside(21, problem);
    shownProblem_ = problem;
}

// Row 21 is the pause indicator's and the countdown's: the store's line gives
// way to them, and comes back after the next cycle if the trouble lasts.
void TestRun::ClearStoreProblem() {
    if (shownProblem_.empty()) return;
    console().BlankRow(21);
    shownProblem_.clear();
}
