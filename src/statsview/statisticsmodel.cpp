#include "statsview/statisticsmodel.h"

#include "gateway/runreport.h"

#include <QBrush>
#include <QColor>
#include <QFont>

#include <algorithm>
#include <cmath>

namespace {

const QColor kFaultyRow(255, 228, 224);
const QColor kFaultCount(170, 0, 0);

const char *const kHeaders[StatisticsModel::ColumnCount] = {
        "Node",          "Cycles", "Answers", "In slot",
        "Early",         "Late",   "Silent",  "Payload errors",
        "Format errors", "Min ms", "Mean ms", "SD ms",
        "Median ms",     "p99 ms", "Max ms",  "SV groups (delivered/asked)",
};

bool isFaultColumn(int column)
{
    return column >= StatisticsModel::Early && column <= StatisticsModel::FormatErrors;
}

bool isDelayColumn(int column)
{
    return column >= StatisticsModel::DelayMin && column <= StatisticsModel::DelayMax;
}

} // namespace

DelaySummary summarizeCounts(const std::map<int32_t, uint64_t> &counts)
{
    DelaySummary summary;
    for (const auto &entry : counts)
        summary.count += entry.second;
    if (summary.count == 0)
        return summary;

    const size_t n = summary.count;
    summary.min = counts.begin()->first;
    summary.max = counts.rbegin()->first;
    double sum = 0;
    for (const auto &entry : counts)
        sum += double(entry.first) * double(entry.second);
    summary.mean = sum / double(n);
    double squares = 0;
    for (const auto &entry : counts) {
        const double deviation = entry.first - summary.mean;
        squares += deviation * deviation * double(entry.second);
    }
    summary.standardDeviation = std::sqrt(squares / double(n));

    // The values at sorted positions, found by walking the counts once, positions ascending.
    const size_t rank99 = std::max<size_t>(size_t(std::ceil(0.99 * double(n))), 1) - 1;
    const size_t positions[] = {(n - 1) / 2, n / 2, rank99};
    double values[3] = {};
    size_t next = 0;
    uint64_t below = 0;
    for (auto it = counts.begin(); it != counts.end() && next < 3; ++it) {
        below += it->second;
        while (next < 3 && positions[next] < below)
            values[next++] = it->first;
    }
    summary.median = (values[0] + values[1]) / 2;
    summary.p99 = values[2];
    return summary;
}

StatisticsModel::StatisticsModel(const RunStatistics &statistics, QObject *parent)
    : QAbstractTableModel(parent)
    , statistics_(statistics)
    , generation_(statistics.generation())
{
    refresh();
}

void StatisticsModel::refresh()
{
    if (statistics_.generation() != generation_) {
        beginResetModel();
        rows_.clear();
        generation_ = statistics_.generation();
        endResetModel();
    }

    // Both lists are sorted by node id and the run never forgets a single node: merge.
    const QList<const NodeRunStatistics *> nodes = statistics_.nodes();
    size_t row = 0;
    for (const NodeRunStatistics *node : nodes) {
        while (row < rows_.size() && rows_[row].node < node->node)
            ++row;
        if (row == rows_.size() || rows_[row].node != node->node) {
            beginInsertRows(QModelIndex(), int(row), int(row));
            Row fresh;
            fresh.node = node->node;
            rows_.insert(rows_.begin() + std::ptrdiff_t(row), std::move(fresh));
            endInsertRows();
        }
        fold(rows_[row], *node);
    }
    if (rows_.empty())
        return;
    // The node column changes only its tint, when the node's first fault came: leaving it out
    // spares a proxy sorted by node a resort every cycle.
    emit dataChanged(index(0, Cycles), index(int(rows_.size()) - 1, ColumnCount - 1));
    for (size_t i = 0; i < rows_.size(); ++i) {
        const NodeRunStatistics *node = statistics_.node(rows_[i].node);
        const bool faulty = node && node->faults();
        if (faulty != rows_[i].faulty) {
            rows_[i].faulty = faulty;
            emit dataChanged(index(int(i), Node), index(int(i), Node));
        }
    }
}

void StatisticsModel::fold(Row &row, const NodeRunStatistics &node)
{
    if (row.samplesSeen == node.samples.size())
        return;
    for (size_t i = row.samplesSeen; i < node.samples.size(); ++i) {
        const CycleSample &sample = node.samples[i];
        if (sample.isAnswer())
            row.delayCounts[sample.delay] += 1;
    }
    row.samplesSeen = node.samples.size();
    row.summary.reset();
}

int StatisticsModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(rows_.size());
}

int StatisticsModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant StatisticsModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= ColumnCount)
        return QVariant();
    if (role == Qt::DisplayRole)
        return QString::fromLatin1(kHeaders[section]);
    if (role == Qt::ToolTipRole && isDelayColumn(section))
        return QStringLiteral("Milliseconds from the beacon to the MPDU, over the whole run");
    return QVariant();
}

uint8_t StatisticsModel::nodeAt(int row) const
{
    return row >= 0 && size_t(row) < rows_.size() ? rows_[size_t(row)].node : 0;
}

int StatisticsModel::rowOf(uint8_t node) const
{
    const auto found = std::lower_bound(rows_.begin(), rows_.end(), node,
                                        [](const Row &r, uint8_t id) { return r.node < id; });
    return found != rows_.end() && found->node == node ? int(found - rows_.begin()) : -1;
}

const NodeRunStatistics *StatisticsModel::statisticsAt(int row) const
{
    if (row < 0 || size_t(row) >= rows_.size() || statistics_.generation() != generation_)
        return nullptr;
    return statistics_.node(rows_[size_t(row)].node);
}

DelaySummary StatisticsModel::delaySummary(int row) const
{
    if (row < 0 || size_t(row) >= rows_.size())
        return DelaySummary();
    const Row &r = rows_[size_t(row)];
    if (!r.summary)
        r.summary = summarizeCounts(r.delayCounts);
    return *r.summary;
}

const std::map<int32_t, uint64_t> &StatisticsModel::delayCounts(int row) const
{
    static const std::map<int32_t, uint64_t> none;
    return row >= 0 && size_t(row) < rows_.size() ? rows_[size_t(row)].delayCounts : none;
}

QVariant StatisticsModel::data(const QModelIndex &index, int role) const
{
    const NodeRunStatistics *node = statisticsAt(index.row());
    if (!index.isValid() || !node || index.column() >= ColumnCount)
        return QVariant();
    const Row &row = rows_[size_t(index.row())];
    const int column = index.column();

    switch (role) {
    case Qt::DisplayRole:
        return display(row, *node, column);
    case SortRole:
        return number(row, *node, column);
    case Qt::TextAlignmentRole:
        return column == SvGroups ? int(Qt::AlignLeft | Qt::AlignVCenter)
                                  : int(Qt::AlignRight | Qt::AlignVCenter);
    case Qt::BackgroundRole:
        return node->faults() ? QBrush(kFaultyRow) : QVariant();
    case Qt::ForegroundRole:
        return isFaultColumn(column) && number(row, *node, column).toULongLong()
                       ? QBrush(kFaultCount)
                       : QVariant();
    case Qt::FontRole:
        if (isFaultColumn(column) && number(row, *node, column).toULongLong()) {
            QFont bold;
            bold.setBold(true);
            return bold;
        }
        return QVariant();
    case Qt::ToolTipRole:
        if (node->firstFaults.isEmpty())
            return QStringLiteral("Node %1: no fault").arg(node->node);
        return QStringLiteral("Node %1: %2\nFirst faults:\n%3")
                .arg(node->node)
                .arg(faultKindsText(*node), node->firstFaults.join(QLatin1Char('\n')));
    default:
        return QVariant();
    }
}

QVariant StatisticsModel::display(const Row &row, const NodeRunStatistics &node, int column) const
{
    if (column == SvGroups)
        return svGroupsText(node);
    if (!isDelayColumn(column))
        return number(row, node, column);
    if (node.answers == 0)
        return QStringLiteral("-");
    return QString::number(number(row, node, column).toDouble(), 'f', 1);
}

QVariant StatisticsModel::number(const Row &row, const NodeRunStatistics &node, int column) const
{
    auto summary = [&] {
        if (!row.summary)
            row.summary = summarizeCounts(row.delayCounts);
        return *row.summary;
    };
    switch (column) {
    case Node:
        return node.node;
    case Cycles:
        return qulonglong(node.cyclesExpected);
    case Answers:
        return qulonglong(node.answers);
    case InSlot:
        return qulonglong(node.inSlot);
    case Early:
        return qulonglong(node.early);
    case Late:
        return qulonglong(node.late);
    case Silent:
        return qulonglong(node.silent);
    case PayloadErrors:
        return qulonglong(node.payloadErrors);
    case FormatErrors:
        return qulonglong(node.formatErrors);
    case DelayMin:
        return summary().min;
    case DelayMean:
        return summary().mean;
    case DelaySd:
        return summary().standardDeviation;
    case DelayMedian:
        return summary().median;
    case DelayP99:
        return summary().p99;
    case DelayMax:
        return summary().max;
    case SvGroups: {
        // Delivered against asked over every group: the share of requests met.
        uint64_t asked = 0, delivered = 0;
        for (int g = 0; g < NodeRunStatistics::kSvGroupCount; ++g) {
            asked += node.svRequested[size_t(g)];
            delivered += std::min(node.svDelivered[size_t(g)], node.svRequested[size_t(g)]);
        }
        return asked ? double(delivered) / double(asked) : 0.0;
    }
    default:
        return QVariant();
    }
}
