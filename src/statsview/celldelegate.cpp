#include "statsview/celldelegate.h"

#include <QApplication>
#include <QImage>
#include <QPaintEngine>
#include <QPainter>
#include <QStyle>

namespace {

// About 400 cells of a hundred pixels by twenty-six.
constexpr int kPictureBytes = 4 << 20;

} // namespace

uint qHash(const CellDelegate::Key &key, uint seed)
{
    return qHash(key.text, seed) ^ qHash(key.textColor, seed) ^ qHash(key.background, seed)
           ^ qHash(key.size.width() * 65536 + key.size.height(), seed);
}

CellDelegate::CellDelegate(QObject *parent)
    : QStyledItemDelegate(parent)
    , pictures_(kPictureBytes)
{}

void CellDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option,
                         const QModelIndex &index) const
{
    const QWidget *widget = option.widget;
    QStyle *style = widget ? widget->style() : QApplication::style();
    const QColor grid = QColor::fromRgba(
            QRgb(style->styleHint(QStyle::SH_Table_GridLineColor, &option, widget)));
    const QRect &all = option.rect;
    painter->fillRect(QRect(all.right(), all.top(), 1, all.height()), grid);
    painter->fillRect(QRect(all.left(), all.bottom(), all.width() - 1, 1), grid);

    QStyleOptionViewItem cell(option);
    cell.rect.adjust(0, 0, -1, -1);
    initStyleOption(&cell, index);
    const QPaintDevice *device
            = painter->paintEngine() ? painter->paintEngine()->paintDevice() : nullptr;
    const QImage *target = device && device->devType() == QInternal::Image
                                   ? static_cast<const QImage *>(device)
                                   : nullptr;
    // A picture stands in for painting in place only where it would come out the same: on the
    // plain base the view fills its viewport with, untransformed, with no icon or check box.
    if (cell.rect.isEmpty() || !target
        || (cell.state & (QStyle::State_Selected | QStyle::State_HasFocus))
        || (cell.features
            & (QStyleOptionViewItem::HasDecoration | QStyleOptionViewItem::HasCheckIndicator
               | QStyleOptionViewItem::Alternate))
        || cell.palette.base().style() != Qt::SolidPattern
        || !(cell.backgroundBrush.style() == Qt::NoBrush
             || cell.backgroundBrush.style() == Qt::SolidPattern)
        || painter->transform().type() > QTransform::TxTranslate) {
        style->drawControl(QStyle::CE_ItemViewItem, &cell, painter, widget);
        return;
    }

    Key key;
    key.text = cell.text;
    key.font = cell.font;
    const QPalette::ColorGroup group = !(cell.state & QStyle::State_Enabled) ? QPalette::Disabled
                                       : (cell.state & QStyle::State_Active) ? QPalette::Active
                                                                             : QPalette::Inactive;
    key.textColor = cell.palette.color(group, QPalette::Text).rgba();
    key.background
            = cell.backgroundBrush.style() == Qt::NoBrush ? 0 : cell.backgroundBrush.color().rgba();
    key.base = cell.palette.base().color().rgba();
    key.alignment = int(cell.displayAlignment);
    key.state = uint(cell.state & (QStyle::State_Enabled | QStyle::State_Active));
    key.size = cell.rect.size();
    key.pixelRatio = target->devicePixelRatioF();
    key.format = int(target->format());

    const QImage *picture = pictures_.object(key);
    if (!picture) {
        auto *made = new QImage(cell.rect.size() * key.pixelRatio, target->format());
        made->setDevicePixelRatio(key.pixelRatio);
        made->fill(cell.palette.base().color());
        QPainter on(made);
        QStyleOptionViewItem at(cell);
        at.rect.moveTo(0, 0);
        style->drawControl(QStyle::CE_ItemViewItem, &at, &on, widget);
        on.end();
        ++picturesMade_;
        painter->drawImage(cell.rect.topLeft(), *made);
        pictures_.insert(key, made, int(made->sizeInBytes()));
        return;
    }
    painter->drawImage(cell.rect.topLeft(), *picture);
}
