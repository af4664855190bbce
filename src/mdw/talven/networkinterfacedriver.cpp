#include "mdw/talven/networkinterfacedriver.h"

#include <chrono>

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

int64_t NetworkInterfaceDriver::receptionWallClockNs() const
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
                   std::chrono::system_clock::now().time_since_epoch())
            .count();
}

void NetworkInterfaceDriver::setLinkStateHandler(LinkStateHandler) {}

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
