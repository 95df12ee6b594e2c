#include "run_update.h"

int main(int argc, char** argv) {
    return RunUpdateProgram(argc, argv);
}
