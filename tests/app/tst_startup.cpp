#include "app/mainwindow.h"
#include "app/startup.h"
#include "support/recordingdriver.h"

#include <QComboBox>
#include <QInputDialog>
#include <QMessageBox>
#include <QtTest>

#include <memory>

using Descriptor = talven::NetworkInterfaceDriver::Descriptor;

enum class Yields { OpeningDriver, FailingDriver, NoDriver };
Q_DECLARE_METATYPE(Yields)

namespace {

// A driver whose open() result the test chooses; what happens to it is recorded in a Probe.
class FakeDriver : public RecordingDriver
{
public:
    FakeDriver(bool opens, Probe *probe)
        : RecordingDriver(probe)
        , opens_(opens)
    {}
    std::string name() const override { return "Fake link"; }
    bool open() override { return opens_ && RecordingDriver::open(); }

private:
    bool opens_;
};

// Registers itself like every descriptor; the tests hand their own lists to the start-up, so the
// extra registry entries do not matter.
class FakeDescriptor : public Descriptor
{
public:
    FakeDescriptor(std::string text, Yields yields)
        : text_(std::move(text))
        , yields_(yields)
    {}
    std::string name() const override { return text_; }
    std::string location() const override { return text_; }
    talven::NetworkInterfaceDriver *instantiate() const override
    {
        ++instantiations;
        if (yields_ == Yields::NoDriver)
            return nullptr;
        return new FakeDriver(yields_ == Yields::OpeningDriver, &probe);
    }

    mutable int instantiations = 0;
    mutable RecordingDriver::Probe probe;

private:
    std::string text_;
    Yields yields_;
};

// Plays the user: answers the interface dialog, dismisses message boxes and, once the window runs
// with a driver, notes its title and closes it. Polls, because every dialog is modal and blocks.
class User : public QObject
{
public:
    // chosenRow < 0 cancels the dialog.
    explicit User(int chosenRow)
        : chosenRow_(chosenRow)
    {
        connect(&poll_, &QTimer::timeout, this, &User::look);
        poll_.start(20);
        giveUp_.setSingleShot(true);
        connect(&giveUp_, &QTimer::timeout, this, [] {
            if (QWidget *modal = QApplication::activeModalWidget())
                modal->close();
            for (QWidget *window : QApplication::topLevelWidgets())
                window->close();
        });
        giveUp_.start(30000);
    }

    QStringList items;
    int preselected = -1;
    QStringList messages;
    QString runningTitle;

private:
    void look()
    {
        if (auto *dialog = qobject_cast<QInputDialog *>(QApplication::activeModalWidget())) {
            items = dialog->comboBoxItems();
            preselected = items.indexOf(dialog->textValue());
            if (chosenRow_ < 0) {
                dialog->reject();
            } else {
                dialog->setTextValue(items.value(chosenRow_));
                dialog->accept();
            }
            return;
        }
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            messages << box->windowTitle() + ": " + box->text();
            box->accept();
            return;
        }
        for (QWidget *window : QApplication::topLevelWidgets()) {
            auto *main = qobject_cast<MainWindow *>(window);
            if (main && main->isVisible() && main->isEnabled()) {
                runningTitle = main->windowTitle();
                main->close();
            }
        }
    }

    int chosenRow_;
    QTimer poll_;
    QTimer giveUp_;
};

QString app()
{
    return QCoreApplication::applicationName();
}

} // namespace

class TestStartup : public QObject
{
    Q_OBJECT

private slots:
    // The fakes below register themselves too and go with their test functions: the registry as
    // the probers filled it is taken before any of them exists.
    void initTestCase() { probed_ = Descriptor::availableDescriptors(); }

    // The descriptors by name, each yielding a driver that opens, one that fails, or none; the
    // user picks a row or cancels.
    void choice_data()
    {
        QTest::addColumn<QStringList>("descriptors"); // name:opens|fails|none
        QTest::addColumn<int>("chosen");              // -1: cancel
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("instantiated"); // per descriptor
        QTest::addColumn<bool>("runs");

        const QStringList two{"First:fails", "Second:opens"};
        QTest::newRow("cancel ends quietly") << two << -1 << QString() << "0 0" << false;
        QTest::newRow("the second opens and runs the window")
                << two << 1 << QString() << "0 1" << true;
        QTest::newRow("twin names resolve to the first")
                << QStringList{"Twin:fails", "Twin:opens"} << 1
                << "Could not open network interface \"Fake link\""
                << "1 0" << false;
        QTest::newRow("no driver at all")
                << QStringList{"Broken:none"} << 0 << "Could not open network interface \"Broken\""
                << "1" << false;
        QTest::newRow("empty list confirmed")
                << QStringList() << 0 << "Could not find network interface at index \"4294967295\""
                << "" << false;
    }

    void choice()
    {
        QFETCH(QStringList, descriptors);
        QFETCH(int, chosen);
        QFETCH(QString, message);
        QFETCH(QString, instantiated);
        QFETCH(bool, runs);
        std::vector<std::unique_ptr<FakeDescriptor>> fakes;
        std::vector<Descriptor *> list;
        QStringList names;
        for (const QString &descriptor : descriptors) {
            const QString kind = descriptor.section(':', 1);
            names << descriptor.section(':', 0, 0);
            fakes.push_back(std::make_unique<FakeDescriptor>(
                    names.last().toStdString(), kind == "opens"   ? Yields::OpeningDriver
                                                : kind == "fails" ? Yields::FailingDriver
                                                                  : Yields::NoDriver));
            list.push_back(fakes.back().get());
        }
        User user(chosen);
        QCOMPARE(runTestbench(list), 0);
        QCOMPARE(user.items, names);
        QCOMPARE(user.messages,
                 message.isEmpty() ? QStringList() : QStringList{app() + ": " + message});
        QCOMPARE(user.runningTitle, runs ? app() + " - Fake link" : QString());
        QStringList counts;
        for (const auto &fake : fakes) {
            counts << QString::number(fake->instantiations);
            // Whatever was instantiated is deleted: with the window's engine, or at once.
            QCOMPARE(fake->probe.destroyed, fake->instantiations > 0 && fake->name() != "Broken");
        }
        QCOMPARE(counts.join(' '), instantiated);
    }

    void registryOffersSerialPortsThenTheSimulator()
    {
        User user(-1);
        QCOMPARE(runTestbench(probed_), 0);
        QVERIFY(!user.items.isEmpty());
        QCOMPARE(user.items.last(), "Lumbrio virtual Network Interface");
        for (int i = 0; i < user.items.size() - 1; ++i)
            QVERIFY2(user.items[i].startsWith("Marlo Gateway at "), qPrintable(user.items[i]));
        QCOMPARE(user.preselected, 0);
    }

private:
    std::vector<Descriptor *> probed_;
};

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
