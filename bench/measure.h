#pragma once

// The clock and the figures that the timing programs share.

#include <QStringList>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <vector>

inline int64_t monotonicNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
}

// Nearest-rank percentile of an already sorted list.
inline double percentile(const std::vector<double> &sorted, double p)
{
    if (sorted.empty())
        return NAN;
    const size_t rank = size_t(std::ceil(p / 100.0 * double(sorted.size())));
    return sorted[std::min(sorted.size() - 1, rank > 0 ? rank - 1 : 0)];
}

// The given percentiles of the values, e.g. "0.12 / 0.80 / 2.31" for {50, 99, 100}.
inline QString figures(std::vector<double> values, const QList<double> &ranks)
{
    std::sort(values.begin(), values.end());
    QStringList parts;
    for (double p : ranks)
        parts << QString::number(percentile(values, p), 'f', 2);
    return parts.join(" / ");
}
