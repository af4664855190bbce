#include "widgets/marlonodetableview.h"

#include "widgets/qjoystickwidget.h"

#include <QApplication>
#include <QFontMetrics>
#include <QHeaderView>
#include <QPainter>
#include <QPixmap>
#include <QStyle>
#include <QStyleOptionProgressBar>
#include <QTextOption>
#include <QVector3D>

#include <climits>
#include <cmath>

namespace {

constexpr int kRowHeight = 28;
constexpr int kInnerMargin = 4;
constexpr int kBadgeSize = 24;
constexpr int kAccelerometerRange = 2048;
constexpr int kMaxBarHeight = 10;

// A QColor as it is, anything convertible converted, anything else (no model, no value) invalid.
QColor foregroundOf(const QModelIndex &index)
{
    return index.data(Qt::ForegroundRole).value<QColor>();
}

QRectF innerRect(const QRect &cell)
{
    return QRectF(cell.left() + kInnerMargin, cell.top() + kInnerMargin,
                  cell.width() - 2 * kInnerMargin, cell.height() - 2 * kInnerMargin);
}

void drawCentredText(QPainter *painter, const QRect &cell, const QString &text)
{
    painter->drawText(innerRect(cell), text, QTextOption(Qt::AlignCenter));
}

// Any float reaches the bar, so the conversion saturates instead of overflowing (NaN counts as 0).
int toProgress(float value)
{
    if (std::isnan(value))
        return 0;
    if (value >= static_cast<float>(INT_MAX))
        return INT_MAX;
    if (value <= static_cast<float>(INT_MIN))
        return INT_MIN;
    return static_cast<int>(value);
}

// Fusion draws a value above the maximum past the end of the bar, across the next cells, and
// resets the painter's clip to do so. Drawn through a pixmap of the bar's size, whatever a style
// does stays inside the bar; the style still sees the bar where it is.
void drawContained(const QStyleOptionProgressBar &bar, QPainter *painter)
{
    if (bar.rect.isEmpty())
        return;
    const qreal ratio = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
    QPixmap pixmap(bar.rect.size() * ratio);
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    {
        QPainter barPainter(&pixmap);
        barPainter.setRenderHints(painter->renderHints());
        barPainter.translate(-bar.rect.topLeft());
        QApplication::style()->drawControl(QStyle::CE_ProgressBar, &bar, &barPainter, nullptr);
    }
    painter->drawPixmap(bar.rect.topLeft(), pixmap);
}

} // namespace

MarloNodeTableView::MarloNodeTableView(QWidget *parent)
    : QTableView(parent)
{
    horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    setShowGrid(false);
    setSelectionMode(QAbstractItemView::NoSelection);
    verticalHeader()->setVisible(false);
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(kRowHeight);
    setItemDelegateForColumn(0, new NodeIdItemDelegate(this));
    setItemDelegateForColumn(1, new DelayItemDelegate(this));
    setItemDelegateForColumn(2, new StatusItemDelegate(this));
    setItemDelegateForColumn(3, new JoystickItemDelegate(this));
    setItemDelegateForColumn(4, new AccelerometerItemDelegate(this));
    setFocusPolicy(Qt::NoFocus);
}

void NodeIdItemDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option,
                               const QModelIndex &index) const
{
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setPen(Qt::NoPen);
    painter->setBrush(QBrush(foregroundOf(index), Qt::SolidPattern));

    const QRect &cell = option.rect;
    const int dx = (cell.right() - cell.left() - kBadgeSize) / 2;
    const int dy = (cell.bottom() - cell.top() - kBadgeSize) / 2;
    const QRectF badge(cell.left() + dx, cell.top() + dy, cell.right() - cell.left() - 2 * dx + 1,
                       cell.bottom() - cell.top() - 2 * dy + 1);
    painter->drawRoundedRect(badge, 5.0, 5.0, Qt::AbsoluteSize);

    QFont font = option.font;
    font.setWeight(75);
    font.setPointSize(10);
    painter->setFont(font);
    painter->setPen(option.palette.brush(QPalette::HighlightedText).color());
    drawCentredText(painter, cell, QString("%1").arg(index.data(Qt::DisplayRole).toUInt()));
    painter->restore();
}

QSize NodeIdItemDelegate::sizeHint(const QStyleOptionViewItem &, const QModelIndex &) const
{
    return QSize(32, 32);
}

void DelayItemDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option,
                              const QModelIndex &index) const
{
    painter->setPen(foregroundOf(index));
    drawCentredText(painter, option.rect, index.data(Qt::DisplayRole).toString());
}

QSize DelayItemDelegate::sizeHint(const QStyleOptionViewItem &option,
                                  const QModelIndex &index) const
{
    const QString text = index.data(Qt::DisplayRole).toString();
    return QFontMetrics(option.font).size(0, text) + QSize(4, 4);
}

QString StatusItemDelegate::statusText(unsigned int errorCount)
{
    if (errorCount == 0)
        return QStringLiteral("Good");
    return QString("%1 errors").arg(errorCount);
}

void StatusItemDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option,
                               const QModelIndex &index) const
{
    painter->setPen(foregroundOf(index));
    drawCentredText(painter, option.rect, statusText(index.data(Qt::DisplayRole).toUInt()));
}

QSize StatusItemDelegate::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &) const
{
    return QFontMetrics(option.font).size(0, QStringLiteral("XXX errors")) + QSize(4, 4);
}

void JoystickItemDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option,
                                 const QModelIndex &index) const
{
    QJoystickWidgetStyleOption joystick;
    joystick.rect = option.rect;
    joystick.palette = option.palette;
    joystick.position = index.data(Qt::DisplayRole).toUInt();
    QJoystickWidget::drawJoystick(&joystick, painter, nullptr);
}

QSize JoystickItemDelegate::sizeHint(const QStyleOptionViewItem &, const QModelIndex &) const
{
    return QSize(48, 48);
}

void AccelerometerItemDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option,
                                      const QModelIndex &index) const
{
    QStyleOptionProgressBar bar;
    bar.minimum = -kAccelerometerRange;
    bar.maximum = kAccelerometerRange;

    const QRect &cell = option.rect;
    const int band = (cell.height() - 2 * kInnerMargin) / 3;
    int top = cell.top() + kInnerMargin;
    int bottom = top + band - 1;
    if (band > kMaxBarHeight) {
        top += (band - kMaxBarHeight) / 2;
        bottom = top + kMaxBarHeight - 1;
    }
    bar.rect = QRect(QPoint(cell.left() + kInnerMargin, top),
                     QPoint(cell.right() - kInnerMargin, bottom));

    for (int axis = 0; axis < 3; ++axis) {
        const QVector3D sample = index.data(Qt::DisplayRole).value<QVector3D>();
        bar.progress = toProgress(sample[axis]);
        drawContained(bar, painter);
        bar.rect.translate(0, band);
    }
}

QSize AccelerometerItemDelegate::sizeHint(const QStyleOptionViewItem &, const QModelIndex &) const
{
    return QSize(64, 20);
}
