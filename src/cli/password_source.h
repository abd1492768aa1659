#pragma once
#include <QString>

#include <optional>

namespace zafrel {

// Where an unattended run finds the password when "--login" gives only the e-mail. The command
// line is the wrong place for it: every account of the machine can read a process's arguments
// while the run lasts, and shells keep them in their history.

// The environment variable ZAFREL_PASSWORD, when it is set and not empty.
std::optional<QString> passwordFromEnvironment();

// Whether standard input is a terminal, where a person can be asked for the password.
bool terminalAvailable();

// When standard input is a terminal: asks "Contraseña: " on standard error and reads one line
// with the terminal's echo off (restored also when a signal ends the program meanwhile). Nothing
// when standard input is not a terminal, or the line is empty or never comes. Blocks until the
// person answers: call it off the main thread.
std::optional<QString> passwordFromTerminal();

// Overwrites, in the process's own argument memory, the argument at `index` (a password given on
// the command line after all), so that the process list shows it only for the program's first
// moments. The arguments must have been copied before.
void hideArgument(int argc, char** argv, qsizetype index);

}  // namespace zafrel
