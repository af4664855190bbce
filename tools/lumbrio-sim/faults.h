#pragma once

#include <QString>

#include <array>
#include <cstdint>
#include <random>

namespace lumbrio {

// What a virtual node does wrong in one cycle; at most one fault per answer.
enum class Fault {
    None,
    Silent,          // no answer at all
    Late,            // answers after the end of its slot
    Early,           // answers before the start of its slot
    WrongSize,       // accelerometer (or, when not asked for, joystick) payload of the wrong size
    UnknownEpdu,     // an extra event the gateway does not know
    BrokenStructure, // the ePDU count claims one ePDU more than the frame holds
};

constexpr int kFaultKinds = 6;

// The faults in the order in which one roll of the dice is split between them.
const std::array<Fault, kFaultKinds> &faultKinds();
// The option name of a fault ("silent", "late", ... "broken-structure"); empty for None.
QString faultName(Fault fault);
// Fault::None for an unknown name.
Fault faultFromName(const QString &name);

// Probability of each fault per cycle, indexed like faultKinds().
struct FaultProbabilities
{
    std::array<double, kFaultKinds> values{};

    double &operator[](Fault fault);
    double operator[](Fault fault) const;
    double total() const;
};

// The seeded dice of one node: the same seed and node id give the same faults, cycle after cycle,
// on every machine, whatever the other nodes do.
class FaultDice
{
public:
    FaultDice(const FaultProbabilities &probabilities, uint32_t seed, int nodeId);

    Fault roll();

private:
    FaultProbabilities probabilities_;
    std::mt19937 engine_;
};

} // namespace lumbrio
