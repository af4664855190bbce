// talven-timing: runs real cycles against lumbrio-sim and prints how well each gateway keeps
// time: the engine alone, the engine with its window, talven-gateway and a plain Python asyncio
// gateway. Each configuration runs in a process of its own, with a fresh simulator; a probe
// connected to the simulator stamps every beacon as the nodes receive it.

#include "app/mainwindow.h"
#include "ardo/promptwakeup.h"
#include "drivers/nrflumbriodriver.h"
#include "gateway/talvennetwork.h"
#include "mdw/talven/frame.h"
#include "measure.h"

#include <QAction>
#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextDocument>
#include <QTimer>
#include <QtEndian>

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr quint16 kSimulatorPort = 8844;
const uint8_t kBeaconAddress[4] = {0xC7, 0xC7, 0xC7, 0xC7};

struct Settings
{
    int cycles = 60;
    int warmup = 3;
    int interval = 330;
    int slot = 10;
    QString nodes = QStringLiteral("0-31");
};

int64_t wallNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
                   std::chrono::system_clock::now().time_since_epoch())
            .count();
}

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
           + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

long peakKb()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// ---- an in-process gateway: the engine alone or with the window ----

// Stands between the engine and the simulator driver and notes when each beacon went out and
// when the driver took each MPDU.
class StampingDriver : public talven::NetworkInterfaceDriver
{
public:
    explicit StampingDriver(talven::NetworkInterfaceDriver *inner)
        : inner_(inner)
    {}
    ~StampingDriver() override { delete inner_; }

    std::string name() const override { return inner_->name(); }
    bool open() override { return inner_->open(); }
    bool isOpen() const override { return inner_->isOpen(); }
    uint32_t address() const override { return inner_->address(); }
    bool transmit(const uint8_t *data, size_t length) override
    {
        if (length == talven::Beacon::kLength && beaconSent)
            beaconSent(wallNs(), monotonicNs());
        return inner_->transmit(data, length);
    }
    void setReceiveHandler(ReceiveHandler handler) override
    {
        if (!handler) {
            inner_->setReceiveHandler(nullptr);
            return;
        }
        inner_->setReceiveHandler([this, handler](NetworkInterfaceDriver &, uint32_t time,
                                                  const uint8_t *data, size_t length) {
            const talven::Frame frame(ardo::SharedBuffer<uint8_t>::proxy(data, length));
            if (frame.type() == talven::FrameType::Mpdu && mpduTaken)
                mpduTaken(talven::MultiPdu(frame).sourceId(), inner_->receptionWallClockNs());
            handler(*this, time, data, length);
        });
    }
    int64_t receptionWallClockNs() const override { return inner_->receptionWallClockNs(); }
    void setLinkStateHandler(LinkStateHandler handler) override
    {
        inner_->setLinkStateHandler(std::move(handler));
    }

    std::function<void(int64_t wall, int64_t monotonic)> beaconSent;
    std::function<void(int node, int64_t wall)> mpduTaken;

private:
    talven::NetworkInterfaceDriver *inner_;
};

// Collects the figures of the measured cycles (those after the warm-up).
struct Recorder
{
    explicit Recorder(const Settings &settings)
        : settings(settings)
    {}

    void beacon(int64_t wall, int64_t monotonic)
    {
        ++beacons;
        if (beacons == settings.warmup + 1) {
            cpuAtStart = cpuSeconds();
            measuring = true;
        } else if (measuring) {
            periodErrors.push_back(
                    std::abs(double(monotonic - lastBeaconMonotonic) / 1e6 - settings.interval));
        }
        lastBeaconWall = wall;
        lastBeaconMonotonic = monotonic;
    }

    void mpdu(int node, int64_t wall)
    {
        if (!measuring)
            return;
        ++mpdus;
        delayErrors.push_back(double(wall - lastBeaconWall) / 1e6 - (node + 1.5) * settings.slot);
        stamps.push_back({node, wall});
    }

    bool lastBeaconSent() const { return beacons >= settings.warmup + settings.cycles; }

    QString result(int falseVerdicts) const
    {
        const double cpu = cpuSeconds() - cpuAtStart;
        std::vector<double> sorted = delayErrors;
        std::sort(sorted.begin(), sorted.end());
        return QString("RESULT mpdus=%1 delay_median=%2 delay_p99=%3 delay_max=%4 false=%5 "
                       "cpu_per_mpdu=%6 peak_kb=%7 sent_period=%8")
                .arg(mpdus)
                .arg(percentile(sorted, 50))
                .arg(percentile(sorted, 99))
                .arg(sorted.empty() ? NAN : sorted.back())
                .arg(falseVerdicts)
                .arg(mpdus ? cpu * 1000.0 / mpdus : NAN)
                .arg(peakKb())
                .arg(figures(periodErrors, {50, 99}).replace(' ', ""));
    }

    const Settings settings;
    int beacons = 0;
    bool measuring = false;
    int mpdus = 0;
    double cpuAtStart = 0;
    int64_t lastBeaconWall = 0;
    int64_t lastBeaconMonotonic = 0;
    std::vector<double> delayErrors;
    std::vector<double> periodErrors;
    std::vector<std::pair<int, int64_t>> stamps;
};

// Hands the reception stamps of the measured MPDUs to the orchestrator, one "node wall-ns" line
// each, in the file that --stamps names.
void writeStamps(const Recorder &recorder, const QStringList &arguments)
{
    const int at = arguments.indexOf("--stamps");
    if (at < 0 || at + 1 >= arguments.size())
        return;
    QFile file(arguments[at + 1]);
    if (!file.open(QIODevice::WriteOnly))
        return;
    for (const auto &stamp : recorder.stamps)
        file.write(QByteArray::number(stamp.first) + ' ' + QByteArray::number(qint64(stamp.second))
                   + '\n');
}

bool isFalseVerdict(const QString &line)
{
    return line.contains(QLatin1String(" to late: ")) || line.contains(QLatin1String(" to early: "))
           || line.contains(QLatin1String("No MPDU as a response"));
}

StampingDriver *openDriver(Recorder &recorder)
{
    auto *driver = new StampingDriver(new NrfLumbrioDriver(0xE2E2E2E2, "TALVEN Testbench"));
    if (!driver->open()) {
        fprintf(stderr, "talven-timing: the simulator driver did not open\n");
        delete driver;
        return nullptr;
    }
    driver->beaconSent = [&recorder](int64_t wall, int64_t mono) {
        recorder.beacon(wall, mono);
    };
    driver->mpduTaken = [&recorder](int node, int64_t wall) {
        recorder.mpdu(node, wall);
    };
    return driver;
}

int runEngine(const Settings &settings, const QStringList &arguments)
{
    Recorder recorder(settings);
    TalvenNetwork engine;
    int falseVerdicts = 0;
    QObject::connect(&engine, &TalvenNetwork::error, [&](const QString &line) {
        if (recorder.measuring && isFalseVerdict(line))
            ++falseVerdicts;
    });
    StampingDriver *driver = openDriver(recorder);
    if (!driver)
        return 1;
    engine.setNetworkInterfaceDriver(driver);
    // Back to back, from inside cycleFinished, as the window's continuous mode does it.
    QObject::connect(&engine, &TalvenNetwork::cycleFinished, [&] {
        if (recorder.lastBeaconSent())
            QCoreApplication::quit();
        else
            engine.sendBeacon(settings.interval, settings.slot, 0xFFFF);
    });
    engine.sendBeacon(settings.interval, settings.slot, 0xFFFF);
    QCoreApplication::exec();
    printf("%s\n", qPrintable(recorder.result(falseVerdicts)));
    writeStamps(recorder, arguments);
    return 0;
}

int runWindow(const Settings &settings, const QStringList &arguments)
{
    Recorder recorder(settings);
    MainWindow window;
    window.resize(1100, 650);
    window.show();
    window.findChild<QSpinBox *>("nextBeaconSpinBox")->setValue(settings.interval);
    window.findChild<QSpinBox *>("slotDurationSpinBox")->setValue(settings.slot);
    StampingDriver *driver = openDriver(recorder);
    if (!driver)
        return 1;
    window.setNetworkInterfaceDriver(driver);

    QAction *continuous = nullptr;
    for (QAction *action : window.findChildren<QAction *>()) {
        if (action->text() == QLatin1String("Send Beacons continuously"))
            continuous = action;
    }
    QTextDocument *console = window.findChild<QTextBrowser *>()->document();
    int firstMeasuredLine = -1;
    auto beaconSent = driver->beaconSent;
    driver->beaconSent = [&, beaconSent](int64_t wall, int64_t mono) {
        beaconSent(wall, mono);
        if (recorder.measuring && firstMeasuredLine < 0)
            firstMeasuredLine = console->blockCount();
        if (!recorder.lastBeaconSent())
            return;
        // Switched off once the loop is back; the running cycle then ends as usual.
        QTimer::singleShot(0, continuous, [continuous] { continuous->setChecked(false); });
        QTimer::singleShot(settings.interval + 100, &QCoreApplication::quit);
    };
    continuous->setChecked(true);
    QApplication::exec();

    int falseVerdicts = 0;
    for (int i = std::max(firstMeasuredLine - 1, 0); i < console->blockCount(); ++i) {
        if (isFalseVerdict(console->findBlockByNumber(i).text()))
            ++falseVerdicts;
    }
    printf("%s\n", qPrintable(recorder.result(falseVerdicts)));
    writeStamps(recorder, arguments);
    return 0;
}

// ---- the orchestrator ----

// Connects to the simulator like a second gateway and stamps each beacon and each MPDU the
// moment it arrives: when the simulator itself put an MPDU on the medium late, a late verdict
// is deserved, whatever the gateway under test does. The probe joins the medium before the
// gateway, so it is served first.
class Probe
{
public:
    struct Arrival
    {
        int64_t monotonicNs;
        int64_t wallNs;
        int node; // -1 for a beacon
    };

    bool start()
    {
        fd_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(kSimulatorPort);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (fd_ < 0 || ::connect(fd_, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0)
            return false;
        const int on = 1;
        setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        const QByteArray name = QByteArray::fromHex("0300000006") + "\x05probe";
        QByteArray address4 = QByteArray::fromHex("030000000501");
        address4.resize(10);
        for (int i = 0; i < 4; ++i)
            address4[6 + i] = char(talven::MPDU_ADDRESS[size_t(i)]);
        if (write(fd_, name.constData(), size_t(name.size())) != name.size())
            return false;
        usleep(10000);
        if (write(fd_, address4.constData(), 10) != 10)
            return false;
        thread_ = std::thread([this] { read(); });
        return true;
    }

    std::vector<Arrival> stop()
    {
        stopping_ = true;
        if (thread_.joinable())
            thread_.join();
        if (fd_ >= 0)
            close(fd_);
        return arrivals_;
    }

private:
    void read()
    {
        // The probe's stamps are the reference: they must not wait for a busy gateway or simulator.
        ardo::preferPromptWakeUps();
        QByteArray buffer;
        char chunk[4096];
        while (!stopping_) {
            pollfd waiting{fd_, POLLIN, 0};
            if (poll(&waiting, 1, 100) <= 0)
                continue;
            const int64_t now = monotonicNs();
            const int64_t wall = wallNs();
            const ssize_t got = recv(fd_, chunk, sizeof chunk, 0);
            if (got <= 0)
                return;
            buffer.append(chunk, int(got));
            while (buffer.size() >= 5) {
                const quint32 length = qFromBigEndian<quint32>(buffer.constData() + 1);
                if (buffer.size() < 5 + int(length))
                    break;
                const auto *frame = reinterpret_cast<const uint8_t *>(buffer.constData() + 6);
                if (buffer.at(0) == char(1) && length >= 7 && memcmp(frame, kBeaconAddress, 4) == 0)
                    arrivals_.push_back({now, wall, -1});
                else if (buffer.at(0) == char(1) && length >= 7 && (frame[5] & 0x80))
                    arrivals_.push_back({now, wall, frame[5] & 0x7F});
                buffer.remove(0, 5 + int(length));
            }
        }
    }

    int fd_ = -1;
    std::thread thread_;
    std::atomic<bool> stopping_{false};
    std::vector<Arrival> arrivals_;
};

struct ChildRun
{
    int status = -1;
    QByteArray output;
    double cpuSeconds = 0;
    long peakKb = 0;
};

// Runs a program to its end, with its standard output captured and its resource use measured.
ChildRun runChild(const QStringList &command)
{
    ChildRun run;
    int pipeFds[2];
    if (pipe(pipeFds) != 0)
        return run;
    std::vector<QByteArray> arguments;
    for (const QString &argument : command)
        arguments.push_back(argument.toLocal8Bit());
    std::vector<char *> argv;
    for (QByteArray &argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    const pid_t pid = fork();
    if (pid == 0) {
        dup2(pipeFds[1], STDOUT_FILENO);
        close(pipeFds[0]);
        close(pipeFds[1]);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    close(pipeFds[1]);
    char chunk[4096];
    ssize_t got;
    while ((got = read(pipeFds[0], chunk, sizeof chunk)) > 0)
        run.output.append(chunk, int(got));
    close(pipeFds[0]);
    int status = 0;
    rusage usage{};
    if (pid > 0 && wait4(pid, &status, 0, &usage) == pid) {
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        run.cpuSeconds = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
                         + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
        run.peakKb = usage.ru_maxrss;
    }
    return run;
}

std::map<QString, QString> resultFields(const QByteArray &output)
{
    std::map<QString, QString> fields;
    for (const QByteArray &line : output.split('\n')) {
        if (!line.startsWith("RESULT "))
            continue;
        for (const QByteArray &pair : line.mid(7).split(' ')) {
            const int equals = pair.indexOf('=');
            if (equals > 0)
                fields[QString::fromLatin1(pair.left(equals))]
                        = QString::fromLatin1(pair.mid(equals + 1));
        }
    }
    return fields;
}

// The MPDU delays of a talven-gateway run, from the nanosecond stamps of its pcapng capture.
using Stamps = std::vector<std::pair<int, int64_t>>; // node, reception wall clock in ns

std::vector<double> captureDelayErrors(const QString &path, const Settings &settings, int *mpdus,
                                       Stamps *stamps)
{
    std::vector<double> errors;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return errors;
    const QByteArray bytes = file.readAll();
    int64_t beaconNs = -1;
    int beacons = 0;
    for (int at = 0; at + 12 <= bytes.size();) {
        const quint32 type = qFromLittleEndian<quint32>(bytes.constData() + at);
        const quint32 length = qFromLittleEndian<quint32>(bytes.constData() + at + 4);
        if (length < 12 || at + int(length) > bytes.size())
            break;
        if (type == 6 && length >= 32) {
            const char *block = bytes.constData() + at + 8;
            const uint64_t stamp = (uint64_t(qFromLittleEndian<quint32>(block + 4)) << 32)
                                   | qFromLittleEndian<quint32>(block + 8);
            const quint32 captured = qFromLittleEndian<quint32>(block + 12);
            const auto *frame = reinterpret_cast<const uint8_t *>(block + 20);
            if (captured >= 6 && memcmp(frame, kBeaconAddress, 4) == 0) {
                ++beacons;
                beaconNs = int64_t(stamp);
            } else if (captured >= 6 && (frame[5] & 0x80) && beacons > settings.warmup) {
                ++*mpdus;
                errors.push_back(double(int64_t(stamp) - beaconNs) / 1e6
                                 - ((frame[5] & 0x7F) + 1.5) * settings.slot);
                stamps->push_back({frame[5] & 0x7F, int64_t(stamp)});
            }
        }
        at += int(length);
    }
    return errors;
}

Stamps readStamps(const QString &path)
{
    Stamps stamps;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return stamps;
    while (!file.atEnd()) {
        const QList<QByteArray> fields = file.readLine().trimmed().split(' ');
        if (fields.size() == 2)
            stamps.push_back({fields[0].toInt(), fields[1].toLongLong()});
    }
    return stamps;
}

// How long after the probe each MPDU was stamped by the gateway: the simulator writes an MPDU to
// the probe and then to the gateway, so this is the gateway's own share of the delay error,
// without the simulator's lateness. Each stamp is paired with the probe's arrival of the same
// node nearest in time (a node answers once a cycle).
std::vector<double> stampErrors(const Stamps &stamps, const std::vector<Probe::Arrival> &arrivals)
{
    std::map<int, std::vector<int64_t>> byNode;
    for (const Probe::Arrival &arrival : arrivals) {
        if (arrival.node >= 0)
            byNode[arrival.node].push_back(arrival.wallNs);
    }
    std::vector<double> errors;
    for (const auto &stamp : stamps) {
        const std::vector<int64_t> &times = byNode[stamp.first];
        const auto next = std::lower_bound(times.begin(), times.end(), stamp.second);
        int64_t best = INT64_MAX;
        if (next != times.end())
            best = *next - stamp.second;
        if (next != times.begin() && stamp.second - *(next - 1) < std::llabs(best))
            best = *(next - 1) - stamp.second;
        if (best != INT64_MAX)
            errors.push_back(double(-best) / 1e6);
    }
    return errors;
}

int csvFalseVerdicts(const QString &path, const Settings &settings)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    int count = 0;
    file.readLine();
    while (!file.atEnd()) {
        const QList<QByteArray> fields = file.readLine().trimmed().split(',');
        if (fields.size() >= 5 && fields[0].toInt() > settings.warmup && fields[4] != "in slot")
            ++count;
    }
    return count;
}

struct Column
{
    QString title;
    std::map<QString, QString> rows;
};

bool simulatorPortTaken()
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(kSimulatorPort);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool taken = ::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
    close(fd);
    return taken;
}

// Waits for our own simulator: one that could not take the port ends at once, and then whatever
// else listens there would be measured instead.
bool waitForSimulator(pid_t simulator)
{
    for (int i = 0; i < 100; ++i) {
        if (waitpid(simulator, nullptr, WNOHANG) != 0)
            return false;
        if (simulatorPortTaken())
            return true;
        usleep(50000);
    }
    return false;
}

Column measure(const QString &config, const QStringList &command, const QString &simulator,
               const Settings &settings, const QString &capture, const QString &csv,
               const QString &stampsPath)
{
    Column column;
    column.title = config;
    if (simulatorPortTaken()) {
        column.rows["error"] = QString("port %1 is in use").arg(kSimulatorPort);
        return column;
    }
    const pid_t sim = fork();
    if (sim == 0) {
        const QByteArray program = simulator.toLocal8Bit();
        const QByteArray nodes = settings.nodes.toLocal8Bit();
        freopen("/dev/null", "w", stdout);
        execl(program.constData(), program.constData(), "--nodes", nodes.constData(), nullptr);
        _exit(127);
    }
    Probe probe;
    if (!waitForSimulator(sim) || !probe.start()) {
        column.rows["error"] = "no simulator";
        kill(sim, SIGTERM);
        waitpid(sim, nullptr, 0);
        return column;
    }
    fprintf(stderr, "talven-timing: %s ...\n", qPrintable(config));
    const ChildRun run = runChild(command);
    const std::vector<Probe::Arrival> arrivals = probe.stop();
    kill(sim, SIGTERM);
    waitpid(sim, nullptr, 0);

    std::vector<double> periodErrors;
    std::vector<double> sendErrors;
    int beacons = 0;
    int64_t lastBeacon = 0;
    int sentOutside = 0;
    for (const Probe::Arrival &arrival : arrivals) {
        if (arrival.node < 0) {
            if (++beacons > settings.warmup + 1)
                periodErrors.push_back(std::abs(double(arrival.monotonicNs - lastBeacon) / 1e6
                                                - settings.interval));
            lastBeacon = arrival.monotonicNs;
        } else if (beacons > settings.warmup) {
            const double error = double(arrival.monotonicNs - lastBeacon) / 1e6
                                 - (arrival.node + 1.5) * settings.slot;
            sendErrors.push_back(error);
            if (std::abs(error) >= settings.slot / 2.0)
                ++sentOutside;
        }
    }
    column.rows["period"] = figures(periodErrors, {50, 99});
    column.rows["sent"] = figures(sendErrors, {50, 99, 100});
    column.rows["sent outside"] = QString::number(sentOutside);

    std::map<QString, QString> fields = resultFields(run.output);
    if (config == "talven-gateway") {
        int mpdus = 0;
        Stamps stamps;
        const std::vector<double> errors = captureDelayErrors(capture, settings, &mpdus, &stamps);
        column.rows["stamp"] = figures(stampErrors(stamps, arrivals), {50, 99, 100});
        column.rows["delay"] = figures(errors, {50, 99, 100});
        column.rows["false"] = QString::number(csvFalseVerdicts(csv, settings));
        column.rows["mpdus"] = QString::number(mpdus);
        column.rows["cpu"]
                = mpdus ? QString::number(run.cpuSeconds * 1000 / mpdus, 'f', 3) + " *" : "-";
        column.rows["memory"] = QString::number(run.peakKb / 1024.0, 'f', 1) + " MB";
    } else if (fields.count("mpdus")) {
        column.rows["delay"] = QString("%1 / %2 / %3")
                                       .arg(fields["delay_median"].toDouble(), 0, 'f', 2)
                                       .arg(fields["delay_p99"].toDouble(), 0, 'f', 2)
                                       .arg(fields["delay_max"].toDouble(), 0, 'f', 2);
        column.rows["false"] = fields["false"];
        column.rows["mpdus"] = fields["mpdus"];
        if (!stampsPath.isEmpty())
            column.rows["stamp"]
                    = figures(stampErrors(readStamps(stampsPath), arrivals), {50, 99, 100});
        column.rows["cpu"] = QString::number(fields["cpu_per_mpdu"].toDouble(), 'f', 3);
        column.rows["memory"]
                = QString::number(fields["peak_kb"].toDouble() / 1024.0, 'f', 1) + " MB";
        if (fields.count("sent_period"))
            column.rows["sent period"] = fields["sent_period"].replace("/", " / ");
    }
    // talven-gateway ends with 1 when a node has faults, which is a verdict, not a failure.
    if (run.status != 0 && !(config == "talven-gateway" && run.status == 1))
        column.rows["error"] = QString("exit status %1").arg(run.status);
    return column;
}

void printTable(const std::vector<Column> &columns, const Settings &settings)
{
    const QList<QPair<QString, QString>> rows = {
            {"delay", "delay minus true send offset, median / p99 / max (ms)"},
            {"false", "false verdicts for punctual nodes"},
            {"sent",
             "simulator's send time (at a probe) minus true offset, median / p99 / max (ms)"},
            {"sent outside", "MPDUs the simulator itself sent outside their slot (at a probe)"},
            {"stamp", "reception stamp minus the probe's, median / p99 / max (ms)"},
            {"mpdus", "MPDUs measured"},
            {"period", "beacon period error at the nodes, median / p99 (ms)"},
            {"sent period", "beacon period error at transmit(), median / p99 (ms)"},
            {"cpu", "CPU per MPDU (ms)"},
            {"memory", "peak memory (resident)"},
            {"error", "problem"},
    };
    printf("%d measured cycles (after %d of warm-up), interval %d ms, slot %d ms, nodes %s\n\n",
           settings.cycles, settings.warmup, settings.interval, settings.slot,
           qPrintable(settings.nodes));
    QString header = "| figure |";
    QString rule = "|---|";
    for (const Column &column : columns) {
        header += " " + column.title + " |";
        rule += "---|";
    }
    printf("%s\n%s\n", qPrintable(header), qPrintable(rule));
    for (const auto &row : rows) {
        bool any = false;
        QString line = "| " + row.second + " |";
        for (const Column &column : columns) {
            const auto found = column.rows.find(row.first);
            any = any || found != column.rows.end();
            line += " " + (found != column.rows.end() ? found->second : QString("-")) + " |";
        }
        if (any)
            printf("%s\n", qPrintable(line));
    }
}

int orchestrate(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
            "Runs real cycles against lumbrio-sim (TCP port 8844, which must be free) and prints\n"
            "the timing figures of each gateway: the delay of each MPDU minus the simulator's "
            "true\n"
            "send offset ((n + 1.5) slot durations after the beacon reached it), false verdicts,\n"
            "the beacon period error as the nodes see it, CPU time per MPDU and peak memory.\n"
            "The window runs on the Qt platform of the environment (offscreen when unset).");
    parser.addHelpOption();
    const QCommandLineOption cycles("cycles", "Measured cycles (default 60).", "n", "60");
    const QCommandLineOption warmup("warmup", "Cycles before measuring (default 3).", "n", "3");
    const QCommandLineOption interval("interval", "Cycle interval in ms (default 330).", "ms",
                                      "330");
    const QCommandLineOption slot("slot", "Slot duration in ms (default 10).", "ms", "10");
    const QCommandLineOption nodes("nodes", "Simulated nodes (default 0-31).", "list", "0-31");
    const QCommandLineOption only(
            "only", "Comma-separated subset of: engine, window, talven-gateway, python.", "list",
            "engine,window,talven-gateway,python");
    const QCommandLineOption build("build-dir", "Build directory with the programs.", "dir",
                                   QDir::currentPath());
    const QCommandLineOption source("source-dir", "Source directory (for the Python gateway).",
                                    "dir", QDir::currentPath());
    parser.addOptions({cycles, warmup, interval, slot, nodes, only, build, source});
    parser.process(arguments);

    Settings settings;
    settings.cycles = parser.value(cycles).toInt();
    settings.warmup = parser.value(warmup).toInt();
    settings.interval = parser.value(interval).toInt();
    settings.slot = parser.value(slot).toInt();
    settings.nodes = parser.value(nodes);
    const QString buildDir = parser.value(build);
    const QString simulator = buildDir + "/tools/lumbrio-sim/lumbrio-sim";
    if (!QFileInfo(simulator).isExecutable()) {
        fprintf(stderr, "talven-timing: no simulator at %s (see --build-dir)\n",
                qPrintable(simulator));
        return 2;
    }
    const QStringList common = {"--cycles",   QString::number(settings.cycles),
                                "--warmup",   QString::number(settings.warmup),
                                "--interval", QString::number(settings.interval),
                                "--slot",     QString::number(settings.slot)};
    QTemporaryDir scratch;
    const QString capture = scratch.filePath("gateway.pcapng");
    const QString csv = scratch.filePath("gateway.csv");
    const QString gateway = buildDir + "/src/runner/talven-gateway";

    std::vector<Column> columns;
    for (const QString &config : parser.value(only).split(',')) {
        QStringList command;
        QString stamps;
        if (config == "engine" || config == "window") {
            stamps = scratch.filePath(config + ".stamps");
            command << QCoreApplication::applicationFilePath() << "--run" << config << common
                    << "--stamps" << stamps;
        } else if (config == "python") {
            command << "python3" << parser.value(source) + "/bench/python_gateway.py" << common;
        } else if (config == "talven-gateway") {
            if (!QFileInfo(gateway).isExecutable()) {
                // TODO: measured once talven-gateway is built in this build directory.
                Column missing;
                missing.title = config;
                missing.rows["error"] = "not built";
                columns.push_back(missing);
                continue;
            }
            command << gateway << "--cycles" << QString::number(settings.cycles + settings.warmup)
                    << "--interval" << QString::number(settings.interval) << "--slot"
                    << QString::number(settings.slot) << "--pcapng" << capture << "--csv" << csv;
        } else {
            fprintf(stderr, "talven-timing: unknown configuration %s\n", qPrintable(config));
            return 2;
        }
        columns.push_back(measure(config, command, simulator, settings, capture, csv, stamps));
    }
    printTable(columns, settings);
    bool gatewayShown = false;
    for (const Column &column : columns)
        gatewayShown
                = gatewayShown || (column.title == "talven-gateway" && column.rows.count("cpu"));
    if (gatewayShown)
        printf("\n* talven-gateway: CPU of the whole process, start-up included; its other "
               "columns measure the cycles after the warm-up only.\n");
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    // The child runs: --run engine|window with the settings of the orchestrator.
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const int run = arguments.indexOf("--run");
    if (run > 0 && run + 1 < arguments.size()) {
        Settings settings;
        auto value = [&](const char *name, int fallback) {
            const int at = arguments.indexOf(name);
            return at > 0 && at + 1 < arguments.size() ? arguments[at + 1].toInt() : fallback;
        };
        settings.cycles = value("--cycles", settings.cycles);
        settings.warmup = value("--warmup", settings.warmup);
        settings.interval = value("--interval", settings.interval);
        settings.slot = value("--slot", settings.slot);
        if (arguments[run + 1] == "window") {
            if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")
                && qEnvironmentVariableIsEmpty("DISPLAY"))
                qputenv("QT_QPA_PLATFORM", "offscreen");
            QApplication app(argc, argv);
            return runWindow(settings, arguments);
        }
        QCoreApplication app(argc, argv);
        return runEngine(settings, arguments);
    }
    QCoreApplication app(argc, argv);
    return orchestrate(arguments);
}
