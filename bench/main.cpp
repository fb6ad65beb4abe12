// The benchmark program. Run it in a catalogue's folder, or name the folder (or
// a server's URI) in ZEPLO_BENCH_CATALOGUE; scripts/bench runs every scenario
// over catalogues of several sizes and prints the table.

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDir>

#include <cstdio>

#include "report/Fonts.h"
#include "engine/Engine.h"
#include "engine/PgEngine.h"

namespace bench {
void registerScenarios();
}

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    zeplo::installFontSubstitutes();

    const QString folder = qEnvironmentVariable("ZEPLO_BENCH_CATALOGUE");
    if (zeplo::PgEngine::isServerUri(folder)) {
        zeplo::Engine::setCatalogue(folder);
    } else if (!folder.isEmpty() && !QDir::setCurrent(folder)) {
        std::fprintf(stderr, "cannot enter %s\n", qPrintable(folder));
        return 2;
    }

    bench::registerScenarios();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 2;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
