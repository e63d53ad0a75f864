#include "tests/support/local_mailbox.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>

namespace {

QString Tool(const char* name) { return QStringLiteral(PELLIMAR_SOURCE_DIR "/tools/") + QLatin1String(name); }

// Runs a command to its end; returns its standard output, or a null array on failure.
QByteArray Run(const QString& program, const QStringList& args, QString* error = nullptr)
{
    QProcess process;
    process.start(program, args);
    if (!process.waitForFinished(120000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        if (error)
            *error = QString::fromLocal8Bit(process.readAllStandardError().right(2000));
        return {};
    }
    QByteArray out = process.readAllStandardOutput();
    return out.isNull() ? QByteArray("") : out;
}

} // namespace

LocalMailbox::LocalMailbox(const QList<QByteArray>& mails, const QString& password) : password_(password)
{
    // Dovecot's own users must reach the mailbox and password file below here.
    QFile::setPermissions(dir_.path(), QFile::permissions(dir_.path()) | QFile::ExeGroup | QFile::ExeOther
                                           | QFile::ReadGroup | QFile::ReadOther);
    QStringList args{Tool("local_pop3_server.py"), QStringLiteral("start"), QStringLiteral("--password"), password,
                     dir_.filePath(QStringLiteral("server"))};
    for (int i = 0; i < mails.size(); ++i) {
        const QString path = dir_.filePath(QStringLiteral("mail%1.eml").arg(i, 5, 10, QLatin1Char('0')));
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(mails[i]) != mails[i].size()) {
            error_ = QStringLiteral("cannot write ") + path;
            return;
        }
        args << path;
    }
    const QByteArray out = Run(QStringLiteral("python3"), args, &error_);
    const auto match = QRegularExpression(QStringLiteral("127\\.0\\.0\\.1:(\\d+)")).match(QString::fromLatin1(out));
    if (match.hasMatch())
        port_ = match.captured(1).toInt();
    else if (error_.isEmpty())
        error_ = QString::fromLatin1(out);
}

LocalMailbox::~LocalMailbox()
{
    Run(QStringLiteral("python3"), {Tool("local_pop3_server.py"), QStringLiteral("stop"), dir_.filePath(QStringLiteral("server"))});
}

QString LocalMailbox::Poplib(const QString& script) const
{
    const QString program = QStringLiteral(
        "import poplib, sys\n"
        "p = poplib.POP3('127.0.0.1', %1)\n"
        "p.user('fax'); p.pass_(sys.argv[1])\n"
        "%2\n"
        "p.quit()\n").arg(port_).arg(script);
    return QString::fromLatin1(Run(QStringLiteral("python3"), {QStringLiteral("-c"), program, password_}));
}

QStringList LocalMailbox::Subjects() const
{
    const QString out = Poplib(QStringLiteral(
        "for i in range(1, p.stat()[0] + 1):\n"
        "    for l in p.top(i, 0)[1]:\n"
        "        if l.lower().startswith(b'subject:'): print(l.decode('latin-1'))"));
    return out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QStringList LocalMailbox::Uidls() const
{
    const QString out = Poplib(QStringLiteral("for l in p.uidl()[1]: print(l.decode('latin-1').split()[1])"));
    return out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QByteArray MakeMail(const QStringList& arguments)
{
    return Run(QStringLiteral("python3"), QStringList{Tool("make_fax_mail.py")} + arguments);
}
