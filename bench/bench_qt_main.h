#pragma once

#include <benchmark/benchmark.h>
#include <QCoreApplication>
#include <QLoggingCategory>
#include <QTemporaryDir>

namespace vernalo {

// Shared main of the benchmark programs: the core's log lines go to a throw-away log, not the
// developer's own, and Qt's event loop objects have their application.
inline int runQtBenchmarks(int argc, char **argv)
{
    QTemporaryDir state;
    qputenv("XDG_STATE_HOME", state.path().toUtf8());
    QLoggingCategory::setFilterRules(QStringLiteral("default.info=false"));
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

} // namespace vernalo
