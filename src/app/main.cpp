#include "app/startup.h"

#include <QApplication>
#include <QDir>
#include <QIcon>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    // Every size of the desktop icon, so the window manager and the task bar need not scale one.
    QIcon icon;
    const QDir sizes(QStringLiteral(":/icon"));
    for (const QString &file : sizes.entryList(QDir::Files))
        icon.addFile(sizes.filePath(file));
    QApplication::setWindowIcon(icon);
    return runTestbench(talven::NetworkInterfaceDriver::Descriptor::availableDescriptors());
}
