#include "app/mainwindow.h"

#include "capture/framerecorder.h"
#include "gateway/runreport.h"
#include "mdw/talven/networkinterfacedriver.h"
#include "statsview/statisticswindow.h"
#include "widgets/marlonodetableview.h"
#include "widgets/qeventtimeslotwidget.h"
#include "widgets/qledwidget.h"

#include <QAction>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QSpinBox>
#include <QSplitter>
#include <QStatusBar>
#include <QTextBrowser>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QToolTip>

namespace {

// The beacon interval is kept a whole number of 33rds, at least as long as the slot duration.
constexpr int kIntervalStep = 33;
constexpr int kMinimumInterval = 330;
constexpr int kMaximumInterval = 32768;
constexpr int kDefaultInterval = 2013;
constexpr int kMinimumSlotDuration = 10;
constexpr int kDefaultSlotDuration = 50;
constexpr int kTimelineSlots = 32;
constexpr uint kFlashDuration = 50;
constexpr int kSvGroupCount = 16;

constexpr QSize kMinimumWindowSize(800, 400);
constexpr int kConsolePointSize = 9;
// Room around the two lamps at the end of the simulation tool bar, and after the run's figures.
constexpr int kLampMargin = 8;
constexpr int kFiguresMargin = 8;

} // namespace

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent)
    , continuousMode(false)
{
    setMinimumSize(kMinimumWindowSize);
    setEnabled(false);
    setFocusPolicy(Qt::StrongFocus);

    createPanes();
    QToolBar *mainToolBar = createMainToolBar();
    createSimulationToolBar();
    connectEngine();
    createRunFigures(mainToolBar);
    followRecording();
}

void MainWindow::createPanes()
{
    auto *splitter = new QSplitter(Qt::Vertical, this);
    setCentralWidget(splitter);

    timeslotWidget = new QEventTimeslotWidget(this);
    splitter->addWidget(timeslotWidget);
    timeslotWidget->setDatasource(&network);

    nodeTableView = new MarloNodeTableView(this);
    splitter->addWidget(nodeTableView);
    nodeTableView->setModel(&network);
    nodeTableView->resizeColumnsToContents();

    console = new QTextBrowser(this);
    // A family that matches nothing, so that the monospace style hint picks the font.
    QFont consoleFont("inexistant", -1, -1, false);
    consoleFont.setPointSize(kConsolePointSize);
    consoleFont.setStyleHint(QFont::Monospace, QFont::PreferDefault);
    console->setFont(consoleFont);
    console->setFocusPolicy(Qt::NoFocus);
    splitter->addWidget(console);
}

QToolBar *MainWindow::createMainToolBar()
{
    QToolBar *mainToolBar = addToolBar("Main");
    mainToolBar->setMovable(false);
    setUnifiedTitleAndToolBarOnMac(true);
    mainToolBar->addAction("Clear nodes list", this, SLOT(clearNodesList()));
    mainToolBar->addAction("Clear Console", console, SLOT(clear()));
    mainToolBar->addAction("Statistics", this, &MainWindow::showStatistics);
    recordAction = mainToolBar->addAction("Record...", this, &MainWindow::toggleRecording);
    // A tool button drops a trailing ellipsis from its text unless told otherwise.
    recordAction->setIconText(recordAction->text());
    return mainToolBar;
}

void MainWindow::createSimulationToolBar()
{
    auto *simulationToolBar = new QToolBar("Gateway Simulation", this);
    simulationToolBar->setMovable(false);
    addToolBar(Qt::BottomToolBarArea, simulationToolBar);

    simulationToolBar->addWidget(new QLabel("Gateway Simulation", this));
    simulationToolBar->addSeparator();

    addCycleControls(simulationToolBar);
    addSvGroupsMenu(simulationToolBar);
    addBeaconActions(simulationToolBar);
    addLamps(simulationToolBar);
}

void MainWindow::addCycleControls(QToolBar *toolBar)
{
    toolBar->addWidget(new QLabel("  Next Beacon:", this));
    nextBeaconSpinBox = new QSpinBox(this);
    nextBeaconSpinBox->setObjectName("nextBeaconSpinBox");
    nextBeaconSpinBox->setMinimum(kMinimumInterval);
    nextBeaconSpinBox->setMaximum(kMaximumInterval);
    nextBeaconSpinBox->setValue(kDefaultInterval);
    nextBeaconSpinBox->setSingleStep(kIntervalStep);
    nextBeaconSpinBox->setSuffix(" ms");
    connect(nextBeaconSpinBox, &QSpinBox::editingFinished, this, &MainWindow::correctBeaconInterval,
            Qt::DirectConnection);
    toolBar->addWidget(nextBeaconSpinBox);

    toolBar->addWidget(new QLabel("  Slot Duration:", this));
    slotDurationSpinBox = new QSpinBox(this);
    slotDurationSpinBox->setObjectName("slotDurationSpinBox");
    slotDurationSpinBox->setMinimum(kMinimumSlotDuration);
    slotDurationSpinBox->setMaximum(nextBeaconSpinBox->value() / kIntervalStep);
    slotDurationSpinBox->setValue(kDefaultSlotDuration);
    slotDurationSpinBox->setSingleStep(1);
    slotDurationSpinBox->setSuffix(" ms");
    toolBar->addWidget(slotDurationSpinBox);
}

void MainWindow::addSvGroupsMenu(QToolBar *toolBar)
{
    svGroupsMenu = new QMenu(this);
    for (int group = 0; group < kSvGroupCount; ++group) {
        QAction *entry = svGroupsMenu->addAction(QString("SV Group %1").arg(group));
        entry->setCheckable(true);
        entry->setChecked(true);
        entry->setData(QVariant(group));
    }
    auto *svGroupsButton = new QToolButton(this);
    svGroupsButton->setText("SV Groups...");
    svGroupsButton->setMenu(svGroupsMenu);
    svGroupsButton->setPopupMode(QToolButton::InstantPopup);
    toolBar->addWidget(svGroupsButton);
}

void MainWindow::addBeaconActions(QToolBar *toolBar)
{
    sendSingleBeaconAction = toolBar->addAction("Send Single Beacon");
    connect(sendSingleBeaconAction, &QAction::triggered, this, &MainWindow::sendSingleBeacon);

    continuousAction = toolBar->addAction("Send Beacons continuously");
    connect(continuousAction, SIGNAL(toggled(bool)), this, SLOT(sendBeaconContinuously(bool)));
    continuousAction->setCheckable(true);
}

// The lamps sit at the tool bar's far end.
void MainWindow::addLamps(QToolBar *toolBar)
{
    auto *spacer = new QWidget(this);
    spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    toolBar->addWidget(spacer);

    beaconLed = new QLedWidget(this);
    beaconLed->setContentsMargins(kLampMargin, kLampMargin, 0, kLampMargin);
    beaconLed->setColor(Qt::red);
    toolBar->addWidget(beaconLed);

    mpduLed = new QLedWidget(this);
    mpduLed->setContentsMargins(0, kLampMargin, kLampMargin, kLampMargin);
    mpduLed->setColor(Qt::green);
    toolBar->addWidget(mpduLed);
}

void MainWindow::connectEngine()
{
    connect(&network, &TalvenNetwork::error, this, &MainWindow::onError);
    connect(&network, &TalvenNetwork::beaconSend, this, &MainWindow::onBeaconSend);
    connect(&network, &TalvenNetwork::receivedMpdu, this, &MainWindow::onMpdu);
    connect(&network, &TalvenNetwork::cycleFinished, this, &MainWindow::onEndCycle);
    connect(&network, &TalvenNetwork::linkStateChanged, this, &MainWindow::onLinkStateChanged);
}

// The run's figures: a line at the end of the main tool bar, refreshed per cycle, and a tooltip per
// node row. The tool bar has room for it, so no pane loses height.
void MainWindow::createRunFigures(QToolBar *mainToolBar)
{
    auto *figuresSpacer = new QWidget(this);
    figuresSpacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    mainToolBar->addWidget(figuresSpacer);
    runFigures = new QLabel(this);
    runFigures->setContentsMargins(0, 0, kFiguresMargin, 0);
    mainToolBar->addWidget(runFigures);
    connect(&network, &TalvenNetwork::cycleFinished, this, &MainWindow::showRunFigures);
    connect(&network, &QAbstractItemModel::modelReset, this, &MainWindow::showRunFigures);
    nodeTableView->viewport()->installEventFilter(this);
    showRunFigures();
}

// The frame count follows every frame the engine reports.
void MainWindow::followRecording()
{
    connect(&network, &TalvenNetwork::beaconSend, this, &MainWindow::showRecording);
    connect(&network, &TalvenNetwork::receivedMpdu, this, &MainWindow::showRecording);
    connect(&network, &TalvenNetwork::cycleFinished, this, &MainWindow::showRecording);
}

// The recording ends first, then the engine (with it the driver, which closes its link), then the
// child widgets.
MainWindow::~MainWindow()
{
    if (recorder)
        network.removeObserver(recorder.get());
    // Closing the child widgets moves the focus, and a spin box that loses it reports
    // editingFinished: by then this is no longer a MainWindow to correct anything in.
    disconnect(nextBeaconSpinBox, nullptr, this, nullptr);
}

void MainWindow::setNetworkInterfaceDriver(talven::NetworkInterfaceDriver *driver)
{
    network.setNetworkInterfaceDriver(driver);
    interfaceName = QString::fromStdString(driver->name());
    setEnabled(true);
    setWindowTitle(QCoreApplication::applicationName() + " - "
                   + QString::fromUtf8(driver->name().c_str()));
}

void MainWindow::keyPressEvent(QKeyEvent *event)
{
    // The engine refuses the request while a cycle runs, so the action's state is not consulted.
    if (event->key() == Qt::Key_Space)
        sendSingleBeaconAction->activate(QAction::Trigger);
}

bool MainWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::ToolTip || watched != nodeTableView->viewport())
        return QMainWindow::eventFilter(watched, event);
    auto *help = static_cast<QHelpEvent *>(event);
    const QString text = nodeFiguresAt(help->pos());
    if (text.isEmpty())
        QToolTip::hideText();
    else
        QToolTip::showText(help->globalPos(), text, nodeTableView->viewport());
    return true;
}

QString MainWindow::nodeFiguresAt(const QPoint &viewportPosition) const
{
    const int row = nodeTableView->indexAt(viewportPosition).row();
    if (row < 0 || row >= network.nodes().size())
        return QString();
    const uint8_t id = network.nodes().at(row)->id;
    const NodeRunStatistics *node = network.statistics().node(id);
    if (!node)
        return QStringLiteral("Node %1: not judged in a cycle yet").arg(id);
    return QStringLiteral("Node %1 over the run\n").arg(id) + figuresText(*node).trimmed();
}

void MainWindow::showRunFigures()
{
    const RunStatistics &run = network.statistics();
    uint64_t answers = 0, inSlot = 0, faults = 0;
    for (const NodeRunStatistics *node : run.nodes()) {
        answers += node->answers;
        inSlot += node->inSlot;
        faults += node->faults();
    }
    runFigures->setText(QStringLiteral("Run: %1 cycles, %2 nodes, %3 MPDUs, %4 in slot, %5 faults")
                                .arg(run.cyclesClosed())
                                .arg(run.nodes().size())
                                .arg(answers)
                                .arg(inSlot)
                                .arg(faults));
}

void MainWindow::showStatistics()
{
    if (!statisticsWindow)
        statisticsWindow = new StatisticsWindow(network, this);
    statisticsWindow->setInterfaceName(interfaceName);
    statisticsWindow->show();
    statisticsWindow->raise();
    statisticsWindow->activateWindow();
}

void MainWindow::correctBeaconInterval()
{
    const int interval = nextBeaconSpinBox->value();
    if (interval % kIntervalStep != 0)
        nextBeaconSpinBox->setValue(interval - interval % kIntervalStep + kIntervalStep);

    const int slotMaximum = nextBeaconSpinBox->value() / kIntervalStep;
    slotDurationSpinBox->setMaximum(slotMaximum);
    if (slotDurationSpinBox->value() > slotMaximum) {
        slotDurationSpinBox->setValue(slotMaximum);
        slotDurationSpinBox->update();
    }
}

void MainWindow::sendSingleBeacon()
{
    // Space still reaches here while the commands are greyed out for a lost link.
    if (!network.isLinkUp())
        return;
    quint32 mask = 0;
    for (const QAction *entry : svGroupsMenu->actions()) {
        if (entry->isChecked())
            mask |= 1u << entry->data().toUInt();
    }
    network.sendBeacon(nextBeaconSpinBox->value(), slotDurationSpinBox->value(), mask);
}

void MainWindow::sendBeaconContinuously(bool enabled)
{
    continuousMode = enabled;
    if (enabled) {
        sendSingleBeaconAction->setEnabled(false);
        sendSingleBeacon();
    }
}

void MainWindow::onError(const QString &error)
{
    const uint time = uint(network.beaconTime());
    const QChar zero('0');
    const QString stamp = QString("%1:%2:%3.%4")
                                  .arg(time / 3600000, 2, 10, zero)
                                  .arg(time / 60000 % 60, 2, 10, zero)
                                  .arg(time / 1000 % 60, 2, 10, zero)
                                  .arg(time % 1000, 3, 10, zero);
    console->append(QString("[ERROR %1] %2").arg(stamp).arg(error));
    console->moveCursor(QTextCursor::End, QTextCursor::MoveAnchor);
}

void MainWindow::clearNodesList()
{
    network.clearNodes();
    timeslotWidget->repaint();
}

void MainWindow::onBeaconSend()
{
    sendSingleBeaconAction->setEnabled(false);
    timeslotWidget->startTimeCursor(kTimelineSlots * slotDurationSpinBox->value());
    beaconLed->flash(kFlashDuration);
}

void MainWindow::onMpdu(int)
{
    nodeTableView->reset();
    timeslotWidget->repaint();
    mpduLed->flash(kFlashDuration);
}

void MainWindow::onEndCycle()
{
    // In continuous mode the next beacon goes out first, so the refresh below shows the new
    // cycle's starting state.
    // Without a link the next beacon waits for it (onLinkStateChanged).
    if (continuousMode)
        sendSingleBeacon();
    else
        sendSingleBeaconAction->setEnabled(network.isLinkUp());
    nodeTableView->reset();
    timeslotWidget->repaint();
}

void MainWindow::toggleRecording()
{
    if (recorder) {
        stopRecording();
        return;
    }
    const QString suggestion = QDir::home().filePath(QDateTime::currentDateTime().toString(
            QStringLiteral("'talven-'yyyyMMdd-HHmmss'.pcapng'")));
    const QString path = QFileDialog::getSaveFileName(
            this, QStringLiteral("Record frames"), suggestion,
            QStringLiteral("pcapng captures (*.pcapng);;All files (*)"));
    if (path.isEmpty() || recorder)
        return;

    auto next = std::make_unique<capture::FrameRecorder>();
    if (!next->open(path, QCoreApplication::applicationName())
        || !next->setInterface(interfaceName)) {
        QMessageBox::warning(this, QCoreApplication::applicationName(),
                             QStringLiteral("Cannot record to %1:\n%2")
                                     .arg(QDir::toNativeSeparators(path), next->errorString()));
        return;
    }
    recorder = std::move(next);
    network.addObserver(recorder.get());
    recordAction->setText(QStringLiteral("Stop recording"));
    recordAction->setIconText(recordAction->text());
    // The status bar appears only while recording: the tool bars have no room to spare, and the
    // window stays as it was otherwise.
    if (!recordingStatus) {
        recordingStatus = new QLabel(this);
        statusBar()->addPermanentWidget(recordingStatus, 1);
    }
    statusBar()->show();
    showRecording();
}

void MainWindow::showRecording()
{
    if (!recorder)
        return;
    if (recorder->hasFailed()) {
        const QString text = QStringLiteral("Recording to %1 stopped:\n%2")
                                     .arg(QDir::toNativeSeparators(recorder->fileName()),
                                          recorder->errorString());
        stopRecording();
        // Not from inside the engine's signal: the message box runs an event loop of its own.
        QTimer::singleShot(0, this, [this, text] {
            QMessageBox::warning(this, QCoreApplication::applicationName(), text);
        });
        return;
    }
    recordingStatus->setText(QStringLiteral("Recording to %1: %2 frames")
                                     .arg(QDir::toNativeSeparators(recorder->fileName()))
                                     .arg(recorder->frameCount()));
}

void MainWindow::stopRecording()
{
    if (!recorder)
        return;
    network.removeObserver(recorder.get());
    recorder->close();
    recorder.reset();
    recordAction->setText(QStringLiteral("Record..."));
    recordAction->setIconText(recordAction->text());
    statusBar()->hide();
}

void MainWindow::onLinkStateChanged(bool up)
{
    static const QString mark = QStringLiteral(" (no link)");
    const QString title = windowTitle();
    if (up && title.endsWith(mark))
        setWindowTitle(title.chopped(mark.size()));
    else if (!up && !title.endsWith(mark))
        setWindowTitle(title + mark);

    // Continuous mode stays switched on while the link is down and goes on when it is back.
    continuousAction->setEnabled(up);
    sendSingleBeaconAction->setEnabled(up && !continuousMode);
    if (up && continuousMode)
        sendSingleBeacon();
}
