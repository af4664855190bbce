#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

class QMainWindow;

// What a script needs to drive the window without counting pixels: the window's size, the centre
// and size of every tool bar action's button in window coordinates, and per node row the colours
// and texts the table shows. Written as tab-separated lines to a file, replaced whole (never half
// written) whenever it changes, checked ten times a second. Owned by the window it reports on;
// GUI thread only. The testbench attaches one when TALVEN_TESTBENCH_REPORT names a file.
class WindowReport : public QObject
{
    Q_OBJECT

public:
    WindowReport(const QString &path, QMainWindow *window);

    // The report as it would be written now.
    QString text() const;

private:
    void write();

    QMainWindow *window_;
    QString path_;
    QString written_;
    bool failed_ = false;
    QTimer poll_;
};
