// Costs of single operations, timed by Google Benchmark.

#include "inprocessclient.h"
#include "measurements.h"
#include "resulttable.h"

#include "floodsender.h"

#include <benchmark/benchmark.h>

#include <QMap>

namespace {

constexpr int distinctScreens = 64;

// Payloads of "UI" lines as the line reader hands them to the decoder; they
// differ, so that every label really changes.
QVector<QByteArray> uiPayloads()
{
    QVector<QByteArray> payloads;
    for (int i = 1; i <= distinctScreens; ++i)
        payloads.append(fullScreenLine(i).mid(3));
    return payloads;
}

void showFullScreens(VelmoScreenForm &form)
{
    // Screen 1 shows the message screen, with blinking cells on both screens.
    const UnitScreens screens = FloodSender::floodScreen(1);
    form.setAutopilotScreen(screens.autopilotText, screens.autopilotMask);
    form.setMsgScreen(true, screens.msgText, screens.msgMask, screens.msgIsAlarm);
}

void blinkTick(benchmark::State &state)
{
    InProcessClient client;
    showFullScreens(client.form());
    for (auto _ : state)
        QMetaObject::invokeMethod(&client.form(), "blinkTimerTimeout", Qt::DirectConnection);
}

void composeBothScreens(benchmark::State &state)
{
    const UnitScreens screens = FloodSender::floodScreen(1);
    for (auto _ : state) {
        benchmark::DoNotOptimize(VelmoScreenForm::applyBlinkMask(screens.autopilotText, screens.autopilotMask, false));
        benchmark::DoNotOptimize(VelmoScreenForm::applyBlinkMask(screens.msgText, screens.msgMask, false));
    }
}

void decodeOnly(benchmark::State &state)
{
    const QVector<QByteArray> payloads = uiPayloads();
    DebugCommunicator link;
    int i = 0;
    for (auto _ : state)
        link.onUIMsg(payloads.at(i++ % distinctScreens));
}

void decodeAndShow(benchmark::State &state)
{
    const QVector<QByteArray> payloads = uiPayloads();
    InProcessClient client;
    int i = 0;
    for (auto _ : state)
        client.link().onUIMsg(payloads.at(i++ % distinctScreens));
}

// Both screens of a new full-screen message applied to the form, with the
// message page switched at every other update or never.
void applyScreens(benchmark::State &state, bool switchPage)
{
    QVector<UnitScreens> screens;
    for (int i = 1; i <= distinctScreens; ++i)
        screens.append(FloodSender::floodScreen(i));
    InProcessClient client;
    int i = 0;
    for (auto _ : state) {
        const UnitScreens &next = screens.at(i++ % distinctScreens);
        client.form().setAutopilotScreen(next.autopilotText, next.autopilotMask);
        client.form().setMsgScreen(!switchPage || i % 2 == 0, next.msgText, next.msgMask, next.msgIsAlarm);
    }
}

void applyScreensKeepingPage(benchmark::State &state)
{
    applyScreens(state, false);
}

void applyScreensSwitchingPage(benchmark::State &state)
{
    applyScreens(state, true);
}

// Collects the time per iteration of each benchmark, in microseconds.
class CollectingReporter : public benchmark::BenchmarkReporter
{
public:
    bool ReportContext(const Context &) override { return true; }
    void ReportRuns(const std::vector<Run> &runs) override
    {
        // Names carry the run's settings after a slash ("blinkTick/min_time:1.000").
        for (const Run &run : runs)
            perIteration[QString::fromStdString(run.benchmark_name()).section(QLatin1Char('/'), 0, 0)]
                = run.GetAdjustedRealTime();
    }
    QMap<QString, double> perIteration;
};

} // namespace

void runMicroBenchmarks(ResultTable &table)
{
    const struct
    {
        const char *name;
        void (*function)(benchmark::State &);
        const char *measure;
    } benchmarks[] = {
        { "blinkTick", blinkTick, "One blink tick: both screens composed and set on their labels" },
        { "composeBothScreens", composeBothScreens, "Blink composition of both screens alone (off phase)" },
        { "decodeOnly", decodeOnly, "One UI message decoded (signals not connected)" },
        { "decodeAndShow", decodeAndShow, "One UI message decoded and applied to the form (emulator flood screens)" },
        { "applyScreensKeepingPage", applyScreensKeepingPage,
          "Both screens applied to the form, message screen kept shown" },
        { "applyScreensSwitchingPage", applyScreensSwitchingPage,
          "Both screens applied to the form, message screen shown and hidden in turn" },
    };
    for (const auto &b : benchmarks)
        benchmark::RegisterBenchmark(b.name, b.function)->Unit(benchmark::kMicrosecond)->MinTime(1.0);

    CollectingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    for (const auto &b : benchmarks) {
        const QString name = QString::fromLatin1(b.name);
        if (reporter.perIteration.contains(name))
            table.add(QString::fromLatin1(b.measure), formatNumber(reporter.perIteration.value(name), 1) + QStringLiteral(" µs"));
    }
}
