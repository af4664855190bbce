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

    void defaultIsEmpty()
    {
        SharedBuffer<uint8_t> buffer;
        QVERIFY(!buffer.data());
        QCOMPARE(buffer.size(), size_t(0));
    }

    void copiesTheBytes_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("nothing") << QByteArray();
        QTest::newRow("three bytes") << QByteArray::fromHex("00abff");
    }

    void copiesTheBytes()
    {
        QFETCH(QByteArray, bytes);
        const auto *source = reinterpret_cast<const uint8_t *>(bytes.constData());
        auto buffer = SharedBuffer<uint8_t>::copy(source, size_t(bytes.size()));
        QCOMPARE(buffer.size(), size_t(bytes.size()));
        QVERIFY(buffer.data() != source);
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(buffer.data()), bytes.size()), bytes);
    }

    void copiesShareTheBytes()
    {
        SharedBuffer<uint8_t> first(4);
        SharedBuffer<uint8_t> second = first;
        second.data()[2] = 0x5A;
        QCOMPARE(first.data(), second.data());
        QCOMPARE(first.data()[2], uint8_t(0x5A));
    }

    void ownedElementsGoWithTheLastHandle()
    {
        auto *first = new SharedBuffer<Tracked>(3);
        SharedBuffer<Tracked> second = *first;
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

    void readOnlyViewShowsTheSameBytes()
    {
        const uint8_t bytes[] = {1, 2, 3};
        auto view = SharedBuffer<uint8_t>::proxy(bytes, sizeof bytes);
        QCOMPARE(static_cast<const uint8_t *>(view.data()), bytes);
        QCOMPARE(view.size(), sizeof bytes);
    }
};

QTEST_APPLESS_MAIN(TestSharedBuffer)
#include "tst_sharedbuffer.moc"
