#pragma once
// Where Pellimar keeps its faxes: the working folder, with the catalogue
// faxes.qdb and the folders temp/ and faxes/. The window, --fetch from the
// timer and ./run.sh all choose it by one rule:
//   1. --home DIR;
//   2. else $PELLIMAR_HOME;
//   3. else the current folder, when it is a working folder already (it
//      holds faxes.qdb, temp/ or faxes/), so that existing set-ups stay;
//   4. else the folder the user chose on the first start, if any;
//   5. else ~/Pellimar.
#include <QString>

struct TWorkingFolder {
    enum class TSource { Option, Environment, Current, Remembered, Default };
    QString Path; // absolute
    TSource Source = TSource::Default;
};

// `homeOption` is the value of --home, empty when not given.
TWorkingFolder ChooseWorkingFolder(const QString& homeOption);

// ~/Pellimar.
QString DefaultWorkingFolder();

// True when `folder` holds faxes.qdb, temp/ or faxes/.
bool IsWorkingFolder(const QString& folder);

// Keeps the folder chosen on the first start in the settings store, so that
// later starts (the menu's, the timer's) choose it too.
void RememberWorkingFolder(const QString& folder);

// Creates `folder` with temp/ and faxes/ (what exists is kept); false with
// the reason on failure.
bool MakeWorkingFolder(const QString& folder, QString& error);
