// The display reaching up into the engine: one breach.
#include "report/disk_report.h"
#include "volume/volume.h"
