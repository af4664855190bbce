#include "mdw/talven/networkinterfacedriver.h"

namespace talven {

namespace {

// Created at its first use, so a descriptor constructed during static initialisation always finds
// it ready, whatever the order in which translation units are initialised.
std::vector<NetworkInterfaceDriver::Descriptor *> &registry()
{
    static std::vector<NetworkInterfaceDriver::Descriptor *> descriptors;
    return descriptors;
}

} // namespace

NetworkInterfaceDriver::~NetworkInterfaceDriver() = default;

NetworkInterfaceDriver::Descriptor::Descriptor()
{
    registry().push_back(this);
}

NetworkInterfaceDriver::Descriptor::~Descriptor() = default;

std::vector<NetworkInterfaceDriver::Descriptor *>
NetworkInterfaceDriver::Descriptor::availableDescriptors()
{
    return registry();
}

} // namespace talven
