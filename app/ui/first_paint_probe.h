#pragma once
// For the start-up benchmark: when the environment variable
// PELLIMAR_FIRST_PAINT_FILE names a file, the time of the window's first
// paint is written there, in nanoseconds of the monotonic clock (the clock
// of CLOCK_MONOTONIC, which the benchmark reads just before it starts the
// program). Without the variable nothing is watched.
class QWidget;

void ReportFirstPaint(QWidget& window);
