#pragma once
// A toolkit assertion is a fault of ours, not a question for the user: the toolkit's own box offers
// "Stop", which ends the program. The program writes assertions to standard error instead.
#include <wx/debug.h>

namespace kestrane {

// Installs the handler that writes each assertion as one line to standard error; returns the handler
// it replaces.
wxAssertHandler_t RouteAssertionsToStderr();

}  // namespace kestrane
