// The window program may include the engine, but not the command line.
#include <windows.h>
#include "fragment/fragment_job.h"
#include "cli/arguments.h"
