#include "gateway/verdict.h"

namespace verdict {

Observer::~Observer() = default;

void Observer::beaconSent(const Beacon &) {}
void Observer::frameJudged(const Frame &) {}
void Observer::nodeSilent(const Silent &) {}
void Observer::cycleClosed(CycleNumber) {}
void Observer::nodesCleared() {}
void Observer::linkChanged(bool, const QString &) {}

} // namespace verdict
