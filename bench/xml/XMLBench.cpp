// Reading XML files with many elements side by side and many attributes on one element: the time per element
// must stay the same as the file grows.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

#include "KMemoryStorage.h"
#include "KXMLParser.h"

namespace {

void Parse(benchmark::State& state, const std::string& text)
{
    KMemoryFolder folder(u"mem://");
    folder.Put(u"f.xml", std::vector<uint8_t>(text.begin(), text.end()));
    for (auto _ : state) {
        KXMLParser parser;
        std::unique_ptr<KPropTree> root(parser.Load(&folder, u"f.xml"));
        benchmark::DoNotOptimize(root.get());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void Siblings(benchmark::State& state)
{
    std::string text = "<R>";
    for (int64_t i = 0; i < state.range(0); ++i)
        text += "<a/>";
    Parse(state, text + "</R>");
}

void Attributes(benchmark::State& state)
{
    std::string text = "<R";
    for (int64_t i = 0; i < state.range(0); ++i)
        text += " k" + std::to_string(i) + "=\"v\"";
    Parse(state, text + "/>");
}

BENCHMARK(Siblings)->Arg(1000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(Attributes)->Arg(1000)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace
