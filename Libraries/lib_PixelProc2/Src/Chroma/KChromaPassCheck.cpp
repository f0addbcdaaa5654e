#include "KChromaCoring.h"
#include "KDebug.h"

bool ChromaPassRuns(const char* filter, const double limits[3], KInt32 spatial, bool trace, bool usesSpatial)
{
    if ((spatial > 0 || !usesSpatial) && limits[0] > 0.0 && limits[1] > 0.0 && limits[2] > 0.0)
        return true;
    if (trace)
        DebugTrace("%s: pass skipped: spatial threshold %d, limits %g %g %g\n", filter, spatial, limits[0], limits[1],
                   limits[2]);
    return false;
}
