// --dry-run: the plan of the run, written instead of the run itself.
#pragma once

#include "cli/Report.h"
#include "pipeline/BatchRunner.h"

#include <cstdio>
#include <vector>

namespace pelo::cli {

// Every entry as "INPUT -> OUTPUT", or "refused INPUT: reason", on
// standard output (with a report, its lines instead), then the counts on
// counts unless quiet. kExitFailed when an entry is refused.
int PrintPlan(const std::vector<BatchEntry>& entries, const BatchPlan& plan, Report* report,
              std::FILE* counts, bool quiet);

} // namespace pelo::cli
