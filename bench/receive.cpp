// talven-bench: the cost of the receive path, without any network. One MPDU handed to the
// engine's receive handler, with the engine alone and with the main window shown (the window
// resets the table view and repaints the timeline for each MPDU; the iteration includes the
// paint that follows), for 32 and for 128 table rows; and the ePDU walk of one MPDU alone.
// The window runs on the Qt platform of the environment (offscreen when none is set).

#include "app/mainwindow.h"
#include "gateway/talvennetwork.h"
#include "loopdriver.h"
#include "mdw/talven/frame.h"

#include <QAction>
#include <QApplication>
#include <QSpinBox>
#include <QtEndian>

#include <benchmark/benchmark.h>
#include <memory>
#include <vector>

namespace {

constexpr int kInterval = 32768;
constexpr int kSlot = 10;

// What the simulator's healthy nodes send: an accelerometer sample and a joystick state.
std::vector<talven::MultiPdu> mpdus(int count)
{
    std::vector<talven::MultiPdu> frames;
    for (int id = 0; id < count; ++id) {
        talven::MultiPdu mpdu;
        mpdu.setSourceId(uint8_t(id));
        const int16_t sample[3] = {int16_t(id * 16), int16_t(-id * 8), 1000};
        ardo::SharedBuffer<uint8_t> buffer = mpdu.svGroupBuffer();
        for (int axis = 0; axis < 3; ++axis)
            qToLittleEndian<qint16>(sample[axis], buffer.data() + 2 * axis);
        mpdu.addSvGroup(2, 6);
        const uint8_t joystick = uint8_t(1u << (id % 6));
        mpdu.addEvent(8, ardo::SharedBuffer<uint8_t>::proxy(&joystick, 1));
        frames.push_back(mpdu);
    }
    return frames;
}

void engineReceive(benchmark::State &state)
{
    const std::vector<talven::MultiPdu> frames = mpdus(int(state.range(0)));
    TalvenNetwork engine;
    auto *driver = new LoopDriver(kSlot);
    engine.setNetworkInterfaceDriver(driver);
    engine.sendBeacon(kInterval, kSlot, 0xFFFF);
    size_t next = 0;
    for (auto _ : state) {
        driver->receive(frames[next], frames[next].sourceId() + 1.5);
        next = (next + 1) % frames.size();
    }
    state.SetItemsProcessed(state.iterations());
}

void windowReceive(benchmark::State &state)
{
    const std::vector<talven::MultiPdu> frames = mpdus(int(state.range(0)));
    MainWindow window;
    window.resize(1100, 650);
    window.findChild<QSpinBox *>("slotDurationSpinBox")->setValue(kSlot);
    window.findChild<QSpinBox *>("nextBeaconSpinBox")->setValue(kInterval);
    auto *driver = new LoopDriver(kSlot);
    window.setNetworkInterfaceDriver(driver);
    window.show();
    QAction *single = nullptr;
    for (QAction *action : window.findChildren<QAction *>()) {
        if (action->text() == QLatin1String("Send Single Beacon"))
            single = action;
    }
    single->trigger();
    // Every node once, so the table has its rows before the measurement starts.
    for (const talven::MultiPdu &frame : frames)
        driver->receive(frame, frame.sourceId() + 1.5);
    QApplication::processEvents();

    size_t next = 0;
    for (auto _ : state) {
        driver->receive(frames[next], frames[next].sourceId() + 1.5);
        // The view's reset paints at the next pass of the event loop: part of the MPDU's cost.
        QApplication::processEvents();
        next = (next + 1) % frames.size();
    }
    state.SetItemsProcessed(state.iterations());
}

class CountingDelegate : public talven::MultiPdu::DecomposeDelegate
{
public:
    void onSvGroup(const talven::MultiPdu &, uint8_t, const ardo::SharedBuffer<uint8_t> &) override
    {
        ++calls;
    }
    void onEvent(const talven::MultiPdu &, uint16_t, const ardo::SharedBuffer<uint8_t> &) override
    {
        ++calls;
    }
    int calls = 0;
};

void decompose(benchmark::State &state)
{
    const talven::MultiPdu mpdu = mpdus(1).front();
    CountingDelegate delegate;
    for (auto _ : state)
        benchmark::DoNotOptimize(mpdu.decompose(delegate));
    benchmark::DoNotOptimize(delegate.calls);
    state.SetItemsProcessed(state.iterations());
}

BENCHMARK(engineReceive)->Arg(32)->Arg(128);
BENCHMARK(windowReceive)->Arg(32)->Arg(128)->Unit(benchmark::kMicrosecond);
BENCHMARK(decompose);

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
