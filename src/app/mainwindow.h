#pragma once

#include "gateway/talvennetwork.h"

#include <QMainWindow>

#include <memory>

class MarloNodeTableView;
class QEventTimeslotWidget;
class QLedWidget;
class QLabel;
class QMenu;
class QSpinBox;
class QTextBrowser;
class QToolBar;
class StatisticsWindow;

namespace talven {
class NetworkInterfaceDriver;
}
namespace capture {
class FrameRecorder;
}

// The testbench's only window and the owner of the simulated gateway. It shows the engine's cycle
// timeline, node table and log console in three stacked panes, and offers the controls that drive
// the engine: beacon interval, slot duration, SV groups, single and continuous beacons. It comes
// out disabled and is enabled once it is handed an opened driver. GUI thread only.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    // Takes an opened driver (the engine owns it from now on) and enables the window.
    void setNetworkInterfaceDriver(talven::NetworkInterfaceDriver *driver);

protected:
    void keyPressEvent(QKeyEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private slots:
    void sendSingleBeacon();
    void sendBeaconContinuously(bool enabled);
    void onError(const QString &error);
    void clearNodesList();
    void onBeaconSend();
    void onMpdu(int sensorId);
    void onEndCycle();
    void showStatistics();
    void toggleRecording();

private:
    // The constructor's steps, in the order the window is built.
    void createPanes();
    QToolBar *createMainToolBar();
    void createSimulationToolBar();
    void addCycleControls(QToolBar *toolBar);
    void addSvGroupsMenu(QToolBar *toolBar);
    void addBeaconActions(QToolBar *toolBar);
    void addLamps(QToolBar *toolBar);
    void connectEngine();
    void createRunFigures(QToolBar *mainToolBar);
    void followRecording();

    void correctBeaconInterval();
    // A lost link greys out the beacon commands and marks the title until it is back.
    void onLinkStateChanged(bool up);
    void showRunFigures();
    QString nodeFiguresAt(const QPoint &viewportPosition) const;
    void showRecording();
    void stopRecording();

    TalvenNetwork network;
    QEventTimeslotWidget *timeslotWidget;
    MarloNodeTableView *nodeTableView;
    QTextBrowser *console;
    QSpinBox *nextBeaconSpinBox;
    QSpinBox *slotDurationSpinBox;
    QAction *sendSingleBeaconAction;
    QMenu *svGroupsMenu;
    QLedWidget *beaconLed;
    QLedWidget *mpduLed;
    bool continuousMode;
    QAction *continuousAction = nullptr;
    QLabel *runFigures = nullptr;
    // Made on first use; closing it only hides it, so it keeps its place and selection.
    StatisticsWindow *statisticsWindow = nullptr;
    // Recording of the link's frames to a capture file: the action starts and stops it, the label
    // in the status bar shows the file and its frame count while it runs.
    QAction *recordAction = nullptr;
    QLabel *recordingStatus = nullptr;
    QString interfaceName;
    std::unique_ptr<capture::FrameRecorder> recorder;
};
