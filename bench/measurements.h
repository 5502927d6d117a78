#ifndef MEASUREMENTS_H
#define MEASUREMENTS_H

#include <QString>
#include <QVector>

#include <chrono>

class ResultTable;

using Clock = std::chrono::steady_clock;

// Each adds its rows to the table.
void runMicroBenchmarks(ResultTable &table);
void measureThroughput(ResultTable &table, int screens);
void measureLatency(ResultTable &table);
void measureKeyToWire(ResultTable &table);
void measureKeysUnderFlood(ResultTable &table, const QString &clientExecutable);
void measureClientProcess(ResultTable &table, const QString &clientExecutable);
void measureOversizedScreens(ResultTable &table, const QString &clientExecutable);
void measureRelay(ResultTable &table, const QString &emulatorExecutable);

// Helpers shared by the measurements.
QByteArray fullScreenLine(int index);
double microseconds(Clock::duration duration);
// The value below which `share` (0..1) of the sorted samples lie.
double percentile(QVector<double> samples, double share);

#endif // MEASUREMENTS_H
