#pragma once

#include <QColor>
#include <QList>
#include <QString>

// One mark on the cycle timeline. A position outside [0, 1] (or NaN) is not drawn; an invalid
// colour means the palette's highlight.
struct QEventTimeslotWidgetEvent
{
    double position = 0.0;
    QString label;
    QColor color;
};

// What the cycle timeline shows: the number of slots and the marks of the current cycle. The
// timeline calls both from its painting, on the GUI thread, and reads them anew on every paint.
class QEventTimeslotWidgetDatasource
{
public:
    virtual ~QEventTimeslotWidgetDatasource();

    virtual int timeslotCount() const = 0;
    // Marks in drawing order (later ones over earlier ones); a new list on every call.
    virtual QList<QEventTimeslotWidgetEvent> events() const = 0;
};
