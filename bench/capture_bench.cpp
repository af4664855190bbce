// talven-capture-bench: what recording to a pcapng file adds to the engine's receive path, as
// talven-gateway --pcapng runs it. One healthy MPDU (accelerometer sample and joystick state)
// handed to the engine's receive handler, with and without a FrameRecorder attached; one late
// MPDU with a payload fault (the longer comment); and the flush that ends a cycle of eight nodes.
// The difference between the first two is the recording cost per frame. The file goes to the
// directory named by TMPDIR (/tmp by default).

#include "capture/framerecorder.h"
#include "gateway/talvennetwork.h"
#include "loopdriver.h"
#include "mdw/talven/frame.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>
#include <QtEndian>

#include <benchmark/benchmark.h>

namespace {

constexpr int kInterval = 32768;
constexpr int kSlot = 10;

talven::MultiPdu answer(uint8_t id, bool unknownEvent)
{
    talven::MultiPdu mpdu;
    mpdu.setSourceId(id);
    const int16_t sample[3] = {int16_t(id * 16), int16_t(-id * 8), 1000};
    ardo::SharedBuffer<uint8_t> buffer = mpdu.svGroupBuffer();
    for (int axis = 0; axis < 3; ++axis)
        qToLittleEndian<int16_t>(sample[axis], buffer.data() + 2 * axis);
    mpdu.addSvGroup(2, 6);
    uint8_t joystick = 8;
    mpdu.addEvent(8, ardo::SharedBuffer<uint8_t>::proxy(&joystick, 1));
    if (unknownEvent)
        mpdu.addEvent(12, ardo::SharedBuffer<uint8_t>::proxy(&joystick, 1));
    return mpdu;
}

// An engine in a long cycle, with or without a recorder writing to a temporary file.
struct Bench
{
    explicit Bench(bool recording)
    {
        auto *loop = new LoopDriver(kSlot);
        driver = loop;
        engine.setNetworkInterfaceDriver(loop);
        if (recording) {
            recorder.open(dir.filePath("bench.pcapng"), QStringLiteral("talven-capture-bench"));
            recorder.setInterface(QStringLiteral("bench"));
            engine.addObserver(&recorder);
        }
        engine.sendBeacon(kInterval, kSlot, 0xFFFF);
    }
    ~Bench() { engine.removeObserver(&recorder); }

    QTemporaryDir dir;
    capture::FrameRecorder recorder;
    TalvenNetwork engine;
    LoopDriver *driver = nullptr;
};

void receiveMpdu(benchmark::State &state, bool recording, bool faulty)
{
    Bench bench(recording);
    // Node 3 in its slot, or node 3 late with an unknown event.
    const talven::MultiPdu mpdu = answer(3, faulty);
    const double offset = faulty ? 6.5 : 4.5;
    for (auto _ : state)
        bench.driver->receive(mpdu, offset);
    // The file's own buffer goes to the system whenever it fills, as at the cycles' flushes.
    state.counters["frames"] = double(bench.recorder.frameCount());
}

void BM_ReceiveMpduNotRecorded(benchmark::State &state)
{
    receiveMpdu(state, false, false);
}
BENCHMARK(BM_ReceiveMpduNotRecorded);

void BM_ReceiveMpduRecorded(benchmark::State &state)
{
    receiveMpdu(state, true, false);
}
BENCHMARK(BM_ReceiveMpduRecorded);

void BM_ReceiveFaultyMpduNotRecorded(benchmark::State &state)
{
    receiveMpdu(state, false, true);
}
BENCHMARK(BM_ReceiveFaultyMpduNotRecorded);

void BM_ReceiveFaultyMpduRecorded(benchmark::State &state)
{
    receiveMpdu(state, true, true);
}
BENCHMARK(BM_ReceiveFaultyMpduRecorded);

// The recorder alone: a beacon, eight answers and the flush at the cycle's end, the one write
// that reaches the system per cycle.
void BM_RecordCycleAndFlush(benchmark::State &state)
{
    QTemporaryDir dir;
    capture::FrameRecorder recorder;
    recorder.open(dir.filePath("bench.pcapng"), QStringLiteral("talven-capture-bench"));
    recorder.setInterface(QStringLiteral("bench"));
    verdict::Beacon beacon;
    beacon.transmitted = true;
    beacon.frame = QByteArray(17, '\xc7');
    std::vector<talven::MultiPdu> answers;
    for (uint8_t id = 0; id < 8; ++id)
        answers.push_back(answer(id, false));
    verdict::CycleNumber cycle = 0;
    for (auto _ : state) {
        beacon.cycle = ++cycle;
        recorder.beaconSent(beacon);
        for (const talven::MultiPdu &mpdu : answers) {
            verdict::Frame frame;
            frame.kind = verdict::FrameKind::Mpdu;
            frame.cycle = cycle;
            frame.node = mpdu.sourceId();
            frame.timing = verdict::Timing::InSlot;
            frame.delay = (frame.node + 1.5) * kSlot;
            frame.slotLower = (frame.node + 1) * kSlot;
            frame.slotUpper = (frame.node + 2) * kSlot;
            frame.bytes = mpdu.data();
            frame.length = mpdu.length();
            recorder.frameJudged(frame);
        }
        recorder.cycleClosed(cycle);
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * 9);
}
BENCHMARK(BM_RecordCycleAndFlush);

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
