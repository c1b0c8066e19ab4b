// How often a TBitmap32 announced a change, a resize and a new handle, for
// the tests of what its operations announce.
#pragma once

#include "raster/Bitmap32.h"

namespace palvex::test {

struct EventCounts {
    int change = 0;
    int resize = 0;
    int handle = 0;
};

inline void Count(TBitmap32& b, EventCounts& c)
{
    b.OnChange = [&c](TPersistent&) { ++c.change; };
    b.OnResize = [&c](TPersistent&) { ++c.resize; };
    b.OnHandleChanged = [&c](TPersistent&) { ++c.handle; };
}

} // namespace palvex::test
