#pragma once

#include <QCache>
#include <QColor>
#include <QFont>
#include <QSize>
#include <QString>
#include <QStyledItemDelegate>

// Paints a table's cells as the styled delegate does, each with the table's grid lines on its
// right and bottom edge where the view would draw them (turn the view's grid off), and keeps the
// pictures of plain cells by what they show: a table that repaints every cycle draws only the
// cells whose text or colours changed, and copies the rest. QTableView strokes its grid pixel by
// pixel, and the style lays every cell's text out anew; together they cost a millisecond a
// repaint. Selected and focused cells are painted in place. GUI thread.
class CellDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    explicit CellDelegate(QObject *parent = nullptr);

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override;

    // Pictures made so far, for tests.
    int picturesMade() const { return picturesMade_; }

private:
    struct Key
    {
        QString text;
        QFont font;
        QRgb textColor = 0;
        QRgb background = 0;
        QRgb base = 0;
        int alignment = 0;
        uint state = 0;
        QSize size;
        qreal pixelRatio = 1;
        int format = 0;
        bool operator==(const Key &o) const
        {
            return text == o.text && font == o.font && textColor == o.textColor
                   && background == o.background && base == o.base && alignment == o.alignment
                   && state == o.state && size == o.size && pixelRatio == o.pixelRatio
                   && format == o.format;
        }
    };
    friend uint qHash(const Key &key, uint seed);

    mutable QCache<Key, QImage> pictures_;
    mutable int picturesMade_ = 0;
};
