// Reading XML files with many elements side by side and many attributes on one element, and resolving the
// conditional sections of a file with many defines and many elements: the time per element must stay the same
// as the file grows.
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

// range(0) defines, then as many elements that have a child, then as many sections to resolve.
void Conditionals(benchmark::State& state)
{
    std::string text = "<R>";
    for (int64_t i = 0; i < state.range(0); ++i)
        text += "<xi:define Name=\"d" + std::to_string(i) + "\"/>";
    for (int64_t i = 0; i < state.range(0); ++i)
        text += "<b><c/></b><xi:ifdef Name=\"d" + std::to_string(i) + "\"><e/></xi:ifdef>";
    text += "</R>";
    KMemoryFolder folder(u"mem://");
    folder.Put(u"f.xml", std::vector<uint8_t>(text.begin(), text.end()));
    KArray<KWString> defines;
    for (auto _ : state) {
        state.PauseTiming();
        KXMLParser parser;
        std::unique_ptr<KPropTree> root(parser.Load(&folder, u"f.xml"));
        state.ResumeTiming();
        root->GetFirstChild()->Preprocess(defines);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

BENCHMARK(Siblings)->Arg(1000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(Attributes)->Arg(1000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(Conditionals)->Arg(1000)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace
