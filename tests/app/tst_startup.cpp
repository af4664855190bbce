#include "app/mainwindow.h"
#include "app/startup.h"
#include "support/recordingdriver.h"

#include <QComboBox>
#include <QInputDialog>
#include <QMessageBox>
#include <QtTest>

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

    // Two descriptors, "First" and "Second" (or twins); the user picks one or cancels.
    void choice_data()
    {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<int>("chosen"); // -1: cancel
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("instantiated"); // per descriptor
        QTest::addColumn<bool>("runs");

        const QString failed = "Could not open network interface \"Fake link\"";
        QTest::newRow("cancel ends quietly")
                << QStringList{"First", "Second"} << -1 << QString() << "0 0" << false;
        QTest::newRow("the second opens and runs the window")
                << QStringList{"First", "Second"} << 1 << QString() << "0 1" << true;
        QTest::newRow("twin names resolve to the first")
                << QStringList{"Twin", "Twin"} << 1 << failed << "1 0" << false;
    }

    void choice()
    {
        QFETCH(QStringList, names);
        QFETCH(int, chosen);
        QFETCH(QString, message);
        QFETCH(QString, instantiated);
        QFETCH(bool, runs);
        // The first never opens, the second does.
        FakeDescriptor first(names[0].toStdString(), Yields::FailingDriver);
        FakeDescriptor second(names[1].toStdString(), Yields::OpeningDriver);
        User user(chosen);
        QCOMPARE(runTestbench({&first, &second}), 0);
        QCOMPARE(user.items, names);
        QCOMPARE(user.preselected, 0);
        QCOMPARE(user.messages,
                 message.isEmpty() ? QStringList() : QStringList{app() + ": " + message});
        QCOMPARE(QString("%1 %2").arg(first.instantiations).arg(second.instantiations),
                 instantiated);
        QCOMPARE(user.runningTitle, runs ? app() + " - Fake link" : QString());
        // Whatever was instantiated is deleted: with the window's engine, or at once.
        QCOMPARE(first.probe.destroyed, first.instantiations > 0);
        QCOMPARE(second.probe.destroyed, second.instantiations > 0);
    }

    void failures_data()
    {
        QTest::addColumn<int>("descriptors");
        QTest::addColumn<Yields>("yields");
        QTest::addColumn<QString>("message");
        QTest::newRow("empty list confirmed")
                << 0 << Yields::OpeningDriver
                << "Could not find network interface at index \"4294967295\"";
        QTest::newRow("no driver at all")
                << 1 << Yields::NoDriver << "Could not open network interface \"Broken\"";
    }

    void failures()
    {
        QFETCH(int, descriptors);
        QFETCH(Yields, yields);
        QFETCH(QString, message);
        FakeDescriptor broken("Broken", yields);
        std::vector<Descriptor *> list;
        if (descriptors > 0)
            list.push_back(&broken);
        User user(0);
        QCOMPARE(runTestbench(list), 0);
        QCOMPARE(user.messages, QStringList{app() + ": " + message});
        QVERIFY(user.runningTitle.isEmpty());
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
