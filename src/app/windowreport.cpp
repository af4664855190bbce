#include "app/windowreport.h"

#include <QAbstractItemModel>
#include <QAction>
#include <QColor>
#include <QDebug>
#include <QMainWindow>
#include <QSaveFile>
#include <QTableView>
#include <QToolBar>

namespace {

constexpr int kPollIntervalMs = 100;

QString line(const QStringList &fields)
{
    return fields.join('\t') + '\n';
}

QString colourName(const QVariant &colour)
{
    return colour.canConvert<QColor>() ? colour.value<QColor>().name() : QStringLiteral("-");
}

} // namespace

WindowReport::WindowReport(const QString &path, QMainWindow *window)
    : QObject(window)
    , window_(window)
    , path_(path)
{
    connect(&poll_, &QTimer::timeout, this, &WindowReport::write);
    poll_.start(kPollIntervalMs);
}

QString WindowReport::text() const
{
    QString report = line({QStringLiteral("window"), QString::number(window_->width()),
                           QString::number(window_->height())});
    for (const QToolBar *toolBar : window_->findChildren<QToolBar *>()) {
        for (QAction *action : toolBar->actions()) {
            const QWidget *button = toolBar->widgetForAction(action);
            if (action->text().isEmpty() || !button || !button->isVisible())
                continue;
            const QPoint centre = button->mapTo(window_, button->rect().center());
            report += line({QStringLiteral("action"), action->text(), QString::number(centre.x()),
                            QString::number(centre.y()), QString::number(button->width()),
                            QString::number(button->height())});
        }
    }
    // Columns: node id (its badge's colour), delay (text), status (colour and error count).
    if (const auto *table = window_->findChild<QTableView *>()) {
        const QAbstractItemModel *model = table->model();
        for (int row = 0; model && row < model->rowCount(); ++row) {
            const auto cell = [&](int column, int role) {
                return model->index(row, column).data(role);
            };
            report += line(
                    {QStringLiteral("node"), cell(0, Qt::DisplayRole).toString(),
                     colourName(cell(0, Qt::ForegroundRole)), cell(1, Qt::DisplayRole).toString(),
                     colourName(cell(2, Qt::ForegroundRole)), cell(2, Qt::DisplayRole).toString()});
        }
    }
    return report;
}

void WindowReport::write()
{
    const QString report = text();
    if (report == written_)
        return;
    QSaveFile file(path_);
    if (!file.open(QIODevice::WriteOnly) || file.write(report.toUtf8()) < 0 || !file.commit()) {
        // Said once; the next check tries again.
        if (!failed_)
            qWarning("Cannot write the window report %s: %s", qPrintable(path_),
                     qPrintable(file.errorString()));
        failed_ = true;
        return;
    }
    failed_ = false;
    written_ = report;
}
