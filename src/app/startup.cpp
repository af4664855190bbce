#include "app/startup.h"

#include "app/mainwindow.h"
#include "app/windowreport.h"

#include <QApplication>
#include <QInputDialog>
#include <QMessageBox>
#include <QStringList>

#include <memory>

int runTestbench(const std::vector<talven::NetworkInterfaceDriver::Descriptor *> &registry)
{
    QStringList choices;
    const std::vector<talven::NetworkInterfaceDriver::Descriptor *> descriptors = registry;
    for (const auto *descriptor : descriptors)
        choices << QString::fromUtf8(descriptor->name().c_str());

    MainWindow window;
    window.show();
    // Scripts find the window's buttons and read its node rows here instead of in its pixels.
    const QString reportPath = qEnvironmentVariable("TALVEN_TESTBENCH_REPORT");
    if (!reportPath.isEmpty())
        new WindowReport(reportPath, &window);

    bool accepted = true;
    const QString chosen = QInputDialog::getItem(&window, QCoreApplication::applicationName(),
                                                 "Select Network Interface", choices, 0, false,
                                                 &accepted, Qt::Sheet, Qt::ImhNone);
    if (!accepted)
        return 0;

    // An absent text maps to all bits set, which no descriptor list reaches.
    const quint32 index = quint32(choices.indexOf(chosen));
    if (index >= descriptors.size()) {
        QMessageBox::critical(
                &window, QCoreApplication::applicationName(),
                QString("Could not find network interface at index \"%2\"").arg(index));
        return 0;
    }

    // A driver that fails to open is never handed over, so it is released here.
    std::unique_ptr<talven::NetworkInterfaceDriver> driver(descriptors[index]->instantiate());
    if (driver && driver->open()) {
        window.setNetworkInterfaceDriver(driver.release());
        QApplication::exec();
        return 0;
    }

    // Without a driver there is no driver name; the chosen text names the interface instead.
    const QString name = driver ? QString::fromUtf8(driver->name().c_str()) : chosen;
    QMessageBox::critical(&window, QCoreApplication::applicationName(),
                          QString("Could not open network interface \"%1\"").arg(name));
    return 0;
}
