#include "run_report.h"

#include <cstdio>

namespace tarnix {

void ReportRunFacts(const RunWords& words, unsigned long discarded, bool hungUp) {
    fflush(stdout);
    if (discarded > 0) {
        fprintf(stderr,
                "%s: %lu unexpected byte%s discarded %s (the module or line noise sent %s)\n",
                words.program, discarded, discarded == 1 ? "" : "s", words.strayBytesAt,
                words.strayMeans);
    }
    if (hungUp) {
        fprintf(stderr, "%s: the port's device was disconnected or hung up%s\n", words.program,
                words.hangUpEffect);
    }
}

void ReportInterrupt(const RunWords& words, const char* interruptName, bool portWasOpened) {
    fflush(stdout);
    fprintf(stderr, "%s: interrupted by %s%s%s\n", words.program, interruptName,
            portWasOpened ? "; " : "", portWasOpened ? words.released : "");
}

void ReportOutcomeLine(const RunWords& words, const std::string& outcome) {
    fflush(stdout);
    fprintf(stderr, "%s: %s\n", words.program, outcome.c_str());
}

}  // namespace tarnix
