// Every prober instance of the program, and nothing else. The registry lists the interfaces in
// the order in which their probers are constructed, and within one file static objects are
// constructed in the order of their definitions, whatever order the linker puts files in: serial
// gateway ports first, the simulator last.
#include "drivers/marloserialdriver.h"
#include "drivers/nrflumbriodriver.h"

namespace {

MarloSerialProber marloSerialProber;

NrfLumbrioProber nrfLumbrioProber;

} // namespace
