// What the command line holds that no other user of the machine may see: a
// server's password in --results. It is taken out of the process's own
// argument strings (which `ps` shows) as soon as the program starts.
#pragma once

#include <iostream>
#include <string>
#include <vector>

namespace report {

// The arguments as given, copied; each --results URI that carries a
// password is then overwritten in place in `argv` by its masked form, and
// `err` gets one warning that says where the password belongs instead.
std::vector<std::string> TakeArguments(int argc, char** argv, std::ostream& err);

}  // namespace report
