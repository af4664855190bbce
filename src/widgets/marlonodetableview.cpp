#include "widgets/marlonodetableview.h"

#include "widgets/qjoystickwidget.h"
#include "widgets/rasterformat.h"

#include <QAbstractScrollArea>
#include <QApplication>
#include <QCache>
#include <QFontMetrics>
#include <QHeaderView>
#include <QImage>
#include <QPaintEngine>
#include <QPainter>
#include <QPixmap>
#include <QStyle>
#include <QStyleOptionProgressBar>
#include <QTextOption>
#include <QVector3D>

#include <array>
#include <climits>
#include <cmath>
#include <cstring>
#include <functional>
#include <vector>

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

bool picturesKept = true;

// What a cached picture depends on: numbers (sizes, colours, the keys of the palette and the
// fonts...) and at most one text. The table builds one for every cell of every repaint, so it is
// cheaper to build and compare than a string of all its parts.
struct PictureKey
{
    std::array<qint64, 11> numbers{};
    QString text;

    bool operator==(const PictureKey &other) const
    {
        return numbers == other.numbers && text == other.text;
    }
};

uint qHash(const PictureKey &key, uint seed = 0)
{
    return qHashBits(key.numbers.data(), sizeof key.numbers, seed) ^ qHash(key.text, seed);
}

enum PictureKind { BarPicture = 1, NodeIdPicture, DelayPicture, StatusPicture, JoystickPicture };

// The parts that every picture shares: what the painter and the palette bring to the drawing.
PictureKey pictureKey(PictureKind kind, const QPainter *painter, const QPalette &palette,
                      const QSize &size)
{
    PictureKey key;
    key.numbers = {kind,
                   size.width(),
                   size.height(),
                   int(painter->renderHints()),
                   palette.cacheKey(),
                   int(palette.currentColorGroup())};
    return key;
}

// A small number that stands for a font in picture keys, -1 when too many fonts were met to
// keep them apart (the caller then draws in place).
int fontNumber(const QFont &font)
{
    static std::vector<QFont> known;
    constexpr size_t kMaxFonts = 64;
    for (size_t i = 0; i < known.size(); ++i) {
        if (known[i] == font)
            return int(i);
    }
    if (known.size() == kMaxFonts)
        return -1;
    known.push_back(font);
    return int(known.size() - 1);
}

qint64 bitsOf(qreal value)
{
    qint64 bits;
    static_assert(sizeof bits == sizeof value, "a qreal is a double");
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

// Fusion draws a value above the maximum past the end of the bar, across the next cells, and
// resets the painter's clip to do so. Drawn through a pixmap of the bar's size, whatever a style
// does stays inside the bar; the style still sees the bar where it is. The table repaints every
// row for each MPDU, so the pixmaps are kept by value and size.
void drawContained(const QStyleOptionProgressBar &bar, QPainter *painter)
{
    if (bar.rect.isEmpty())
        return;
    const qreal ratio = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
    // Three bars for each of 128 rows, with room for their changes.
    static QCache<PictureKey, QPixmap> bars(16 * 1024 * 1024);
    PictureKey key = pictureKey(BarPicture, painter, bar.palette, bar.rect.size());
    key.numbers[6] = bitsOf(ratio);
    key.numbers[7] = qint64(quintptr(QApplication::style()));
    key.numbers[8] = bar.progress;
    const QPixmap *pixmap = bars.object(key);
    if (!pixmap) {
        auto *made = new QPixmap(bar.rect.size() * ratio);
        made->setDevicePixelRatio(ratio);
        made->fill(Qt::transparent);
        {
            QPainter barPainter(made);
            barPainter.setRenderHints(painter->renderHints());
            barPainter.translate(-bar.rect.topLeft());
            QApplication::style()->drawControl(QStyle::CE_ProgressBar, &bar, &barPainter, nullptr);
        }
        pixmap = made;
        bars.insert(key, made, made->width() * made->height() * made->depth() / 8);
    }
    painter->drawPixmap(bar.rect.topLeft(), *pixmap);
}

// The solid colour the view fills under its cells, if the cell is painted on the view's own
// viewport with nothing that would make a picture of it differ from drawing in place.
bool cellBackground(const QPainter *painter, const QStyleOptionViewItem &option, QColor *colour)
{
    const auto *view = qobject_cast<const QAbstractScrollArea *>(option.widget);
    const QPaintDevice *device = painter->device();
    if (!view || !device || device->devicePixelRatioF() != 1.0
        || painter->worldTransform().type() != QTransform::TxNone || painter->opacity() != 1.0
        || painter->compositionMode() != QPainter::CompositionMode_SourceOver)
        return false;
    const QWidget *viewport = view->viewport();
    const QBrush &fill = viewport->palette().brush(viewport->backgroundRole());
    // A shape cut by the viewport's edge is rasterised along another road, with other roundings.
    if (!viewport->rect().contains(option.rect) || !viewport->autoFillBackground()
        || fill.style() != Qt::SolidPattern || fill.color().alpha() != 255)
        return false;
    *colour = fill.color();
    return true;
}

// An image reports qRound(dots per metre × 0.0254) dots per inch.
int dotsPerMeter(int dpi)
{
    return qRound(dpi / 0.0254);
}

// The part of a cell's picture that differs from the background it was drawn on: the rest of the
// cell already shows that background, so only this part is put in place.
QRect drawnRect(const QImage &picture, const QColor &background)
{
    const int bytes = picture.depth() / 8;
    if (picture.depth() % 8 != 0 || bytes == 0)
        return picture.rect();
    QImage pixel(1, 1, picture.format());
    pixel.fill(background);
    const uchar *plain = pixel.constScanLine(0);
    QRect drawn;
    for (int y = 0; y < picture.height(); ++y) {
        const uchar *line = picture.constScanLine(y);
        for (int x = 0; x < picture.width(); ++x) {
            if (std::memcmp(line + x * bytes, plain, size_t(bytes)) != 0)
                drawn |= QRect(x, y, 1, 1);
        }
    }
    return drawn;
}

// A cell's picture, cut down to what differs from the background, and where it goes in the cell.
struct CellPicture
{
    QImage image;
    QPoint offset;
};

// Paints a cell through a picture of it kept under what it shows (`value` and `text`): the picture
// is drawn on the view's own background colour, in the pixel format of the target, so putting it in
// place gives the very pixels of drawing in place. `draw` paints the cell as usual; `staysInside`
// tells, on a first drawing, whether it keeps within the cell (a picture cannot show what spills
// into a neighbour). Anything a picture cannot promise is drawn in place.
void paintThroughPicture(QPainter *painter, const QStyleOptionViewItem &option, PictureKind kind,
                         qint64 value, const QString &text,
                         const std::function<void(QPainter *)> &draw,
                         const std::function<bool()> &staysInside)
{
    // About 1500 cells of 220 x 28 pixels: every row of 128 nodes with room for their changes.
    static QCache<PictureKey, CellPicture> pictures(40 * 1024 * 1024);
    const QRect &cell = option.rect;
    QColor background;
    const QImage::Format format = rasterTargetFormat(*painter);
    const int painterFont = fontNumber(painter->font());
    const int optionFont = fontNumber(option.font);
    if (!picturesKept || cell.isEmpty() || format == QImage::Format_Invalid || painterFont < 0
        || optionFont < 0 || !cellBackground(painter, option, &background)) {
        draw(painter);
        return;
    }
    PictureKey key = pictureKey(kind, painter, option.palette, cell.size());
    key.numbers[6] = int(format);
    key.numbers[7] = background.rgba();
    key.numbers[8] = qint64(painterFont) << 32 | optionFont;
    key.numbers[9] = value;
    const QPaintDevice *device = painter->device();
    key.numbers[10] = qint64(device->logicalDpiX()) << 32 | device->logicalDpiY();
    key.text = text;
    const CellPicture *picture = pictures.object(key);
    if (!picture) {
        if (!staysInside()) {
            draw(painter);
            return;
        }
        QImage whole(cell.size(), format);
        // Text is laid out for the resolution of the device it is drawn on.
        whole.setDotsPerMeterX(dotsPerMeter(device->logicalDpiX()));
        whole.setDotsPerMeterY(dotsPerMeter(device->logicalDpiY()));
        whole.fill(background);
        QPainter cellPainter(&whole);
        cellPainter.setRenderHints(painter->renderHints());
        cellPainter.setFont(painter->font());
        cellPainter.setPen(painter->pen());
        cellPainter.setBrush(painter->brush());
        cellPainter.translate(-cell.topLeft());
        draw(&cellPainter);
        cellPainter.end();
        const QRect drawn = drawnRect(whole, background);
        auto *made = new CellPicture{whole.copy(drawn), drawn.topLeft()};
        picture = made;
        pictures.insert(key, made, int(made->image.sizeInBytes()) + 1);
    }
    if (!picture->image.isNull())
        painter->drawImage(cell.topLeft() + picture->offset, picture->image);
}

bool textStaysInside(const QPainter *painter, const QRect &cell, const QString &text)
{
    const QRect inner = innerRect(cell).toAlignedRect();
    return cell.contains(QFontMetrics(painter->font()).boundingRect(inner, Qt::AlignCenter, text));
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

void MarloNodeTableView::setPicturesKept(bool kept)
{
    picturesKept = kept;
}

void NodeIdItemDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option,
                               const QModelIndex &index) const
{
    const QColor fill = foregroundOf(index);
    const uint id = index.data(Qt::DisplayRole).toUInt();
    const QString label = QString("%1").arg(id);
    const QRect &cell = option.rect;
    const int dx = (cell.right() - cell.left() - kBadgeSize) / 2;
    const int dy = (cell.bottom() - cell.top() - kBadgeSize) / 2;
    QFont font = option.font;
    font.setWeight(75);
    font.setPointSize(10);

    const auto draw = [&](QPainter *to) {
        to->save();
        to->setRenderHint(QPainter::Antialiasing);
        to->setPen(Qt::NoPen);
        to->setBrush(QBrush(fill, Qt::SolidPattern));
        const QRectF badge(cell.left() + dx, cell.top() + dy,
                           cell.right() - cell.left() - 2 * dx + 1,
                           cell.bottom() - cell.top() - 2 * dy + 1);
        to->drawRoundedRect(badge, 5.0, 5.0, Qt::AbsoluteSize);
        to->setFont(font);
        to->setPen(option.palette.brush(QPalette::HighlightedText).color());
        drawCentredText(to, cell, label);
        to->restore();
    };
    const auto staysInside = [&] {
        const QRect inner = innerRect(cell).toAlignedRect();
        return dx >= 0 && dy >= 0
               && cell.contains(QFontMetrics(font).boundingRect(inner, Qt::AlignCenter, label));
    };
    paintThroughPicture(painter, option, NodeIdPicture, qint64(fill.rgba()) << 32 | id, QString(),
                        draw, staysInside);
}

QSize NodeIdItemDelegate::sizeHint(const QStyleOptionViewItem &, const QModelIndex &) const
{
    return QSize(32, 32);
}

void DelayItemDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option,
                              const QModelIndex &index) const
{
    const QColor colour = foregroundOf(index);
    const QString text = index.data(Qt::DisplayRole).toString();
    // The pen stays set on the view's painter, as drawing in place leaves it.
    painter->setPen(colour);
    paintThroughPicture(
            painter, option, DelayPicture, colour.rgba(), text,
            [&](QPainter *to) {
                to->setPen(colour);
                drawCentredText(to, option.rect, text);
            },
            [&] { return textStaysInside(painter, option.rect, text); });
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
    const QColor colour = foregroundOf(index);
    const uint errors = index.data(Qt::DisplayRole).toUInt();
    const QString text = statusText(errors);
    painter->setPen(colour);
    paintThroughPicture(
            painter, option, StatusPicture, qint64(colour.rgba()) << 32 | errors, QString(),
            [&](QPainter *to) {
                to->setPen(colour);
                drawCentredText(to, option.rect, text);
            },
            [&] { return textStaysInside(painter, option.rect, text); });
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
    // The picture keeps a margin inside its rectangle.
    paintThroughPicture(
            painter, option, JoystickPicture, joystick.position, QString(),
            [&](QPainter *to) { QJoystickWidget::drawJoystick(&joystick, to, nullptr); },
            [] { return true; });
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
