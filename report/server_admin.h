// `zhand-report server ...`: setting up the shared server, run by the
// database's owner. init creates or migrates the schema with its roles,
// grants and policies; add-station and add-reader make the logins, their
// passwords read from standard input.
#pragma once

#include <iostream>
#include <string>
#include <vector>

namespace report {

// Runs `zhand-report server ARGS...` (`args` after "server"); the exit
// status.
int ServerCommand(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
                  std::ostream& err);

}  // namespace report
