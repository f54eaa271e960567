// The scenario builder reaching up into the command line: one breach.
#include "cli/terminal_display.h"
#include "fragment/fragment_job.h"
#include "volume/ntfsimage/image_builder.h"
