#include "mdw/talven/networkinterfacedriver.h"

#include <QtTest>

using Descriptor = talven::NetworkInterfaceDriver::Descriptor;

namespace {

// Descriptors live until the process ends, like the probers'; these are leaked on purpose.
class NamedDescriptor : public Descriptor
{
public:
    explicit NamedDescriptor(std::string text)
        : text_(std::move(text))
    {}
    std::string name() const override { return text_; }
    std::string location() const override { return text_; }
    talven::NetworkInterfaceDriver *instantiate() const override { return nullptr; }

private:
    std::string text_;
};

// Registered before main() runs, like the probers' descriptors.
NamedDescriptor *const kStaticFirst = new NamedDescriptor("static first");
NamedDescriptor *const kStaticSecond = new NamedDescriptor("static second");
// Still pointed at when the process ends, as the registry's own list may be gone by then.
NamedDescriptor *third = nullptr;

QStringList registered()
{
    QStringList names;
    for (const Descriptor *descriptor : Descriptor::availableDescriptors())
        names << QString::fromStdString(descriptor->name());
    return names;
}

} // namespace

class TestRegistry : public QObject
{
    Q_OBJECT

private slots:
    void holdsDescriptorsInRegistrationOrder()
    {
        QCOMPARE(registered(), (QStringList{"static first", "static second"}));
        QCOMPARE(Descriptor::availableDescriptors().front(), kStaticFirst);
        QCOMPARE(Descriptor::availableDescriptors().back(), kStaticSecond);
        third = new NamedDescriptor("third");
        QCOMPARE(registered(), (QStringList{"static first", "static second", "third"}));
    }
};

QTEST_APPLESS_MAIN(TestRegistry)
#include "tst_registry.moc"
