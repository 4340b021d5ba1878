/* koblib_sim.h on its own, as a C test host includes it. */
#include "koblib_sim.h"

int attachOne(void) {
    return kobsim_attach("C-HOST", 0x0100, 64);
}
