#include "statsview/statisticswindow.h"

#include "gateway/runreport.h"
#include "gateway/talvennetwork.h"
#include "statsview/celldelegate.h"
#include "statsview/delaychart.h"
#include "statsview/delaychartdata.h"
#include "statsview/histogramchart.h"
#include "statsview/statisticsmodel.h"

#include <QAction>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QMessageBox>
#include <QSaveFile>
#include <QScrollBar>
#include <QSortFilterProxyModel>
#include <QSplitter>
#include <QTableView>
#include <QTimer>
#include <QToolBar>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace {

// Whole cycles are too coarse for a scroll bar over a short zoomed stretch.
constexpr double kScrollUnitsPerCycle = 10;

} // namespace

StatisticsWindow::StatisticsWindow(TalvenNetwork &network, QWidget *parent)
    : QWidget(parent, Qt::Window)
    , network_(network)
    , model_(new StatisticsModel(network.statistics(), this))
    , sorted_(new QSortFilterProxyModel(this))
    , table_(new QTableView(this))
    , delayChart_(new DelayChart(network.statistics(), this))
    , scrollBar_(new QScrollBar(Qt::Horizontal, this))
    , histogram_(new HistogramChart(this))
    , status_(new QLabel(this))
{
    setWindowTitle(QStringLiteral("Run statistics"));
    resize(1180, 780);

    sorted_->setSourceModel(model_);
    sorted_->setSortRole(StatisticsModel::SortRole);
    table_->setModel(sorted_);
    table_->setSortingEnabled(true);
    table_->sortByColumn(StatisticsModel::Node, Qt::AscendingOrder);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    table_->verticalHeader()->hide();
    table_->verticalHeader()->setDefaultSectionSize(table_->fontMetrics().height() + 6);
    table_->horizontalHeader()->setStretchLastSection(true);
    table_->setAlternatingRowColors(false);
    table_->setShowGrid(false);
    table_->setItemDelegate(new CellDelegate(table_));

    auto *tools = new QToolBar(this);
    QAction *save = tools->addAction(QStringLiteral("Save report..."));
    connect(save, &QAction::triggered, this, &StatisticsWindow::askAndSave);
    tools->addSeparator();
    QAction *whole = tools->addAction(QStringLiteral("Whole run"));
    whole->setToolTip(QStringLiteral("Show every cycle and follow the run (Home)"));
    connect(whole, &QAction::triggered, delayChart_, &DelayChart::showWholeRun);
    QAction *zoomIn = tools->addAction(QStringLiteral("Zoom in"));
    connect(zoomIn, &QAction::triggered, this, [this] {
        delayChart_->zoom(1.5, (delayChart_->visibleFrom() + delayChart_->visibleTo()) / 2);
    });
    QAction *zoomOut = tools->addAction(QStringLiteral("Zoom out"));
    connect(zoomOut, &QAction::triggered, this, [this] {
        delayChart_->zoom(1 / 1.5, (delayChart_->visibleFrom() + delayChart_->visibleTo()) / 2);
    });
    auto *hint = new QLabel(
            QStringLiteral("  Select rows to chart those nodes (up to 8). Chart: drag across or "
                           "turn the wheel to zoom the cycles, Shift+wheel or arrows to pan, "
                           "right click to zoom out."),
            this);
    tools->addWidget(hint);

    auto *chartPane = new QWidget(this);
    auto *chartLayout = new QVBoxLayout(chartPane);
    chartLayout->setContentsMargins(0, 0, 0, 0);
    chartLayout->setSpacing(0);
    chartLayout->addWidget(delayChart_, 1);
    chartLayout->addWidget(scrollBar_);

    auto *charts = new QSplitter(Qt::Horizontal, this);
    charts->addWidget(chartPane);
    charts->addWidget(histogram_);
    charts->setStretchFactor(0, 2);
    charts->setStretchFactor(1, 1);
    charts->setSizes({760, 400});

    auto *panes = new QSplitter(Qt::Vertical, this);
    panes->addWidget(table_);
    panes->addWidget(charts);
    panes->setStretchFactor(0, 1);
    panes->setStretchFactor(1, 3);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addWidget(tools);
    layout->addWidget(panes, 1);
    layout->addWidget(status_);

    connect(table_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &StatisticsWindow::chooseNodes);
    connect(table_->selectionModel(), &QItemSelectionModel::currentChanged, this,
            &StatisticsWindow::refreshHistogram);
    connect(delayChart_, &DelayChart::viewChanged, this, &StatisticsWindow::syncScrollBar);
    connect(scrollBar_, &QScrollBar::valueChanged, this, &StatisticsWindow::scrolled);

    // By cycle, never by MPDU; after the engine's own signal has run its course.
    connect(&network_, &TalvenNetwork::cycleFinished, this, &StatisticsWindow::scheduleRefresh);
    connect(&network_, &QAbstractItemModel::modelReset, this, &StatisticsWindow::scheduleRefresh);
    refresh();
}

void StatisticsWindow::setInterfaceName(const QString &name)
{
    interfaceName_ = name;
}

void StatisticsWindow::scheduleRefresh()
{
    if (refreshPending_ || !isVisible())
        return;
    refreshPending_ = true;
    QTimer::singleShot(0, this, &StatisticsWindow::refresh);
}

void StatisticsWindow::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    refresh();
}

void StatisticsWindow::refresh()
{
    refreshPending_ = false;
    model_->refresh();
    // A selection change chooses the nodes itself; new rows or a cleared run may change the
    // default choice (the first rows) or the rows the selection means.
    const uint64_t generation = network_.statistics().generation();
    if (model_->rowCount() != chosenForRows_ || generation != chosenForGeneration_) {
        chosenForRows_ = model_->rowCount();
        chosenForGeneration_ = generation;
        chooseNodes();
    }
    delayChart_->refresh();
    refreshHistogram();
}

void StatisticsWindow::chooseNodes()
{
    QVector<uint8_t> nodes;
    for (const QModelIndex &index : table_->selectionModel()->selectedRows())
        nodes.append(model_->nodeAt(sorted_->mapToSource(index).row()));
    if (nodes.isEmpty()) {
        for (int row = 0; row < model_->rowCount() && row < DelayChart::kMaxNodes; ++row)
            nodes.append(model_->nodeAt(row));
    }
    std::sort(nodes.begin(), nodes.end());
    delayChart_->setNodes(nodes.mid(0, DelayChart::kMaxNodes));
    refreshHistogram();
}

void StatisticsWindow::refreshHistogram()
{
    int row = -1;
    const QModelIndex current = table_->selectionModel()->currentIndex();
    if (current.isValid())
        row = sorted_->mapToSource(current).row();
    else if (!delayChart_->nodes().isEmpty())
        row = model_->rowOf(delayChart_->nodes().first());

    const NodeRunStatistics *node = model_->statisticsAt(row);
    const RunStatistics &run = model_->statistics();
    if (!node || run.settingsHistory().empty()) {
        histogramNode_ = -1;
        histogram_->showNothing();
        return;
    }
    // A silent cycle changes no count.
    const uint32_t slot = run.settingsHistory().back().slotDuration;
    if (node->node == histogramNode_ && node->answers == histogramAnswers_ && slot == histogramSlot_
        && run.generation() == histogramGeneration_)
        return;
    histogramNode_ = node->node;
    histogramAnswers_ = node->answers;
    histogramSlot_ = slot;
    histogramGeneration_ = run.generation();
    histogram_->show(node->node, model_->delayCounts(row), slotLowerFor(node->node, slot),
                     slotUpperFor(node->node, slot));
}

void StatisticsWindow::syncScrollBar()
{
    const double from = delayChart_->visibleFrom(), to = delayChart_->visibleTo();
    const double runFrom = delayChart_->runFrom(), runTo = delayChart_->runTo();
    syncingScrollBar_ = true;
    if (delayChart_->isFollowing() || to - from >= runTo - runFrom) {
        scrollBar_->setRange(0, 0);
    } else {
        scrollBar_->setRange(int(std::lround(runFrom * kScrollUnitsPerCycle)),
                             int(std::lround((runTo - (to - from)) * kScrollUnitsPerCycle)));
        scrollBar_->setPageStep(int(std::lround((to - from) * kScrollUnitsPerCycle)));
        scrollBar_->setSingleStep(std::max(1, scrollBar_->pageStep() / 10));
        scrollBar_->setValue(int(std::lround(from * kScrollUnitsPerCycle)));
    }
    syncingScrollBar_ = false;
}

void StatisticsWindow::scrolled(int value)
{
    if (syncingScrollBar_)
        return;
    delayChart_->pan(value / kScrollUnitsPerCycle - delayChart_->visibleFrom());
}

bool StatisticsWindow::saveReport(const QString &base, QString *error)
{
    const RunStatistics &run = network_.statistics();
    RunSettings settings;
    settings.interfaceName = interfaceName_;
    if (!run.settingsHistory().empty()) {
        settings.cycleInterval = run.settingsHistory().back().cycleInterval;
        settings.slotDuration = run.settingsHistory().back().slotDuration;
        // The run's length as the beacons planned it, stretch by stretch.
        const auto &history = run.settingsHistory();
        const double lastCycle = delayChart_->runTo() - 0.5;
        for (size_t i = 0; i < history.size(); ++i) {
            const double end
                    = i + 1 < history.size() ? double(history[i + 1].firstCycle) : lastCycle + 1;
            settings.seconds
                    += (end - double(history[i].firstCycle)) * history[i].cycleInterval / 1000.0;
        }
    }
    settings.svGroupMask = run.lastSvGroupMask();
    settings.started = QDateTime::currentDateTime().addMSecs(-qint64(settings.seconds * 1000));

    auto write = [&](const QString &path, auto &&writer) {
        QSaveFile file(path);
        if (!file.open(QIODevice::WriteOnly) || !writer(file) || !file.commit()) {
            *error = QStringLiteral("%1: %2").arg(path, file.errorString());
            return false;
        }
        return true;
    };
    return write(base + QStringLiteral(".xml"),
                 [&](QIODevice &out) { return writeJUnit(out, run, settings); })
           && write(base + QStringLiteral(".csv"),
                    [&](QIODevice &out) { return writeCsv(out, run); })
           && write(base + QStringLiteral(".png"),
                    [&](QIODevice &out) { return delayChart_->grab().save(&out, "PNG"); });
}

void StatisticsWindow::askAndSave()
{
    QString path = QFileDialog::getSaveFileName(
            this, QStringLiteral("Save report (the .csv and .png go beside the .xml)"),
            QStringLiteral("talven-report.xml"), QStringLiteral("JUnit XML (*.xml)"));
    if (path.isEmpty())
        return;
    if (path.endsWith(QStringLiteral(".xml"), Qt::CaseInsensitive))
        path.chop(4);
    QString error;
    if (!saveReport(path, &error)) {
        QMessageBox::warning(this, windowTitle(),
                             QStringLiteral("Cannot save the report: %1").arg(error));
        return;
    }
    status_->setText(QStringLiteral("Saved %1.xml, .csv and .png").arg(path));
}
