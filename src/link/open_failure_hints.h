#pragma once
// The words of a failed open on POSIX systems, kept apart from the printing in
// open_failure_posix.cpp so that each error can be held to its next step by a table test.

#include <string>

#include "open_failure.h"

namespace tarnix {

// The next step for the user after `error` (an errno value), or "" when there is none to give.
// The hint about COM numbers comes only when the port was given as a COM number.
std::string HintForOpenFailure(int error, const OpenAttempt& attempt);

// "<caption>: <device> (COM<n>): <system text> (<hint>)"; the COM number only when one was
// given, the hint only when there is one. No line end.
std::string OpenFailureLine(const char* caption, int error, const char* systemText,
                            const OpenAttempt& attempt);

}  // namespace tarnix
