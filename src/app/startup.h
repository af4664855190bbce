#pragma once

#include "mdw/talven/networkinterfacedriver.h"

#include <vector>

// The testbench from the interface choice to the end of its event loop, run once a QApplication
// exists: shows the main window, asks which interface to use, opens its driver and runs the event
// loop, or reports in one critical message box why it cannot. Always returns 0.
int runTestbench(const std::vector<talven::NetworkInterfaceDriver::Descriptor *> &registry);
