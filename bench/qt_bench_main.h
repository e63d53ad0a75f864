#pragma once
// main() for benchmarks that need Qt's event loop.
#include <QCoreApplication>

#include <benchmark/benchmark.h>

#define PELLIMAR_QT_BENCHMARK_MAIN()                 \
    int main(int argc, char** argv)                  \
    {                                                \
        QCoreApplication app(argc, argv);            \
        benchmark::Initialize(&argc, argv);          \
        benchmark::RunSpecifiedBenchmarks();         \
        benchmark::Shutdown();                       \
        return 0;                                    \
    }
