#pragma once

#include "gateway/verdict.h"

#include <QString>

// The engine's verdicts in plain words, for reports and capture comments: "node 5: 356 ms, late
// (slot 300-350 ms)", "invalid event 12 [0c]". The log lines stay the engine's own.
namespace verdict {

QString describe(Timing timing);
QString describe(FaultKind kind);
QString describe(const PayloadFault &fault);
// The timing of an MPDU judged in a cycle with its slot, and every payload fault after it.
QString describeJudgement(const Frame &frame);
// "node N: " followed by the judgement; for other frames what they were.
QString describe(const Frame &frame);

} // namespace verdict
