#include "widgets/qeventtimeslotwidgetdatasource.h"

QEventTimeslotWidgetDatasource::~QEventTimeslotWidgetDatasource() = default;
