#include "mdw/talven/networkinterfacedriver.h"

#include <QtTest>

using Descriptor = talven::NetworkInterfaceDriver::Descriptor;

namespace {

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

QStringList namesOf(const std::vector<Descriptor *> &descriptors)
{
    QStringList names;
    for (const Descriptor *descriptor : descriptors)
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
        QCOMPARE(namesOf(Descriptor::availableDescriptors()),
                 (QStringList{"static first", "static second"}));
        QCOMPARE(Descriptor::availableDescriptors().front(), kStaticFirst);

        // Descriptors live until the process ends; these are leaked on purpose, like the probers'.
        new NamedDescriptor("third");
        new NamedDescriptor("fourth");
        QCOMPARE(namesOf(Descriptor::availableDescriptors()),
                 (QStringList{"static first", "static second", "third", "fourth"}));
    }

    void handsOutACopy()
    {
        auto copy = Descriptor::availableDescriptors();
        const auto before = namesOf(copy);
        copy.clear();
        copy.push_back(kStaticSecond);
        QCOMPARE(namesOf(Descriptor::availableDescriptors()), before);
        QCOMPARE(Descriptor::availableDescriptors()[1], kStaticSecond);
    }
};

QTEST_APPLESS_MAIN(TestRegistry)
#include "tst_registry.moc"
