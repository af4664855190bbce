#include "lumbrio-sim/faults.h"

namespace lumbrio {

namespace {

int indexOf(Fault fault)
{
    return int(fault) - int(Fault::Silent);
}

} // namespace

const std::array<Fault, kFaultKinds> &faultKinds()
{
    static const std::array<Fault, kFaultKinds> kinds
            = {Fault::Silent,    Fault::Late,        Fault::Early,
               Fault::WrongSize, Fault::UnknownEpdu, Fault::BrokenStructure};
    return kinds;
}

QString faultName(Fault fault)
{
    switch (fault) {
    case Fault::None:
        return QString();
    case Fault::Silent:
        return QStringLiteral("silent");
    case Fault::Late:
        return QStringLiteral("late");
    case Fault::Early:
        return QStringLiteral("early");
    case Fault::WrongSize:
        return QStringLiteral("wrong-size");
    case Fault::UnknownEpdu:
        return QStringLiteral("unknown-epdu");
    case Fault::BrokenStructure:
        return QStringLiteral("broken-structure");
    }
    return QString();
}

Fault faultFromName(const QString &name)
{
    for (Fault fault : faultKinds()) {
        if (faultName(fault) == name)
            return fault;
    }
    return Fault::None;
}

double &FaultProbabilities::operator[](Fault fault)
{
    return values[size_t(indexOf(fault))];
}

double FaultProbabilities::operator[](Fault fault) const
{
    return values[size_t(indexOf(fault))];
}

double FaultProbabilities::total() const
{
    double sum = 0;
    for (double value : values)
        sum += value;
    return sum;
}

FaultDice::FaultDice(const FaultProbabilities &probabilities, uint32_t seed, int nodeId)
    : probabilities_(probabilities)
{
    std::seed_seq sequence{seed, uint32_t(nodeId)};
    engine_.seed(sequence);
}

Fault FaultDice::roll()
{
    // mt19937's output is fixed by the standard, unlike the library's distributions.
    const double r = double(engine_()) / 4294967296.0;
    double bound = 0;
    for (Fault fault : faultKinds()) {
        bound += probabilities_[fault];
        if (r < bound)
            return fault;
    }
    return Fault::None;
}

} // namespace lumbrio
