// The small pictures of the filter list, one per entry, drawn rather than
// stored so that they stay sharp on a scaled desktop.
#pragma once

#include <QIcon>

namespace palvex {

// index 0 none, 1 linear, 2 spline, 3 photo, 4 advanced; anything else an empty icon.
QIcon FilterIcon(int index);

} // namespace palvex
