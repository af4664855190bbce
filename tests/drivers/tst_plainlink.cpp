#include "mdw/talven/networkinterfacedriver.h"

#include <QSerialPortInfo>
#include <QTest>

// Linked with plain `drivers` beside `app`: both probers must have registered, serial ports
// first, the simulator last.
class TestPlainLink : public QObject
{
    Q_OBJECT

private slots:
    void bothProbersRegister()
    {
        const auto registry = talven::NetworkInterfaceDriver::Descriptor::availableDescriptors();
        const int ports = QSerialPortInfo::availablePorts().size();
        QCOMPARE(int(registry.size()), ports + 1);
        QCOMPARE(registry.back()->name(), std::string("Lumbrio virtual Network Interface"));
        for (int i = 0; i < ports; ++i)
            QVERIFY(QString::fromStdString(registry[size_t(i)]->name())
                            .startsWith("Marlo Gateway at "));
    }
};

QTEST_GUILESS_MAIN(TestPlainLink)

#include "tst_plainlink.moc"
