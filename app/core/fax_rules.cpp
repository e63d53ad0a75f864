#include "app/core/fax_rules.h"

#include "mail/mime_fields.h"

#include <QLocale>
#include <QStringDecoder>

#include <stdexcept>

namespace {

// A decoded parameter as single-byte text: its charset decoded (Latin-1 when
// it names none or one that is not known), characters beyond Latin-1 as "_".
QString ParameterText(const TParameterValue& parameter)
{
    const QByteArray bytes(parameter.value.data(), static_cast<qsizetype>(parameter.value.size()));
    QString text = Latin1(parameter.value);
    if (!parameter.charset.empty()) {
        QStringDecoder decoder(parameter.charset.c_str());
        if (decoder.isValid()) {
            const QString decoded = decoder.decode(bytes);
            if (!decoder.hasError())
                text = decoded;
        }
    }
    for (QChar& c : text)
        if (c.unicode() > 0xFF)
            c = QLatin1Char('_');
    return text;
}

// A catalogue key is "faxes\" + the name, at most 255 characters; on disk a
// file name has at most 255 bytes.
bool FitsAsFaxName(const QString& name)
{
    return name.size() <= 255 - 6 && name.toUtf8().size() <= 255;
}

} // namespace

std::string Upper(std::string s)
{
    for (char& c : s)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return s;
}

QString Latin1(const std::string& s) { return QString::fromLatin1(s.data(), static_cast<qsizetype>(s.size())); }

bool ContainsText(const std::string& text, const std::string& pattern)
{
    return Upper(text).find(Upper(pattern)) != std::string::npos;
}

void SplitHostPort(const QString& text, QString& host, QString& port, const QString& defaultPort)
{
    const QString t = text.trimmed();
    host = t;
    port = defaultPort;
    if (t.startsWith(QLatin1Char('['))) {
        const qsizetype close = t.indexOf(QLatin1Char(']'));
        if (close > 0) {
            host = t.mid(1, close - 1);
            if (t.mid(close + 1).startsWith(QLatin1Char(':')) && close + 2 < t.size())
                port = t.mid(close + 2);
        }
        return;
    }
    // One colon separates a port; several mean a bare IPv6 address.
    const qsizetype colon = t.indexOf(QLatin1Char(':'));
    if (colon > 0 && colon == t.lastIndexOf(QLatin1Char(':')) && colon + 1 < t.size()) {
        host = t.left(colon);
        port = t.mid(colon + 1);
    }
}

std::string ExtractFileNameValue(const std::string& line)
{
    const size_t at = Upper(line).find("FILENAME=");
    if (at == std::string::npos)
        return {};
    size_t pos = at + 9;
    while (pos < line.size() && (line[pos] == ' ' || line[pos] == '\t'))
        ++pos;
    if (pos < line.size() && line[pos] == '"') {
        const size_t close = line.find('"', pos + 1);
        return line.substr(pos + 1, close == std::string::npos ? std::string::npos : close - pos - 1);
    }
    size_t end = line.find(';', pos);
    std::string token = line.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
    while (!token.empty() && (token.back() == ' ' || token.back() == '\t' || token.back() == '"' || token.back() == '\''))
        token.pop_back();
    while (!token.empty() && (token.front() == '"' || token.front() == '\''))
        token.erase(0, 1);
    return token;
}

QString SafeAttachmentName(const std::string& name)
{
    const size_t slash = name.find_last_of("/\\");
    std::string base = slash == std::string::npos ? name : name.substr(slash + 1);
    for (char& c : base)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F || c == ':')
            c = '_';
    while (!base.empty() && base.front() == '.')
        base.front() = '_';
    if (base.empty())
        base = "fax.apf";
    return QString::fromLatin1(base.data(), static_cast<qsizetype>(base.size()));
}

QString FormatEMailDate(const QDateTime& when)
{
    return QLocale::c().toString(when, QStringLiteral("MM/dd/yyyy hh:mm AP"));
}

bool PartHeaderFileName(const char* line, QString& fileName, QString& typeName)
{
    if (!line)
        return false;
    std::string field;
    TFieldCursor value(line);
    if (ReadFieldName(line, field, value)) {
        if (field == "content-disposition") {
            const TParameterValue name = FindParameter(value.Rest(), "filename");
            if (name.found) {
                fileName = ParameterText(name);
                return true;
            }
        } else if (field == "content-type") {
            const TParameterValue name = FindParameter(value.Rest(), "name");
            if (name.found) {
                typeName = ParameterText(name);
                return true;
            }
        }
    }
    if (!ContainsText(line, "filename="))
        return false;
    fileName = Latin1(ExtractFileNameValue(line));
    return true;
}

QString FitFaxFileName(const QString& stem, const QString& suffix, const QString& extension)
{
    QString s = stem;
    while (!s.isEmpty() && !FitsAsFaxName(s + suffix + extension))
        s.chop(1);
    if (!s.isEmpty())
        return s + suffix + extension;
    // An extension that leaves no room for the stem is dropped.
    s = stem;
    while (s.size() > 1 && !FitsAsFaxName(s + suffix))
        s.chop(1);
    return s + suffix;
}

QString FaxFileOfKey(const QString& key)
{
    const QString prefix = QStringLiteral("faxes\\");
    if (!key.startsWith(prefix))
        return {};
    const QString name = key.mid(prefix.size());
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String(".."))
        return {};
    for (QChar c : name)
        if (c == QLatin1Char('/') || c == QLatin1Char('\\') || c.unicode() < 0x20 || c.unicode() == 0x7F)
            return {};
    return QStringLiteral("faxes/") + name;
}

QString ChooseFreeFaxName(const QString& wanted, const std::function<bool(const QString&)>& taken)
{
    const qsizetype dot = wanted.lastIndexOf(QLatin1Char('.'));
    const QString stem = dot > 0 ? wanted.left(dot) : wanted;
    const QString extension = dot > 0 ? wanted.mid(dot) : QString();
    for (int n = 1; n <= 100000; ++n) {
        const QString name = FitFaxFileName(stem, n == 1 ? QString() : QStringLiteral(" (%1)").arg(n), extension);
        if (!taken(name))
            return name;
    }
    throw std::runtime_error("no free file name in faxes\\ for " + wanted.toStdString());
}
