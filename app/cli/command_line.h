#pragma once
// The program's command line: the mode it runs in and that mode's arguments,
// read with QCommandLineParser, and the text --help prints.
#include <QString>
#include <QStringList>

enum class TRunMode { Window, Fetch, Watch, List, Backup, Export, Print, Import, Search, Text, Help, Version };

// Wrong arguments (an unknown option, a missing value, modes combined).
constexpr int kUsageExitStatus = 2;

struct TCommandLine {
    TRunMode Mode = TRunMode::Window;
    int TimeoutSeconds = 0; // --timeout; 0 when not given
    bool Notify = false;    // --notify
    QString Home;           // --home DIR; empty when not given
    // What the mode reads further: FAX.apf and OUT for --export; the fax
    // files for --import; FILE for --backup; FAX.apf and
    // the printing options (as given, "--printer" NAME...) for --print; the
    // file to show for the window.
    QStringList Arguments;
    // Why the arguments are wrong; empty when they are right.
    QString Error;
};

// `arguments` without the program name.
TCommandLine ParseCommandLine(const QStringList& arguments);

// Usage, every option and the exit statuses, ending in a line break.
QString CommandLineHelp();
