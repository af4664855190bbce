#include "runner/gatewayrun.h"

#include "drivers/marloserialdriver.h"

#include <QCoreApplication>
#include <QDateTime>

namespace {

const char *const kSimulatorInterface = "Lumbrio virtual Network Interface";

} // namespace

CycleBuffer::CycleBuffer(verdict::Observer &target)
    : target_(target)
{}

void CycleBuffer::beaconSent(const verdict::Beacon &beacon)
{
    beacons_.push_back(beacon);
}

void CycleBuffer::frameJudged(const verdict::Frame &frame)
{
    frames_.push_back(frame);
    // The driver's bytes are gone once the report returns.
    frames_.back().bytes = nullptr;
    frames_.back().length = 0;
}

void CycleBuffer::nodeSilent(const verdict::Silent &silent)
{
    silent_.push_back(silent);
}

void CycleBuffer::cycleClosed(verdict::CycleNumber cycle)
{
    for (const verdict::Beacon &beacon : beacons_)
        target_.beaconSent(beacon);
    for (const verdict::Frame &frame : frames_)
        target_.frameJudged(frame);
    for (const verdict::Silent &silent : silent_)
        target_.nodeSilent(silent);
    target_.cycleClosed(cycle);
    beacons_.clear();
    frames_.clear();
    silent_.clear();
}

void CycleBuffer::nodesCleared()
{
    beacons_.clear();
    frames_.clear();
    silent_.clear();
    target_.nodesCleared();
}

GatewayRun::GatewayRun(const RunnerOptions &options, FILE *out, FILE *progress)
    : options_(options)
    , out_(out)
    , progress_(progress)
{
    engine_.addObserver(&buffer_);
    connect(&engine_, &TalvenNetwork::error, this, &GatewayRun::printLine);
    connect(&engine_, &TalvenNetwork::cycleFinished, this, &GatewayRun::onCycleFinished);
    // A run without its link proves nothing more: it ends with what the cycles before had shown.
    connect(&engine_, &TalvenNetwork::linkStateChanged, this, [this](bool up) {
        if (!up)
            finish(3, QStringLiteral("link lost"));
    });
}

GatewayRun::~GatewayRun()
{
    engine_.removeObserver(&buffer_);
    engine_.removeObserver(&recorder_);
}

bool GatewayRun::start(int &exitCode)
{
    // Report files are opened first: a run whose results cannot be kept is not worth starting.
    if (!openReport(options_.junitPath, junit_) || !openReport(options_.csvPath, csv_)) {
        exitCode = 2;
        return false;
    }
    if (!options_.pcapngPath.isEmpty()
        && !recorder_.open(options_.pcapngPath, QCoreApplication::applicationName())) {
        fprintf(stderr, "%s: cannot write %s: %s\n",
                qPrintable(QCoreApplication::applicationName()), qPrintable(options_.pcapngPath),
                qPrintable(recorder_.errorString()));
        exitCode = 2;
        return false;
    }

    QString name;
    talven::NetworkInterfaceDriver *driver = createDriver(name);
    if (!driver) {
        exitCode = 3;
        return false;
    }
    if (!driver->open()) {
        fprintf(stderr, "%s: cannot open %s\n", qPrintable(QCoreApplication::applicationName()),
                qPrintable(name));
        delete driver;
        exitCode = 3;
        return false;
    }
    engine_.setNetworkInterfaceDriver(driver);
    if (recorder_.isOpen()) {
        recorder_.setInterface(name);
        engine_.addObserver(&recorder_);
    }

    settings_.program = QCoreApplication::applicationName();
    settings_.interfaceName = name;
    settings_.cycleInterval = uint32_t(options_.interval);
    settings_.slotDuration = uint32_t(options_.slot);
    settings_.svGroupMask = options_.svGroupMask;
    settings_.cyclesPlanned = options_.cycles;
    settings_.expected = options_.expected;
    settings_.maxFaults = options_.maxFaults;
    settings_.started = QDateTime::currentDateTime();

    fprintf(out_, "%s: %s, %llu cycles, interval %d ms, slot %d ms, SV groups 0x%04x\n",
            qPrintable(settings_.program), qPrintable(name),
            static_cast<unsigned long long>(options_.cycles), options_.interval, options_.slot,
            options_.svGroupMask);
    if (options_.interval != options_.requestedInterval || options_.slot != options_.requestedSlot)
        fprintf(out_, "%s: corrected from interval %d ms, slot %d ms\n",
                qPrintable(settings_.program), options_.requestedInterval, options_.requestedSlot);

    // Expected nodes get their records now, so that a node that never answers is charged every
    // cycle like one that stopped answering.
    QList<int> expected = options_.expected.values();
    std::sort(expected.begin(), expected.end());
    for (int id : expected)
        engine_.nodeFor(uint8_t(id));

    clock_.start();
    engine_.sendBeacon(options_.interval, options_.slot, options_.svGroupMask);
    return true;
}

void GatewayRun::interrupt()
{
    finish(130, QStringLiteral("interrupted"));
}

bool GatewayRun::openReport(const QString &path, QFile &file)
{
    if (path.isEmpty())
        return true;
    file.setFileName(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return true;
    fprintf(stderr, "%s: cannot write %s: %s\n", qPrintable(QCoreApplication::applicationName()),
            qPrintable(path), qPrintable(file.errorString()));
    return false;
}

talven::NetworkInterfaceDriver *GatewayRun::createDriver(QString &name)
{
    if (!options_.serialPath.isEmpty()) {
        name = QStringLiteral("Marlo Gateway at %1").arg(options_.serialPath);
        return new MarloSerialDriver(options_.serialPath.toStdString());
    }

    name = options_.interfaceName.isEmpty() ? QString::fromLatin1(kSimulatorInterface)
                                            : options_.interfaceName;
    for (const auto *descriptor :
         talven::NetworkInterfaceDriver::Descriptor::availableDescriptors()) {
        if (QString::fromStdString(descriptor->name()) == name)
            return descriptor->instantiate();
    }
    fprintf(stderr, "%s: no interface named \"%s\" (see --list-interfaces)\n",
            qPrintable(QCoreApplication::applicationName()), qPrintable(name));
    return nullptr;
}

void GatewayRun::printLine(const QString &text)
{
    fprintf(out_, "[ERROR %s] %s\n", qPrintable(clockText(uint32_t(engine_.beaconTime()))),
            qPrintable(text));
}

void GatewayRun::onCycleFinished()
{
    if (finished_)
        return;
    fflush(out_);
    if (statistics_.cyclesClosed() >= options_.cycles) {
        finish(runPassed(nodeResults(statistics_, settings_)) ? 0 : 1);
        return;
    }
    showProgress();
    engine_.sendBeacon(options_.interval, options_.slot, options_.svGroupMask);
}

void GatewayRun::showProgress()
{
    if (!progress_)
        return;
    uint64_t faults = 0;
    for (const NodeRunStatistics *node : statistics_.nodes())
        faults += node->faults();
    fprintf(progress_, "\rcycle %llu of %llu, %llu faults so far\x1b[K",
            static_cast<unsigned long long>(statistics_.cyclesClosed() + 1),
            static_cast<unsigned long long>(options_.cycles),
            static_cast<unsigned long long>(faults));
    fflush(progress_);
}

void GatewayRun::finish(int exitCode, const QString &reason)
{
    if (finished_)
        return;
    finished_ = true;
    if (progress_) {
        fputs("\r\x1b[K", progress_);
        fflush(progress_);
    }

    settings_.seconds = clock_.isValid() ? clock_.elapsed() / 1000.0 : 0;
    settings_.endedEarly = reason;
    const QList<NodeResult> results = nodeResults(statistics_, settings_);

    fprintf(out_, "\n%s: %llu of %llu cycles%s\n", qPrintable(settings_.program),
            static_cast<unsigned long long>(statistics_.cyclesClosed()),
            static_cast<unsigned long long>(options_.cycles),
            reason.isEmpty() ? "" : qPrintable(QStringLiteral(", ") + reason));
    fputs(qPrintable(summaryTable(statistics_, settings_)), out_);
    for (const NodeResult &result : results) {
        if (!result.expected)
            fprintf(out_, "node %d answered but was not expected\n", result.node);
        else if (!result.passed && result.statistics)
            fprintf(out_, "node %d failed: %s\n", result.node,
                    qPrintable(faultKindsText(*result.statistics)));
        else if (!result.passed)
            fprintf(out_, "node %d failed: never judged\n", result.node);
    }
    if (results.isEmpty())
        fprintf(out_, "no node was judged\n");
    fflush(out_);

    if (!writeReports() && exitCode < 2)
        exitCode = 2;
    emit finished(exitCode);
}

bool GatewayRun::writeReports()
{
    bool written = true;
    if (junit_.isOpen()) {
        written = writeJUnit(junit_, statistics_, settings_) && junit_.flush() && written;
        junit_.close();
    }
    if (csv_.isOpen()) {
        written = writeCsv(csv_, statistics_) && csv_.flush() && written;
        csv_.close();
    }
    if (recorder_.isOpen()) {
        recorder_.close();
        if (recorder_.hasFailed()) {
            fprintf(stderr, "%s: the capture %s is incomplete: %s\n", qPrintable(settings_.program),
                    qPrintable(recorder_.fileName()), qPrintable(recorder_.errorString()));
            written = false;
        }
    }
    if (!written)
        fprintf(stderr, "%s: a report could not be written completely\n",
                qPrintable(settings_.program));
    return written;
}
