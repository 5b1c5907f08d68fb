// A report's lines read into records: our own scanner (what `records` and a station's
// batch count use) against simdjson's on-demand parser (a reference, in the benchmarks
// alone), both over a million lines in memory taking the same fields, so that the choice
// of reader rests on figures.
#include <benchmark/benchmark.h>
#include <simdjson.h>

#include <cstring>
#include <string>

#include "records/RecordReader.h"
#include "support/UtcTime.h"

std::string benchReport(long records);  // RecordsBench.cpp

namespace {
std::string_view text(simdjson::ondemand::value value) {
    std::string_view s;
    return value.get_string().get(s) == simdjson::SUCCESS ? s : std::string_view();
}

// The fields our reader takes, from one document.
bool take(simdjson::ondemand::document_reference doc, RecordLine& r) {
    bool time = false, port = false, result = false;
    for (auto field : doc.get_object()) {
        const std::string_view key = field.unescaped_key();
        simdjson::ondemand::value value = field.value();
        if (key == "time") {
            const std::string_view t = text(value);
            time = parseIsoUtc(t.data(), t.size(), r.time);
        } else if (key == "port") {
            r.port = text(value);
            port = true;
        } else if (key == "result") {
            r.result = text(value);
            result = true;
        } else if (key == "attempt") {
            int64_t n = 0;
            r.attempt = value.get_int64().get(n) == simdjson::SUCCESS ? static_cast<int>(n) : 1;
        } else if (key == "exit") {
            int64_t n = 0;
            r.exit = value.get_int64().get(n) == simdjson::SUCCESS ? static_cast<int>(n) : 0;
        } else if (key == "seconds") {
            double s = -1;
            r.seconds = value.get_double().get(s) == simdjson::SUCCESS ? s : -1;
        } else if (key == "deviceType") {
            r.deviceType = text(value);
        } else if (key == "serial") {
            r.serial = text(value);
        } else if (key == "firmwareBefore") {
            r.firmwareBefore = text(value);
        } else if (key == "firmwareAfter") {
            r.firmwareAfter = text(value);
        } else if (key == "image") {
            for (auto part : value.get_object()) {
                if (part.unescaped_key().value() == "file") {
                    r.imageFile = text(part.value());
                }
            }
        }
    }
    return time && port && result;
}

void RecordLinesOurs(benchmark::State& state) {
    const std::string lines = benchReport(state.range(0));
    for (auto _ : state) {
        size_t taken = 0;
        RecordLine record;
        for (const char* p = lines.data(); p < lines.data() + lines.size();) {
            const char* end = static_cast<const char*>(
                std::memchr(p, '\n', static_cast<size_t>(lines.data() + lines.size() - p)));
            taken += parseRecordLine(p, static_cast<size_t>(end - p), record);
            p = end + 1;
        }
        benchmark::DoNotOptimize(taken);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(lines.size()));
}
BENCHMARK(RecordLinesOurs)->Arg(1000000)->Unit(benchmark::kMillisecond)->Iterations(3);

void RecordLinesSimdjson(benchmark::State& state) {
    const simdjson::padded_string lines(benchReport(state.range(0)));
    simdjson::ondemand::parser parser;
    for (auto _ : state) {
        size_t taken = 0;
        simdjson::ondemand::document_stream docs;
        if (parser.iterate_many(lines).get(docs) != simdjson::SUCCESS) {
            state.SkipWithError("simdjson refused the report");
            break;
        }
        RecordLine record;
        for (auto doc : docs) {
            taken += take(doc.value(), record);
        }
        benchmark::DoNotOptimize(taken);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(lines.size()));
}
BENCHMARK(RecordLinesSimdjson)->Arg(1000000)->Unit(benchmark::kMillisecond)->Iterations(3);
}  // namespace
