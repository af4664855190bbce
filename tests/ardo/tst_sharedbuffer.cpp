#include "ardo/sharedbuffer.h"

#include <QtTest>

using ardo::SharedBuffer;

namespace {

// Counts destructions, so a test can see when (and whether) a buffer releases its elements.
struct Tracked
{
    static int destroyed;
    uint8_t value = 0;
    ~Tracked() { ++destroyed; }
};
int Tracked::destroyed = 0;

} // namespace

class TestSharedBuffer : public QObject
{
    Q_OBJECT

private slots:
    void init() { Tracked::destroyed = 0; }

    void copyOwnsItsBytes()
    {
        QVERIFY(!SharedBuffer<uint8_t>().data());
        const QByteArray bytes = QByteArray::fromHex("00abff");
        const auto *source = reinterpret_cast<const uint8_t *>(bytes.constData());
        auto buffer = SharedBuffer<uint8_t>::copy(source, 3);
        QVERIFY(buffer.data() != source);
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(buffer.data()), int(buffer.size())),
                 bytes);
        QCOMPARE(SharedBuffer<uint8_t>::copy(source, 0).size(), size_t(0));
    }

    void handlesShareTheElementsTheLastOneFreesThem()
    {
        auto *first = new SharedBuffer<Tracked>(3);
        SharedBuffer<Tracked> second = *first;
        second.data()[2].value = 0x5A;
        QCOMPARE(first->data()[2].value, uint8_t(0x5A));
        delete first;
        QCOMPARE(Tracked::destroyed, 0);
        second = SharedBuffer<Tracked>();
        QCOMPARE(Tracked::destroyed, 3);
    }

    void viewNeverFreesWhatItShows()
    {
        {
            Tracked onStack[2];
            {
                auto view = SharedBuffer<Tracked>::proxy(onStack, 2);
                SharedBuffer<Tracked> copy = view;
                QCOMPARE(copy.data(), &onStack[0]);
                QCOMPARE(copy.size(), size_t(2));
            }
            QCOMPARE(Tracked::destroyed, 0);
        }
        QCOMPARE(Tracked::destroyed, 2); // only by the array's own end
    }
};

QTEST_APPLESS_MAIN(TestSharedBuffer)
#include "tst_sharedbuffer.moc"
