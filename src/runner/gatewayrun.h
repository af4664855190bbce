#pragma once

#include "capture/framerecorder.h"
#include "gateway/runreport.h"
#include "gateway/runstatistics.h"
#include "gateway/talvennetwork.h"
#include "runner/options.h"

#include <QElapsedTimer>
#include <QFile>
#include <QObject>

#include <cstdio>
#include <memory>
#include <vector>

// Holds the verdicts of the running cycle and passes them on when the cycle closes, so that a run
// cut short reports whole cycles only.
class CycleBuffer : public verdict::Observer
{
public:
    explicit CycleBuffer(verdict::Observer &target);

    void beaconSent(const verdict::Beacon &beacon) override;
    void frameJudged(const verdict::Frame &frame) override;
    void nodeSilent(const verdict::Silent &silent) override;
    void cycleClosed(verdict::CycleNumber cycle) override;
    void nodesCleared() override;

private:
    verdict::Observer &target_;
    std::vector<verdict::Beacon> beacons_;
    std::vector<verdict::Frame> frames_;
    std::vector<verdict::Silent> silent_;
};

// One unattended run of talven-gateway: opens the interface, sends the beacons back to back,
// prints every engine line as the window would log it, and at the end the summary and the
// reports. Lives on the main thread.
class GatewayRun : public QObject
{
    Q_OBJECT

public:
    GatewayRun(const RunnerOptions &options, FILE *out, FILE *progress);
    ~GatewayRun() override;

    // Opens the report files and the interface and sends the first beacon. Returns false with
    // `exitCode` set when the run cannot start.
    bool start(int &exitCode);
    // Ends the run after the cycles completed; the running cycle is not reported.
    void interrupt();

signals:
    void finished(int exitCode);

private:
    bool openReport(const QString &path, QFile &file);
    talven::NetworkInterfaceDriver *createDriver(QString &name);
    void printLine(const QString &text);
    void onCycleFinished();
    void showProgress();
    void finish(int exitCode, const QString &reason = QString());
    bool writeReports();

    RunnerOptions options_;
    FILE *out_;
    FILE *progress_;
    TalvenNetwork engine_;
    RunStatistics statistics_;
    CycleBuffer buffer_{statistics_};
    RunSettings settings_;
    QFile junit_;
    QFile csv_;
    capture::FrameRecorder recorder_;
    QElapsedTimer clock_;
    bool finished_ = false;
};
