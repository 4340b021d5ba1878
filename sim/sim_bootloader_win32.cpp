// kobsim_bootloader on Windows: no pseudo-terminals, so no virtual
// bootloader (the Wine suites reach the Linux one through a COM link).
#include "koblib_sim.h"

extern "C" KOB_API unsigned int KOB_CALL kobsim_bootloader(char*, unsigned int) {
    return 0;
}
