#pragma once

#include "gateway/runstatistics.h"

#include <QAbstractTableModel>

#include <cstdint>
#include <map>
#include <optional>
#include <vector>

// The run's per-node figures as a table, one row per node the run has judged, by node id. It reads
// the engine's RunStatistics and keeps per node only a count per distinct delay, folded in from
// the samples that are new since the last refresh(), so a refresh costs the new samples, not the
// run. The delay figures are worked out from those counts when a row is read, and kept until the
// node's next sample. Owned by the statistics window; GUI thread.
class StatisticsModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column {
        Node,
        Cycles,
        Answers,
        InSlot,
        Early,
        Late,
        Silent,
        PayloadErrors,
        FormatErrors,
        DelayMin,
        DelayMean,
        DelaySd,
        DelayMedian,
        DelayP99,
        DelayMax,
        SvGroups,
        ColumnCount
    };
    // Numbers to sort by, for every column.
    static constexpr int SortRole = Qt::UserRole;

    explicit StatisticsModel(const RunStatistics &statistics, QObject *parent = nullptr);

    // Takes in what the run learnt since the last call: new rows, new samples, or a cleared run.
    void refresh();

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    uint8_t nodeAt(int row) const;
    int rowOf(uint8_t node) const;
    // Null for a row whose node the run has forgotten since the last refresh.
    const NodeRunStatistics *statisticsAt(int row) const;
    // The same figures as NodeRunStatistics::delays(), from the counts.
    DelaySummary delaySummary(int row) const;
    // How many answers had each delay, in milliseconds.
    const std::map<int32_t, uint64_t> &delayCounts(int row) const;

    const RunStatistics &statistics() const { return statistics_; }

private:
    struct Row
    {
        uint8_t node = 0;
        size_t samplesSeen = 0;
        // As the node column was last announced.
        bool faulty = false;
        std::map<int32_t, uint64_t> delayCounts;
        mutable std::optional<DelaySummary> summary;
    };

    void fold(Row &row, const NodeRunStatistics &node);
    QVariant display(const Row &row, const NodeRunStatistics &node, int column) const;
    QVariant number(const Row &row, const NodeRunStatistics &node, int column) const;

    const RunStatistics &statistics_;
    std::vector<Row> rows_;
    uint64_t generation_ = 0;
};

// The figures of a run of delays given as a count per distinct value; equal to summarize() of the
// same values.
DelaySummary summarizeCounts(const std::map<int32_t, uint64_t> &counts);
