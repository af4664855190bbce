#include "app/mainwindow.h"
#include "app/startup.h"
#include "support/recordingdriver.h"

#include <QInputDialog>
#include <QMessageBox>
#include <QtTest>

#include <memory>

using Descriptor = talven::NetworkInterfaceDriver::Descriptor;

namespace {

// A driver whose open() result the test chooses; its end is recorded in a Probe.
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

// Made from "name:opens", "name:fails" or "name:none" (no driver at all). Registers itself like
// every descriptor; the tests hand their own lists to the start-up, so the extra registry entries
// do not matter.
class FakeDescriptor : public Descriptor
{
public:
    explicit FakeDescriptor(const QString &entry)
        : name_(entry.section(':', 0, 0).toStdString())
        , kind_(entry.section(':', 1))
    {}
    std::string name() const override { return name_; }
    std::string location() const override { return name_; }
    talven::NetworkInterfaceDriver *instantiate() const override
    {
        ++instantiations;
        return kind_ == "none" ? nullptr : new FakeDriver(kind_ == "opens", &probe);
    }

    mutable int instantiations = 0;
    mutable RecordingDriver::Probe probe;

private:
    std::string name_;
    QString kind_;
};

// What the user saw of one run of the start-up.
struct Seen
{
    QStringList items;
    int preselected = -1;
    QStringList messages;
    QString runningTitle;
};

// Runs the start-up and plays the user: answers the interface dialog (a row < 0 cancels it),
// dismisses message boxes and, once the window runs with a driver, notes its title and closes it.
// Polls, because every dialog is modal and blocks; after 30 s it closes whatever is open.
Seen runAsUser(const std::vector<Descriptor *> &list, int chosenRow)
{
    Seen seen;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        QWidget *modal = QApplication::activeModalWidget();
        if (auto *dialog = qobject_cast<QInputDialog *>(modal)) {
            seen.items = dialog->comboBoxItems();
            seen.preselected = seen.items.indexOf(dialog->textValue());
            dialog->setTextValue(seen.items.value(chosenRow));
            return chosenRow < 0 ? dialog->reject() : dialog->accept();
        }
        if (auto *box = qobject_cast<QMessageBox *>(modal)) {
            seen.messages << box->windowTitle() + ": " + box->text();
            return box->accept();
        }
        for (QWidget *window : QApplication::topLevelWidgets()) {
            if (qobject_cast<MainWindow *>(window) && window->isVisible() && window->isEnabled()) {
                seen.runningTitle = window->windowTitle();
                window->close();
            }
        }
    });
    poll.start(20);
    QTimer::singleShot(30000, &poll, [] {
        if (QWidget *modal = QApplication::activeModalWidget())
            modal->close();
        for (QWidget *window : QApplication::topLevelWidgets())
            window->close();
    });
    if (runTestbench(list) != 0)
        seen.messages << "runTestbench did not return 0";
    return seen;
}

} // namespace

class TestStartup : public QObject
{
    Q_OBJECT

private slots:
    void choice_data()
    {
        QTest::addColumn<QStringList>("descriptors");
        QTest::addColumn<int>("chosen"); // -1: cancel
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
        for (const QString &entry : descriptors) {
            fakes.push_back(std::make_unique<FakeDescriptor>(entry));
            list.push_back(fakes.back().get());
        }
        const Seen seen = runAsUser(list, chosen);
        // The descriptors in registry order, the first preselected.
        QCOMPARE(seen.items.join(' '), QString(descriptors.join(' ')).remove(QRegExp(":\\w+")));
        QCOMPARE(seen.preselected, descriptors.isEmpty() ? -1 : 0);
        const QString app = QCoreApplication::applicationName();
        QCOMPARE(seen.messages,
                 message.isEmpty() ? QStringList() : QStringList{app + ": " + message});
        QCOMPARE(seen.runningTitle, runs ? app + " - Fake link" : QString());
        QStringList counts;
        for (const auto &fake : fakes) {
            counts << QString::number(fake->instantiations);
            // Whatever was instantiated is deleted: with the window's engine, or at once.
            QCOMPARE(fake->probe.destroyed, fake->instantiations > 0 && fake->name() != "Broken");
        }
        QCOMPARE(counts.join(' '), instantiated);
    }
};

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
