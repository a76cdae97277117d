// Parameter Check against the simulator's "FLISTA"/"FLISTAV" lists: matches,
// fixes, declines, a fix that cannot hold, a name found inside a longer one,
// file problems and two passes.
#include <filesystem>
#include <fstream>

#include "defaults_file.h"
#include "guided_fixture.h"
#include "procedures.h"
#include "seams.h"

namespace {

constexpr int kSlot = 10;
const std::string kBanner = "\n\n*****\n* Parameter Check, 1 cycles\n* <time>\n*****\n";

class ParameterCheck : public GuidedTest {
  protected:
    void SetUp() override {
        GuidedTest::SetUp();
        // The check sends no FDEF of its own: start from the factory values.
        hand.Command("FDEF");
        hand.Command("FSAVE");
        HandCommands();
        // The installed copy lives in the test's folder, absent until a test
        // writes it, whatever the machine has installed.
        installed = (std::filesystem::current_path() / "installed" / "Defaults.dat").string();
        SetInstalledDefaultsPath(installed);
    }
    void TearDown() override {
        SetInstalledDefaultsPath("");
        GuidedTest::TearDown();
    }
    std::string installed;
    static void WriteDefaults(const std::string& text) {
        std::ofstream("Defaults.dat", std::ios::binary) << text;
    }
};

TEST_F(ParameterCheck, ShippedDefaultsMatchTheHand) {
    std::filesystem::copy_file(ZHAND_SIM_DEFAULTS, "Defaults.dat");
    EXPECT_EQ(Run(kSlot), 0);
    EXPECT_EQ(MaskTimes(Log()), kBanner + "\n\nSUMMARY:\nErrors: 0\n");
    EXPECT_EQ(screen.find("Try to fix"), std::string::npos);
    EXPECT_EQ(HandCommands(), (std::vector<std::string>{"FLISTAV", "FLISTA"}));
    EXPECT_NE(screen.find("Test completed with 0 errors."), std::string::npos);
}

TEST_F(ParameterCheck, FixesDeclinesAndReportsWhatCannotBeFixed) {
    WriteDefaults(
        "MCV 100 100 90 50\n"    // M3 differs: fixed
        "MOV\t100 100 100 40\n"  // M4 differs: declined
        "HOLD 1 0 0 1\n"         // M1 differs: fixed with a blank
        "CV 100 100 100 51\n"    // found inside MCV's line; the hand has no CV
        "NOPE 1 2 3 4\n");       // not listed by the hand
    UseKeyScript("yn Y");
    EXPECT_EQ(Run(kSlot), 0);

    EXPECT_EQ(MaskTimes(Log()),
              kBanner +
                  "The MCV parameter for M3 is 100, but should be 90. -Fixed.\n"
                  "The MOV parameter for M4 is 50, but should be 40. -User chose not to fix\n"
                  "The HOLD parameter for M1 is 0, but should be 1. -Fixed.\n"
                  "The CV parameter for M4 is 50, but should be 51. -Can not fix!\n"
                  "Parameter 'NOPE' not found in hand!\n"
                  "\n\nSUMMARY:\nErrors: 2\n");
    EXPECT_EQ(HandCommands(),
              (std::vector<std::string>{"FLISTAV", "FLISTA", "3FSET MCV 90", "FSAVE", "3FGET MCV",
                                        "1FSET HOLD 1", "FSAVE", "1FGET HOLD", "4FSET CV 51",
                                        "FSAVE", "4FGET CV"}));
    EXPECT_NE(screen.find("The MCV parameter for M3 is 100, but should be 90.\n"
                          "Try to fix (Y/N)?  -Fixed.\n"),
              std::string::npos);
    EXPECT_NE(screen.find("Test completed with 2 errors."), std::string::npos);

    // The fixes are held and stored by the hand; the declined value is not.
    const auto state = Sim().State();
    EXPECT_EQ(state.motors[2].working[zhandsim::kMCV], 90);
    EXPECT_EQ(state.motors[2].stored[zhandsim::kMCV], 90);
    EXPECT_EQ(state.motors[0].stored[zhandsim::kHOLD], 1);
    EXPECT_EQ(state.motors[3].stored[zhandsim::kMOV], 50);

    // Each answer that decides a difference is on record with its motor, and
    // so is the parameter the hand does not list; each difference is a
    // measurement against its expected value.
    EXPECT_EQ(
        Query("SELECT cycle, motor, kind, text FROM events ORDER BY seq"),
        (StoreRows{
            {"1", "F3", "Fixed", "The MCV parameter for M3 is 100, but should be 90. -Fixed."},
            {"1", "Spread", "User chose not to fix",
             "The MOV parameter for M4 is 50, but should be 40. -User chose not to fix"},
            {"1", "F1", "Fixed", "The HOLD parameter for M1 is 0, but should be 1. -Fixed."},
            {"1", "Spread", "Can not fix",
             "The CV parameter for M4 is 50, but should be 51. -Can not fix!"},
            {"1", "NULL", "not found in hand", "Parameter 'NOPE' not found in hand!"}}));
    EXPECT_EQ(Query("SELECT name, CAST(value AS INTEGER), CAST(low AS INTEGER),"
                    " CAST(high AS INTEGER), outcome, cycle FROM measurements ORDER BY seq"),
              (StoreRows{{"M3 MCV", "100", "90", "90", "fail", "1"},
                         {"M4 MOV", "50", "40", "40", "fail", "1"},
                         {"M1 HOLD", "0", "1", "1", "fail", "1"},
                         {"M4 CV", "50", "51", "51", "fail", "1"}}));
    EXPECT_EQ(Query("SELECT cycles_done, outcome, errors FROM runs"),
              (StoreRows{{"1", "fail", "2"}}));
}

TEST_F(ParameterCheck, SecondPassOffersTheDeclinedValueAgainAndCountsOnlyItself) {
    station->tests.cycles[kSlot] = 2;
    WriteDefaults("MOV 100 100 100 40\nMCV 100 100 90 50\n");
    UseKeyScript("nyn");
    EXPECT_EQ(Run(kSlot), 0);
    EXPECT_EQ(MaskTimes(Log()),
              "\n\n*****\n* Parameter Check, 2 cycles\n* <time>\n*****\n"
              "The MOV parameter for M4 is 50, but should be 40. -User chose not to fix\n"
              "The MCV parameter for M3 is 100, but should be 90. -Fixed.\n"
              "The MOV parameter for M4 is 50, but should be 40. -User chose not to fix\n"
              "\n\nSUMMARY:\nErrors: 1\n");
    const auto commands = HandCommands();
    EXPECT_EQ(std::count(commands.begin(), commands.end(), "FLISTA"), 2);
    EXPECT_EQ(std::count(commands.begin(), commands.end(), "FLISTAV"), 2);
}

struct FileCase {
    const char* title;
    const char* defaults;   // nullptr: no file; "/": a folder of that name
    const char* installed;  // the installed copy; nullptr: none
    int result;
    const char* logAfterBanner;
    const char* outcome;  // of the run in the record
    const char* events;   // kinds recorded, one line each
};

// "<installed>" in a log stands for the installed copy's path.
const FileCase kFileCases[] = {
    {"missing file", nullptr, nullptr, 1, "Could not open preferences file!\n", "error",
     "Could not open preferences file\n"},
    {"empty file", "", nullptr, 0, "\n\nSUMMARY:\nErrors: 0\n", "pass", ""},
    {"record with three numbers", "MOV 100 100 100 50\nMCV 1 2\nHOLD 9 9 9 9\n", nullptr, 0,
     "Defaults.dat: bad record at line 2\n\n\nSUMMARY:\nErrors: 1\n", "fail", "bad record\n"},
    {"none here, the installed copy", nullptr, "MOV 100 100 100 50\n", 0,
     "No Defaults.dat here: using <installed>\n\n\nSUMMARY:\nErrors: 0\n", "pass", ""},
    {"one here before the installed copy", "", "MCV 1 2\n", 0, "\n\nSUMMARY:\nErrors: 0\n", "pass",
     ""},
    {"one here that cannot be read, not the installed copy", "/", "MOV 100 100 100 50\n", 1,
     "Could not open preferences file!\n", "error", "Could not open preferences file\n"},
};

TEST_F(ParameterCheck, FileProblems) {
    for (const auto& c : kFileCases) {
        SCOPED_TRACE(c.title);
        std::filesystem::remove("Defaults.dat");
        std::filesystem::remove_all("installed");
        for (const auto& entry : std::filesystem::directory_iterator("."))
            if (entry.path().extension() == ".txt") std::filesystem::remove(entry.path());
        if (c.defaults != nullptr && std::string(c.defaults) == "/")
            std::filesystem::create_directory("Defaults.dat");
        else if (c.defaults != nullptr)
            WriteDefaults(c.defaults);
        if (c.installed != nullptr) {
            std::filesystem::create_directory("installed");
            std::ofstream(installed, std::ios::binary) << c.installed;
        }
        EXPECT_EQ(Run(kSlot), c.result);
        std::string log = kBanner + c.logAfterBanner;
        if (const auto at = log.find("<installed>"); at != std::string::npos)
            log.replace(at, 11, installed);
        EXPECT_EQ(MaskTimes(Log()), log);
        // Nothing is changed in the hand, and no prompt is shown.
        for (const auto& command : HandCommands())
            EXPECT_EQ(command.find("FSET"), std::string::npos);
        EXPECT_EQ(screen.find("Try to fix"), std::string::npos);
        EXPECT_EQ(screen.find("Press any key to continue") == std::string::npos, c.result == 1);
        EXPECT_EQ(Query("SELECT outcome FROM runs ORDER BY id DESC LIMIT 1"),
                  (StoreRows{{c.outcome}}));
        std::string kinds;
        for (const auto& row : Query("SELECT kind FROM events WHERE run_id ="
                                     " (SELECT max(id) FROM runs) ORDER BY seq")) {
            kinds += row.at(0) + "\n";
        }
        EXPECT_EQ(kinds, c.events);
    }
}

}  // namespace
