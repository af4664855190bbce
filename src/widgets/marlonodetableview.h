#pragma once

#include <QAbstractItemDelegate>
#include <QTableView>

// The node table: one 28-pixel row per sensor node, five stretched columns, each drawn by its own
// delegate from the model's raw values. Read-only and not interactive (no selection, focus, grid
// or editing). Owned by its parent widget, it owns its delegates; GUI thread only.
class MarloNodeTableView : public QTableView
{
    Q_OBJECT

public:
    explicit MarloNodeTableView(QWidget *parent = nullptr);

    // The delegates keep pictures of the cells they drew and put them in place again, with the
    // very pixels of drawing in place. Off, every cell is drawn in place (to compare the two).
    static void setPicturesKept(bool kept);
};

// Column 0: the node id in bold on a rounded badge of the index's foreground colour.
class NodeIdItemDelegate : public QAbstractItemDelegate
{
public:
    using QAbstractItemDelegate::QAbstractItemDelegate;

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;
};

// Column 1: the model's delay text, centred, in the index's foreground colour.
class DelayItemDelegate : public QAbstractItemDelegate
{
public:
    using QAbstractItemDelegate::QAbstractItemDelegate;

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;
};

// Column 2: the error count as "Good" or "<n> errors", centred, in the foreground colour.
class StatusItemDelegate : public QAbstractItemDelegate
{
public:
    using QAbstractItemDelegate::QAbstractItemDelegate;

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;

    static QString statusText(unsigned int errorCount);
};

// Column 3: the joystick picture of the index's bit set, filling the whole cell.
class JoystickItemDelegate : public QAbstractItemDelegate
{
public:
    using QAbstractItemDelegate::QAbstractItemDelegate;

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;
};

// Column 4: three stacked progress bars (x, y, z) from -2048 to 2048, drawn by the application
// style.
class AccelerometerItemDelegate : public QAbstractItemDelegate
{
public:
    using QAbstractItemDelegate::QAbstractItemDelegate;

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;
};
