#include "cli/DryRun.h"

#include "cli/CommandLine.h"

#include <cstdio>

namespace pelo::cli {

int PrintPlan(const std::vector<BatchEntry>& entries, const BatchPlan& plan, Report* report,
              std::FILE* counts, bool quiet) {
    std::size_t refused = 0;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        refused += plan.refused(i);
        if (report)
            report->Planned(entries[i], plan.verdicts[i]);
        else if (plan.refused(i))
            std::printf("refused %s: %s\n", entries[i].input.c_str(),
                        plan.verdicts[i].reason.c_str());
        else
            std::printf("%s -> %s\n", entries[i].input.c_str(), entries[i].output.c_str());
    }
    if (!quiet)
        std::fprintf(counts, "%zu to convert, %zu refused (dry run)\n", entries.size() - refused,
                     refused);
    return refused > 0 ? kExitFailed : kExitOk;
}

} // namespace pelo::cli
