#pragma once

#include <QString>
#include <QWidget>

#include <cstdint>

class DelayChart;
class HistogramChart;
class QLabel;
class QScrollBar;
class QSortFilterProxyModel;
class QTableView;
class StatisticsModel;
class TalvenNetwork;

// The run's figures per node as pictures, in a window of its own beside the main window: a
// sortable table of every node's counts and delay figures (rows of nodes with faults tinted), the
// delay per cycle of the nodes selected in it (the first eight when none is), and the delay
// histogram of the current node. It follows the engine cycle by cycle while it is shown and
// catches up when shown again. "Save report..." writes the JUnit XML and CSV reports of
// talven-gateway and the delay chart as PNG. The engine must outlive it. GUI thread.
class StatisticsWindow : public QWidget
{
    Q_OBJECT

public:
    explicit StatisticsWindow(TalvenNetwork &network, QWidget *parent = nullptr);

    // The interface's name, for the reports.
    void setInterfaceName(const QString &name);
    // Writes <base>.xml, <base>.csv and <base>.png; false with a reason when a file fails.
    bool saveReport(const QString &base, QString *error);

    StatisticsModel *model() const { return model_; }
    QTableView *table() const { return table_; }
    DelayChart *delayChart() const { return delayChart_; }
    HistogramChart *histogram() const { return histogram_; }

public slots:
    // Takes in what the run learnt; shown windows only, hidden ones catch up when shown.
    void refresh();

protected:
    void showEvent(QShowEvent *event) override;

private:
    void scheduleRefresh();
    void chooseNodes();
    void refreshHistogram();
    void syncScrollBar();
    void scrolled(int value);
    void askAndSave();

    TalvenNetwork &network_;
    StatisticsModel *model_;
    QSortFilterProxyModel *sorted_;
    QTableView *table_;
    DelayChart *delayChart_;
    QScrollBar *scrollBar_;
    HistogramChart *histogram_;
    QLabel *status_;
    QString interfaceName_;
    bool refreshPending_ = false;
    bool syncingScrollBar_ = false;
    int histogramNode_ = -1;
    uint64_t histogramAnswers_ = 0;
    uint32_t histogramSlot_ = 0;
    int chosenForRows_ = -1;
    uint64_t chosenForGeneration_ = 0;
    uint64_t histogramGeneration_ = 0;
};
