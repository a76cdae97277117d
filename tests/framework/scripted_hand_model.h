// A minimal hand behind the scripted peer: fingers and spread that go to a
// set position when closed or opened, gauge and temperature answers from a
// list.
#pragma once

#include <array>
#include <deque>
#include <optional>
#include <string>
#include <vector>

struct ScriptedHandModel {
    std::array<int, 5> closedAt{0, 16000, 16000, 16000, 3100};  // by motor 1..4
    std::array<int, 5> openAt{0, 0, 0, 0, 0};
    std::array<bool, 5> closed{};
    std::deque<std::string> gauges;        // answers to "GFGET SG"; the last one repeats
    std::deque<std::string> temperatures;  // answers to "PGET TEMP"; the last one repeats

    std::optional<std::string> Answer(const std::string& command) {
        std::size_t split = command.find_first_not_of("1234GS");
        if (split == std::string::npos) split = command.size();
        std::vector<int> motors;
        for (char c : command.substr(0, split)) {
            if (c == 'G')
                motors.insert(motors.end(), {1, 2, 3});
            else if (c == 'S')
                motors.push_back(4);
            else
                motors.push_back(c - '0');
        }
        const std::string word = command.substr(split);
        if (word == "C" || word == "O" || word == "HI") {
            for (int m : motors) closed[static_cast<std::size_t>(m)] = word == "C";
            return "";
        }
        if (word == "FGET P") {
            std::string text;
            for (int m : motors) {
                const auto i = static_cast<std::size_t>(m);
                text +=
                    (text.empty() ? "" : " ") + std::to_string(closed[i] ? closedAt[i] : openAt[i]);
            }
            return text;
        }
        if (word == "FGET MOV") return "50";
        if (word == "FGET SG") return Next(gauges, "100 200 300");
        if (word == "PGET TEMP") return Next(temperatures, "250");
        return "";
    }

  private:
    static std::string Next(std::deque<std::string>& answers, const char* otherwise) {
        if (answers.empty()) return otherwise;
        std::string answer = answers.front();
        if (answers.size() > 1) answers.pop_front();
        return answer;
    }
};
