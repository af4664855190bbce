#pragma once

#include "gateway/talvennetwork.h"

#include <QMainWindow>

class MarloNodeTableView;
class QEventTimeslotWidget;
class QLedWidget;
class QLabel;
class QMenu;
class QSpinBox;
class QTextBrowser;
class StatisticsWindow;

namespace talven {
class NetworkInterfaceDriver;
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

private:
    void correctBeaconInterval();
    void showRunFigures();
    QString nodeFiguresAt(const QPoint &viewportPosition) const;

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
    QLabel *runFigures = nullptr;
    // Made on first use; closing it only hides it, so it keeps its place and selection.
    StatisticsWindow *statisticsWindow = nullptr;
};
