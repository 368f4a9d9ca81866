#include "hostile.h"
namespace hostile {
int RunFaults(const Options&) { Fail("faults: not written yet"); return 1; }
}
