// The report composer with the host formatter against glibc's swprintf composing the same text.
#include "display_report.h"

#include <benchmark/benchmark.h>

#include <cwchar>

namespace
{

constexpr GXDisplayProperties kDisplay{240, 320, 2, 480, 16, kfDirect | kfDirect565};

void FormatDisplayReportHost(benchmark::State &state)
{
    WCHAR report[REPORT_BUFFER_LENGTH];
    for (auto _ : state) // NOLINT(clang-analyzer-deadcode.DeadStores): the loop variable is unused by design
    {
        FormatDisplayReport(report, kDisplay, 0);
        benchmark::DoNotOptimize(report);
    }
}

void SwprintfBaseline(benchmark::State &state)
{
    wchar_t report[REPORT_BUFFER_LENGTH];
    for (auto _ : state) // NOLINT(clang-analyzer-deadcode.DeadStores): the loop variable is unused by design
    {
        std::swprintf(report, REPORT_BUFFER_LENGTH,
                      L"GAPI reports the following data:\n"
                      L"\n"
                      L"Width:\t\t%d pixel\n"
                      L"Height:\t%d lines\n"
                      L"BPP:\t\t%d bit\n"
                      L"XPitch:\t\t%d byte\n"
                      L"YPitch:\t\t%d byte\n"
                      L"Direct Access:\t%ls",
                      static_cast<int>(kDisplay.cxWidth), static_cast<int>(kDisplay.cyHeight), kDisplay.cBPP,
                      kDisplay.cbxPitch, kDisplay.cbyPitch, L"yes");
        benchmark::DoNotOptimize(report);
    }
}

BENCHMARK(FormatDisplayReportHost);
BENCHMARK(SwprintfBaseline);

} // namespace

BENCHMARK_MAIN();
