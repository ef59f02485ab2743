#include "benchmarks.h"
#include "conversions.h"

#include <QString>
#include <benchmark/benchmark.h>

namespace quelm::bench {
namespace {

// Figure 5: one conversion of the box's text to a bar count, as the Build button makes it
// (by the rules of the system's locale).
void textToInt32(benchmark::State &state, const QString &text)
{
    for (auto _ : state) {
        benchmark::DoNotOptimize(conversions::textToInt32(text));
    }
}

} // namespace

void registerConversions()
{
    for (const char *text : {"10", " 25 ", "2.5", "1e3"}) {
        const std::string name = std::string("conversion/\"") + text + '"';
        benchmark::RegisterBenchmark(name.c_str(), textToInt32, QString::fromLatin1(text));
    }
}

} // namespace quelm::bench
