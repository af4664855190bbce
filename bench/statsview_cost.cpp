// What the statistics window costs the GUI thread per cycle: 128 nodes with 10 ms slots answer
// through a scripted link (a few early, late and silent), cycle after cycle; the thread's CPU time
// with the window shown is compared with the same run while it is hidden (it then does nothing),
// so the engine's own work cancels out. Every cycle's refresh and repaint is let through before
// the next cycle starts, as between real cycles. Offscreen unless QT_QPA_PLATFORM says otherwise.
//
//   talven-statsview-cost [cycles]        (default 3000)
//   STATSVIEW_HIDE=chart,histogram,table  leaves those parts unpainted, to see what each costs

#include "gateway/talvennetwork.h"
#include "mdw/talven/networkinterfacedriver.h"
#include "statsview/delaychart.h"
#include "statsview/histogramchart.h"
#include "statsview/statisticswindow.h"

#include <QApplication>
#include <QRandomGenerator>
#include <QTableView>

#include <cstdio>
#include <ctime>
#include <fstream>
#include <malloc.h>
#include <string>

namespace {

constexpr int kNodes = 128;
constexpr int kSlot = 10;
constexpr int kChunk = 500;

class ScriptedLink : public talven::NetworkInterfaceDriver
{
public:
    std::string name() const override { return "Scripted link"; }
    bool open() override { return true; }
    bool isOpen() const override { return true; }
    uint32_t address() const override { return 0xE2E2E2E2; }
    bool transmit(const uint8_t *, size_t) override { return true; }
    void setReceiveHandler(ReceiveHandler handler) override { handler_ = std::move(handler); }
    void deliver(uint32_t time, const QByteArray &frame)
    {
        handler_(*this, time, reinterpret_cast<const uint8_t *>(frame.constData()),
                 size_t(frame.size()));
    }

private:
    ReceiveHandler handler_;
};

double threadMs()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

// What the program has allocated and not freed, whatever pages the allocator keeps.
double heapBytes()
{
    const struct mallinfo2 info = mallinfo2();
    return double(info.uordblks) + double(info.hblkhd);
}

long residentKb()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    }
    return 0;
}

struct Cost
{
    // CPU milliseconds of each chunk of cycles.
    QVector<double> chunks;
    // Heap in use grown per MPDU delivered: over the whole run, and after the first chunk, when
    // whatever the window keeps of bounded size has been made.
    double bytesPerMpdu = 0;
    double laterBytesPerMpdu = 0;
};

Cost run(int cycles, bool shown)
{
    auto *link = new ScriptedLink;
    TalvenNetwork network;
    network.setNetworkInterfaceDriver(link);
    StatisticsWindow window(network);
    window.resize(1180, 780);
    if (shown)
        window.show();
    const QByteArray hide = qgetenv("STATSVIEW_HIDE");
    if (hide.contains("chart"))
        window.delayChart()->hide();
    if (hide.contains("histogram"))
        window.histogram()->hide();
    if (hide.contains("table"))
        window.table()->hide();
    QApplication::processEvents();

    bool finished = false;
    QObject::connect(&network, &TalvenNetwork::cycleFinished, [&] { finished = true; });
    QRandomGenerator random(7);
    Cost cost;
    qint64 mpdus = 0;
    const double heapBefore = heapBytes();
    double heapAfterChunk = 0;
    qint64 mpdusAfterChunk = 0;
    double start = threadMs();
    for (int cycle = 1; cycle <= cycles; ++cycle) {
        finished = false;
        network.sendBeacon(0, kSlot, 0xFFFF);
        for (int node = 0; node < kNodes; ++node) {
            const int dice = int(random.bounded(100));
            if (dice < 2)
                continue;
            int delay = (node + 1) * kSlot + 1 + int(random.bounded(kSlot - 1));
            if (dice < 5)
                delay = (node + 2) * kSlot + 5;
            else if (dice < 7)
                delay = node * kSlot + 5;
            link->deliver(uint32_t(network.beaconTime() + delay),
                          QByteArray::fromHex("e2e2e2e2") + char(2) + char(0x80 | node) + char(0));
            ++mpdus;
        }
        while (!finished)
            QApplication::processEvents(QEventLoop::WaitForMoreEvents);
        // The refresh queued by the cycle's end, then the repaint it asked for.
        for (int i = 0; i < 3; ++i) {
            QCoreApplication::sendPostedEvents();
            QApplication::processEvents();
        }
        if (cycle % kChunk == 0) {
            const double now = threadMs();
            cost.chunks.append(now - start);
            if (cycle == kChunk) {
                heapAfterChunk = heapBytes();
                mpdusAfterChunk = mpdus;
            }
            start = now;
        }
    }
    const double heapAfter = heapBytes();
    cost.bytesPerMpdu = (heapAfter - heapBefore) / double(mpdus);
    if (mpdus > mpdusAfterChunk)
        cost.laterBytesPerMpdu = (heapAfter - heapAfterChunk) / double(mpdus - mpdusAfterChunk);
    return cost;
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int cycles = argc > 1 ? std::max(kChunk, atoi(argv[1]) / kChunk * kChunk) : 3000;

    const Cost hiddenCost = run(cycles, false);
    const Cost shownCost = run(cycles, true);
    const QVector<double> &hidden = hiddenCost.chunks, &shown = shownCost.chunks;
    std::printf("%d nodes, %d ms slots, %d cycles, platform %s\n", kNodes, kSlot, cycles,
                qPrintable(QGuiApplication::platformName()));
    std::printf("cycles        hidden ms/cycle  shown ms/cycle  window ms/cycle\n");
    double hiddenTotal = 0, shownTotal = 0;
    for (int i = 0; i < hidden.size(); ++i) {
        hiddenTotal += hidden[i];
        shownTotal += shown[i];
        std::printf("%5d-%-5d   %15.3f %15.3f %16.3f\n", i * kChunk + 1, (i + 1) * kChunk,
                    hidden[i] / kChunk, shown[i] / kChunk, (shown[i] - hidden[i]) / kChunk);
    }
    std::printf("whole run     %15.3f %15.3f %16.3f\n", hiddenTotal / cycles, shownTotal / cycles,
                (shownTotal - hiddenTotal) / cycles);
    std::printf("heap grown per MPDU: %.1f bytes hidden, %.1f bytes shown; after cycle %d: %.1f "
                "hidden, %.1f shown\n",
                hiddenCost.bytesPerMpdu, shownCost.bytesPerMpdu, kChunk,
                hiddenCost.laterBytesPerMpdu, shownCost.laterBytesPerMpdu);
    std::printf("resident memory at the end: %ld kB\n", residentKb());
    return 0;
}
