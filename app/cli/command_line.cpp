#include "app/cli/command_line.h"

#include <QCommandLineParser>

#include <utility>

namespace {

struct TOptionText {
    QStringList names;
    QString valueName; // empty for a switch
    QString shown;     // how --help writes it
    QString description;
};

const QList<TOptionText>& Options()
{
    static const QList<TOptionText> options{
        {{QStringLiteral("fetch")}, {}, QStringLiteral("--fetch"),
         QStringLiteral("download once with the stored settings, without a window, printing the status log")},
        {{QStringLiteral("watch")}, {}, QStringLiteral("--watch"),
         QStringLiteral("without a window, keep watching an IMAP mailbox and fetch new faxes as they arrive, "
                        "until stopped (SIGTERM or Ctrl+C)")},
        {{QStringLiteral("timeout")}, QStringLiteral("SECONDS"), QStringLiteral("--timeout SECONDS"),
         QStringLiteral("with --fetch: give up on a server silent for this long (default 60)")},
        {{QStringLiteral("notify")}, {}, QStringLiteral("--notify"),
         QStringLiteral("with --fetch: show a desktop notification when the run adds faxes")},
        {{QStringLiteral("list")}, {}, QStringLiteral("--list"),
         QStringLiteral("print the catalogue, one fax per line: Status, Filename, Sender ID, Fax Date and eMail Date")},
        {{QStringLiteral("backup")}, {}, QStringLiteral("--backup FILE"),
         QStringLiteral("write a consistent, compact copy of the catalogue to FILE, also while Pellimar runs")},
        {{QStringLiteral("export")}, {}, QStringLiteral("--export FAX.apf OUT"),
         QStringLiteral("write the pages of a fax file: OUT.pdf gives one PDF, OUT.png or OUT.pbm one image per page")},
        {{QStringLiteral("print")}, {}, QStringLiteral("--print FAX.apf"),
         QStringLiteral("print a fax file with a FILE and PAGE header and footer")},
        {{QStringLiteral("import")}, {}, QStringLiteral("--import FAX.apf..."),
         QStringLiteral("copy fax files into faxes/ and catalogue them, without a window")},
        {{QStringLiteral("search")}, {}, QStringLiteral("--search WORDS..."),
         QStringLiteral("print the faxes whose recognised text holds all these words (any order, letter case and "
                        "accents ignored), one line each: key, pages and a piece of the text")},
        {{QStringLiteral("text")}, {}, QStringLiteral("--text FAX"),
         QStringLiteral("print the recognised text of a fax, given by its key (faxes\\NAME) or its file; a file "
                        "not read yet is read now")},
        {{QStringLiteral("printer")}, QStringLiteral("NAME"), QStringLiteral("--printer NAME"),
         QStringLiteral("with --print: the printer (default: the system's)")},
        {{QStringLiteral("pages")}, QStringLiteral("FROM-TO"), QStringLiteral("--pages FROM-TO"),
         QStringLiteral("with --print: only these pages")},
        {{QStringLiteral("multipage")}, {}, QStringLiteral("--multipage"),
         QStringLiteral("with --print: several pages a sheet")},
        {{QStringLiteral("output")}, QStringLiteral("FILE.pdf"), QStringLiteral("--output FILE.pdf"),
         QStringLiteral("with --print: print to a PDF file instead")},
        {{QStringLiteral("home")}, QStringLiteral("DIR"), QStringLiteral("--home DIR"),
         QStringLiteral("work in this folder (default: $PELLIMAR_HOME, else the current folder when it holds "
                        "faxes.qdb, temp/ or faxes/, else ~/Pellimar)")},
        {{QStringLiteral("h"), QStringLiteral("help")}, {}, QStringLiteral("-h, --help"), QStringLiteral("print this text")},
        {{QStringLiteral("version")}, {}, QStringLiteral("--version"), QStringLiteral("print the version")},
    };
    return options;
}

const char kIntroduction[] =
    "Without an option Pellimar opens its window. It works in one working folder, which holds "
    "the catalogue faxes.qdb and the folders temp/ and faxes/: the one --home names, else "
    "$PELLIMAR_HOME, else the current folder when it holds one of them, else ~/Pellimar "
    "(the window offers to create it on the first start). "
    "Given a fax file FAX.apf, it opens the window with the viewer showing that file.";

const char kExitStatuses[] =
    "Exit status of --fetch: 0 when the whole mailbox was walked (also when there was nothing new), "
    "2 when the server could not be reached, 3 when it refused the login, 4 when the run stopped early, "
    "5 when the catalogue could not be opened or the folder is no working folder, 6 when some mails could not be extracted (they are kept), "
    "7 when another Pellimar was downloading into the same folder. "
    "Of --watch: 0 when stopped, 2 when the mailbox is not an IMAP mailbox, 5 when the catalogue could not be opened. "
    "Of --list: 0, or 1 when the catalogue could not be opened. "
    "Of --backup: 0, or 1 when the catalogue could not be read or the copy could not be written. "
    "Of --export: 0, or 1 when the file is not a readable fax or the pages could not be written. "
    "Of --print: 0 when printed, 1 when the file is not a readable fax, 3 for a printer error, "
    "4 when some pages could not be printed (the others were). "
    "Of --import: 0 when every file was imported, 1 otherwise. "
    "Of --search: 0 when some fax matched, 1 when none did or there is no text index yet. "
    "Of --text: 0, or 1 when there is no text of that fax. "
    "Wrong arguments, such as an unknown option, give 2.";

// Options that belong to one mode.
const std::pair<const char*, TRunMode> kModeOptions[] = {
    {"timeout", TRunMode::Fetch}, {"notify", TRunMode::Fetch},   {"printer", TRunMode::Print},
    {"pages", TRunMode::Print},   {"multipage", TRunMode::Print}, {"output", TRunMode::Print},
};

constexpr int kLineWidth = 78;
constexpr int kDescriptionColumn = 24;

// The words of text in lines of at most kLineWidth, the first starting after
// `first`, the others indented by `indent` spaces.
QString Wrapped(const QString& text, const QString& first, int indent)
{
    QString out = first;
    int column = int(first.size() - first.lastIndexOf(QLatin1Char('\n')) - 1);
    bool lineEmpty = true;
    for (const QString& word : text.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        if (!lineEmpty && column + 1 + word.size() > kLineWidth) {
            out += QLatin1Char('\n') + QString(indent, QLatin1Char(' '));
            column = indent;
            lineEmpty = true;
        }
        if (!lineEmpty) {
            out += QLatin1Char(' ');
            ++column;
        }
        out += word;
        column += int(word.size());
        lineEmpty = false;
    }
    return out + QLatin1Char('\n');
}

} // namespace

TCommandLine ParseCommandLine(const QStringList& arguments)
{
    QCommandLineParser parser;
    for (const TOptionText& text : Options())
        parser.addOption(QCommandLineOption(text.names, text.description, text.valueName));
    TCommandLine line;
    if (!parser.parse(QStringList{QStringLiteral("pellimar")} + arguments)) {
        line.Error = parser.errorText();
        return line;
    }
    line.Arguments = parser.positionalArguments();
    if (parser.isSet(QStringLiteral("help"))) {
        line.Mode = TRunMode::Help;
        return line;
    }
    if (parser.isSet(QStringLiteral("version"))) {
        line.Mode = TRunMode::Version;
        return line;
    }

    QStringList modes;
    for (const char* mode : {"fetch", "watch", "list", "backup", "export", "print", "import", "search", "text"})
        if (parser.isSet(QLatin1String(mode)))
            modes << QStringLiteral("--") + QLatin1String(mode);
    if (modes.size() > 1) {
        line.Error = modes.join(QStringLiteral(" and ")) + QStringLiteral(" cannot be combined.");
        return line;
    }
    const QString mode = modes.value(0);
    line.Mode = mode == QLatin1String("--fetch")  ? TRunMode::Fetch
              : mode == QLatin1String("--watch")  ? TRunMode::Watch
              : mode == QLatin1String("--list")   ? TRunMode::List
              : mode == QLatin1String("--backup") ? TRunMode::Backup
              : mode == QLatin1String("--export") ? TRunMode::Export
              : mode == QLatin1String("--print")  ? TRunMode::Print
              : mode == QLatin1String("--import") ? TRunMode::Import
              : mode == QLatin1String("--search") ? TRunMode::Search
              : mode == QLatin1String("--text")   ? TRunMode::Text
                                                  : TRunMode::Window;

    for (const auto& [option, owner] : kModeOptions)
        if (parser.isSet(QLatin1String(option)) && line.Mode != owner) {
            line.Error = QStringLiteral("--%1 goes with --%2.")
                             .arg(QLatin1String(option), QLatin1String(owner == TRunMode::Fetch ? "fetch" : "print"));
            return line;
        }
    line.Notify = parser.isSet(QStringLiteral("notify"));
    line.Home = parser.value(QStringLiteral("home"));
    if (parser.isSet(QStringLiteral("home")) && line.Home.isEmpty()) {
        line.Error = QStringLiteral("--home needs a folder.");
        return line;
    }
    if (parser.isSet(QStringLiteral("timeout"))) {
        bool number = false;
        line.TimeoutSeconds = parser.value(QStringLiteral("timeout")).toInt(&number);
        if (!number || line.TimeoutSeconds <= 0) {
            line.Error = QStringLiteral("--timeout needs a number of seconds above 0.");
            return line;
        }
    }

    if (line.Mode == TRunMode::Print) {
        // Handed on as written; --print checks them itself.
        for (const char* option : {"printer", "pages", "output"})
            if (parser.isSet(QLatin1String(option)))
                line.Arguments << QStringLiteral("--") + QLatin1String(option) << parser.value(QLatin1String(option));
        if (parser.isSet(QStringLiteral("multipage")))
            line.Arguments << QStringLiteral("--multipage");
        return line;
    }
    if (line.Mode == TRunMode::Import && line.Arguments.isEmpty()) {
        line.Error = QStringLiteral("--import needs at least one fax file.");
        return line;
    }
    if (line.Mode == TRunMode::Search && line.Arguments.isEmpty()) {
        line.Error = QStringLiteral("--search needs at least one word.");
        return line;
    }
    if (line.Mode == TRunMode::Text && line.Arguments.isEmpty()) {
        line.Error = QStringLiteral("--text needs the fax.");
        return line;
    }
    if (line.Mode == TRunMode::Backup && line.Arguments.isEmpty()) {
        line.Error = QStringLiteral("--backup needs the file to write.");
        return line;
    }
    // --export checks its two arguments itself; --import takes any number of
    // files; the window and --backup take one file.
    const qsizetype allowed = line.Mode == TRunMode::Export || line.Mode == TRunMode::Import
                                      || line.Mode == TRunMode::Search
                                  ? line.Arguments.size()
                              : line.Mode == TRunMode::Window || line.Mode == TRunMode::Backup
                                      || line.Mode == TRunMode::Text
                                  ? 1
                                                                                             : 0;
    if (line.Arguments.size() > allowed)
        line.Error = QStringLiteral("Unexpected argument '%1'.").arg(line.Arguments.value(int(allowed)));
    return line;
}

QString CommandLineHelp()
{
    QString help = QStringLiteral(
        "Usage: pellimar [FAX.apf | --fetch [--timeout SECONDS] [--notify] | --watch | --list | --backup FILE |\n"
        "                 --export FAX.apf OUT |\n"
        "                 --print FAX.apf [--printer NAME] [--pages FROM-TO] [--multipage] [--output FILE.pdf] |\n"
        "                 --import FAX.apf... | --search WORDS... | --text FAX] [--home DIR]\n\n");
    help += Wrapped(QLatin1String(kIntroduction), {}, 0) + QLatin1Char('\n');
    for (const TOptionText& text : Options()) {
        QString first = QStringLiteral("  ") + text.shown;
        first = first.size() < kDescriptionColumn ? first.leftJustified(kDescriptionColumn)
                                                  : first + QLatin1Char('\n') + QString(kDescriptionColumn, QLatin1Char(' '));
        help += Wrapped(text.description, first, kDescriptionColumn);
    }
    return help + QLatin1Char('\n') + Wrapped(QLatin1String(kExitStatuses), {}, 0);
}
