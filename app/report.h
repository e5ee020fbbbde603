// The two ways a run ends without doing its job: the error report and the
// help path.
#pragma once

#include <string>

namespace glx::app {

struct Run;

// The error report's text for a failure message, with the run's picPath
// and phase (the form's aeException shows it).
std::string errorReportText(const Run& run, const std::string& message);

// The built-in help text, CR LF line ends.
const std::string& helpText();
// Prints the help text to standard output with plain line ends (--help).
void printHelp();
// One line on standard error saying why the given picture cannot be used.
void reportUnusable(const std::string& path);
// One line "glumixer: " + text on standard error: how the run read
// something that did not mean what it seemed to; the run goes on.
void reportNote(const std::string& text);
// Says how to use the tool, writes the help text beside the program (or,
// when the program's folder is not writable, into the user's cache folder),
// shows it and ends the run (status 0 without arguments, 2 otherwise).
int runHelpPath(Run& run, bool argumentsGiven);

}  // namespace glx::app
