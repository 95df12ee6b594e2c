/* The smallest Windows console program: scripts/test-windows starts its 32-bit build under
   Wine to learn whether 32-bit Windows programs really run on this machine. */
#include <stdio.h>

int main(void) {
    puts("32-bit Windows program ran");
    return 0;
}
