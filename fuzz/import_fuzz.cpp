// The text-log import parser and the HTML escaping fed any bytes: the parser
// gives the same answer twice, either refuses the file with a line inside it
// and no runs, or gives runs whose facts all name their run in order; and no
// text escaped for the page keeps a character that could start markup.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz_check.h"
#include "html_text.h"
#include "log_parser.h"

namespace {

std::string Facts(const report::ParsedLog& parsed) {
    std::string text;
    for (const report::ImportedRun& run : parsed.runs)
        for (const results::Entry& entry : report::EntriesOf(run))
            text += results::ToJson(entry) + "\n";
    return text;
}

void CheckParse(const std::string& text) {
    const report::LogSource source{"HND123AB261210_1.txt", "HND123", "AB"};
    const report::ParsedLog parsed = report::ParseLog(text, source);
    const report::ParsedLog again = report::ParseLog(text, source);
    FUZZ_CHECK(Facts(parsed) == Facts(again) && parsed.error.has_value() == again.error.has_value(),
               "two parses of \"%s\" differ", Visible(text).c_str());
    int lines = 1;
    for (char c : text) lines += c == '\n';
    if (parsed.error) {
        FUZZ_CHECK(parsed.runs.empty(), "refused with runs");
        FUZZ_CHECK(parsed.error->line >= 1 && parsed.error->line <= lines,
                   "refused at line %d of %d: %s", parsed.error->line, lines,
                   parsed.error->message.c_str());
        FUZZ_CHECK(!parsed.error->message.empty(), "refused without a message");
        return;
    }
    FUZZ_CHECK(!parsed.runs.empty(), "a log without runs was taken");
    for (const report::ImportedRun& run : parsed.runs) {
        const std::string& uuid = run.start.uuid;
        FUZZ_CHECK(uuid.size() == 36 && uuid[14] == '5', "uuid %s", uuid.c_str());
        FUZZ_CHECK(run.end.run == uuid, "the end names another run");
        const std::string& outcome = run.end.outcome;
        FUZZ_CHECK(
            outcome == "pass" || outcome == "fail" || outcome == "aborted" || outcome == "error",
            "outcome %s", outcome.c_str());
        FUZZ_CHECK(run.start.started.size() == 24 && run.end.ended >= run.start.started,
                   "started %s ended %s", run.start.started.c_str(), run.end.ended.c_str());
        int seq = 0;
        for (const results::Entry& fact : run.facts) {
            FUZZ_CHECK(results::RunOf(fact) == uuid, "a fact names another run");
            const int factSeq = std::visit(
                [](const auto& f) {
                    if constexpr (requires { f.seq; }) {
                        return f.seq;
                    } else {
                        return -1;
                    }
                },
                fact);
            FUZZ_CHECK(factSeq == ++seq, "fact %d has seq %d", seq, factSeq);
            // What the store takes must read back the same.
            const std::optional<results::Entry> back = results::FromJson(results::ToJson(fact));
            FUZZ_CHECK(back.has_value(), "a fact does not survive JSON");
        }
    }
}

void CheckEscaping(const std::string& text) {
    const std::string html = report::EscapeHtml(text);
    for (char c : {'<', '>', '"', '\'', '\0'})
        FUZZ_CHECK(html.find(c) == std::string::npos, "escaped text keeps %02x: \"%s\"", c,
                   Visible(html).c_str());
    FUZZ_CHECK(report::ValidUtf8(html) == html, "escaped text is not UTF-8: \"%s\"",
               Visible(html).c_str());
    const std::string script = report::JsonForScript(nlohmann::json{{"text", text}});
    FUZZ_CHECK(script.find('<') == std::string::npos && script.find('>') == std::string::npos,
               "script data keeps markup: \"%s\"", Visible(script).c_str());
    // Text that is UTF-8 reads back as it was; other bytes are repaired.
    const nlohmann::json back = nlohmann::json::parse(script, nullptr, false);
    FUZZ_CHECK(!back.is_discarded() && back["text"].is_string(),
               "script data does not parse: \"%s\"", Visible(script).c_str());
    const std::string read = back["text"];
    FUZZ_CHECK(report::ValidUtf8(read) == read, "script data is not UTF-8");
    FUZZ_CHECK(report::ValidUtf8(text) != text || read == text,
               "script data does not read back: \"%s\"", Visible(script).c_str());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    setenv("TZ", "UTC", 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    CheckParse(text);
    CheckEscaping(text);
    return 0;
}
