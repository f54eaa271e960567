// What the Fragment and Defragment jobs show before and after their moves:
// the controls locked and the After side blanked, then the file rescanned
// and drawn on the After side with the controls given back.
#pragma once

#include "analysis/analyze_file.h"
#include "display/display.h"
#include "display/job_context.h"

namespace shardix {

void BeginJobDisplay(Display& display);

// Rescans the session's file into session.results and shows it on the After
// side. A failed scan has shown its own box; the displays then show what
// it left, and Defragment stays off for a file whose fragments could not be
// counted.
void EndJobDisplay(const JobContext& context, FileSession& session, Display& display);

}  // namespace shardix
