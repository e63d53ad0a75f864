#include "app/core/fax_mail_rules.h"

#include "app/core/fax_rules.h"

#include <QByteArray>
#include <QDateTime>
#include <QRegularExpression>
#include <QStringDecoder>
#include <QUrl>

#include <algorithm>

namespace {

constexpr int kMinPhoneDigits = 5;

// Every character but these stays readable in the stored text.
const QByteArray kStoredPlain = " !\"#$&'()*+,-./:<=>?@[\\]^_`{}~";

QString Decode(const QByteArray& bytes, const QByteArray& charset)
{
    QStringDecoder decoder(charset.isEmpty() ? "UTF-8" : charset.constData());
    if (decoder.isValid()) {
        const QString text = decoder.decode(bytes);
        if (!decoder.hasError())
            return text;
    }
    return QString::fromLatin1(bytes);
}

// One "=?charset?encoding?text?=" word, or nothing when raw holds none at pos.
bool DecodeEncodedWord(const QByteArray& raw, qsizetype pos, qsizetype& end, QString& text)
{
    static const QRegularExpression word(QStringLiteral("^=\\?([^?\\s]+)\\?([bBqQ])\\?([^?\\s]*)\\?="));
    const auto match = word.match(QString::fromLatin1(raw.mid(pos, 1000)));
    if (!match.hasMatch())
        return false;
    QByteArray charset = match.captured(1).toLatin1();
    charset = charset.left(charset.indexOf('*')); // RFC 2231 language suffix
    const QByteArray data = match.captured(3).toLatin1();
    QByteArray bytes;
    if (match.captured(2).toUpper() == QLatin1String("B")) {
        bytes = QByteArray::fromBase64(data);
    } else {
        QByteArray spaced = data;
        spaced.replace('_', ' ');
        bytes = QByteArray::fromPercentEncoding(spaced, '=');
    }
    text = Decode(bytes, charset);
    end = pos + match.capturedLength(0);
    return true;
}

bool IsDigit(QChar c) { return c >= QLatin1Char('0') && c <= QLatin1Char('9'); }

// The phone number that starts at text[start], or "".
QString PhoneNumberAt(const QString& text, qsizetype start)
{
    qsizetype i = start;
    if (text[i] == QLatin1Char('+'))
        ++i;
    int digits = 0;
    qsizetype end = start;
    while (i < text.size()) {
        const QChar c = text[i];
        if (IsDigit(c)) {
            ++digits;
            end = ++i;
        } else if (c == QLatin1Char('(')) {
            // An area code in brackets: "(030)".
            const qsizetype close = text.indexOf(QLatin1Char(')'), i);
            if (close < i + 2)
                break;
            const QString inside = text.mid(i + 1, close - i - 1);
            if (!std::all_of(inside.begin(), inside.end(), IsDigit))
                break;
            digits += static_cast<int>(inside.size());
            end = i = close + 1;
            if (i < text.size() && text[i] == QLatin1Char(' ') && i + 1 < text.size() && IsDigit(text[i + 1]))
                ++i;
        } else if ((c == QLatin1Char(' ') || c == QLatin1Char('-')) && i + 1 < text.size()
                   && (IsDigit(text[i + 1]) || text[i + 1] == QLatin1Char('('))) {
            ++i;
        } else {
            break;
        }
    }
    if (digits < kMinPhoneDigits)
        return {};
    // A number glued to a word or to a longer code is not a phone number.
    if (end < text.size() && text[end].isLetterOrNumber())
        return {};
    return text.mid(start, end - start);
}

bool SenderMatches(const QString& ruleSender, const QString& address)
{
    if (ruleSender.isEmpty())
        return true;
    if (address.isEmpty())
        return false;
    const QString wanted = ruleSender.toLower();
    if (wanted.contains(QLatin1Char('@')) && !wanted.startsWith(QLatin1Char('@')))
        return address == wanted;
    const QString domain = wanted.startsWith(QLatin1Char('@')) ? wanted.mid(1) : wanted;
    const QString addressDomain = address.mid(address.lastIndexOf(QLatin1Char('@')) + 1);
    return addressDomain == domain || addressDomain.endsWith(QLatin1Char('.') + domain);
}

// The Date field with its comments dropped and a named zone as an offset,
// as the date reader takes it.
QString NormalisedDate(QString date)
{
    static const QRegularExpression comment(QStringLiteral("\\([^()]*\\)"));
    date.remove(comment);
    date = date.simplified();
    static const std::pair<const char*, const char*> zones[] = {
        {"UT", "+0000"},  {"UTC", "+0000"}, {"GMT", "+0000"}, {"Z", "+0000"},   {"EST", "-0500"}, {"EDT", "-0400"},
        {"CST", "-0600"}, {"CDT", "-0500"}, {"MST", "-0700"}, {"MDT", "-0600"}, {"PST", "-0800"}, {"PDT", "-0700"}};
    const qsizetype space = date.lastIndexOf(QLatin1Char(' '));
    const QString last = date.mid(space + 1).toUpper();
    for (const auto& [name, offset] : zones)
        if (last == QLatin1String(name))
            return date.left(space + 1) + QLatin1String(offset);
    return date;
}

} // namespace

TFaxMailRule MarkerRule() { return {QString(), QStringLiteral("{Varnel}"), true}; }

TFaxMailRule MakeFaxMailRule(const QString& sender, const QString& subject)
{
    auto clean = [](QString text) {
        for (QChar& c : text)
            if (c.category() == QChar::Other_Control)
                c = QLatin1Char(' ');
        return text.trimmed();
    };
    return {clean(sender), clean(subject), false};
}

QString FaxMailRuleProblem(const TFaxMailRule& rule)
{
    if (rule.Sender.isEmpty() && rule.Subject.isEmpty())
        return QStringLiteral("A rule needs a sender address or domain, a subject text, or both.");
    const QString domain = rule.Sender.mid(rule.Sender.lastIndexOf(QLatin1Char('@')) + 1);
    if (!rule.Sender.isEmpty() && (domain.isEmpty() || rule.Sender.contains(QLatin1Char(' '))))
        return QStringLiteral("The sender must be an address such as fax@gateway.example or a domain such as "
                              "gateway.example.");
    return {};
}

QString DescribeFaxMailRule(const TFaxMailRule& rule)
{
    QStringList parts;
    if (!rule.Sender.isEmpty())
        parts << QStringLiteral("Sender ") + rule.Sender;
    if (!rule.Subject.isEmpty())
        parts << (parts.isEmpty() ? QStringLiteral("Subject contains \"") : QStringLiteral("subject contains \""))
                     + rule.Subject + QLatin1Char('"');
    QString text = parts.join(QStringLiteral(", "));
    if (rule.BuiltIn)
        text += QStringLiteral(" (built in)");
    return text;
}

TFaxMailRules FaxMailRulesFromText(const QString& stored)
{
    TFaxMailRules rules{MarkerRule()};
    const QByteArray bytes = stored.toLatin1();
    for (const QByteArray& entry : bytes.split('|')) {
        const qsizetype semicolon = entry.indexOf(';');
        if (semicolon < 0)
            continue;
        const TFaxMailRule rule = MakeFaxMailRule(QString::fromUtf8(QByteArray::fromPercentEncoding(entry.left(semicolon))),
                                                  QString::fromUtf8(QByteArray::fromPercentEncoding(entry.mid(semicolon + 1))));
        if (FaxMailRuleProblem(rule).isEmpty() && !rules.contains(rule))
            rules << rule;
    }
    return rules;
}

QString FaxMailRulesToText(const TFaxMailRules& rules)
{
    QStringList entries;
    for (const TFaxMailRule& rule : rules)
        if (!rule.BuiltIn)
            entries << QString::fromLatin1(QUrl::toPercentEncoding(rule.Sender, kStoredPlain) + ';'
                                           + QUrl::toPercentEncoding(rule.Subject, kStoredPlain));
    return entries.join(QLatin1Char('|'));
}

void TMailHeaderReader::Clear()
{
    field_.clear();
    header_ = {};
}

void TMailHeaderReader::AddLine(const std::string& line)
{
    if (!line.empty() && (line[0] == ' ' || line[0] == '\t') && !field_.empty()) {
        if (field_.size() < 64 * 1024) // an endless folded field is cut, not stored whole
            field_ += " " + line.substr(line.find_first_not_of(" \t") == std::string::npos
                                            ? line.size()
                                            : line.find_first_not_of(" \t"));
        return;
    }
    TakeField();
    field_ = line;
}

void TMailHeaderReader::TakeField()
{
    const size_t colon = field_.find(':');
    if (colon == std::string::npos)
        return;
    const std::string name = Upper(field_.substr(0, colon));
    const size_t start = field_.find_first_not_of(" \t", colon + 1);
    const std::string value = start == std::string::npos ? std::string() : field_.substr(start);
    if (name == "FROM" && header_.From.isNull())
        header_.From = DecodeHeaderText(value);
    else if (name == "SUBJECT" && header_.Subject.isNull())
        header_.Subject = DecodeHeaderText(value);
    else if (name == "DATE" && header_.Date.isNull())
        header_.Date = Latin1(value);
}

TMailHeader TMailHeaderReader::Fields() const
{
    TMailHeaderReader copy = *this;
    copy.TakeField();
    return copy.header_;
}

QString DecodeHeaderText(const std::string& raw)
{
    const QByteArray bytes(raw.data(), static_cast<qsizetype>(raw.size()));
    QString text;
    QByteArray plain; // raw bytes since the last encoded word
    bool afterWord = false;
    for (qsizetype i = 0; i < bytes.size();) {
        qsizetype end = 0;
        QString word;
        if (bytes[i] == '=' && DecodeEncodedWord(bytes, i, end, word)) {
            // Blanks between two encoded words are not part of the text.
            if (!(afterWord && plain.trimmed().isEmpty()))
                text += Decode(plain, {});
            plain.clear();
            text += word;
            afterWord = true;
            i = end;
        } else {
            plain += bytes[i++];
        }
    }
    text += Decode(plain, {});
    for (QChar& c : text) // a value goes on one line of a list file
        if (c.category() == QChar::Other_Control)
            c = QLatin1Char(' ');
    return text.trimmed();
}

QString SenderAddress(const QString& from)
{
    const qsizetype open = from.lastIndexOf(QLatin1Char('<'));
    if (open >= 0) {
        const qsizetype close = from.indexOf(QLatin1Char('>'), open);
        return from.mid(open + 1, close < 0 ? -1 : close - open - 1).trimmed().toLower();
    }
    static const QRegularExpression address(QStringLiteral("[^\\s<>()\"]+@[^\\s<>()\"]+"));
    return address.match(from).captured(0).toLower();
}

QString SenderDisplayName(const QString& from)
{
    QString name;
    const qsizetype open = from.lastIndexOf(QLatin1Char('<'));
    if (open >= 0) {
        name = from.left(open);
    } else {
        const qsizetype paren = from.indexOf(QLatin1Char('('));
        const qsizetype close = from.lastIndexOf(QLatin1Char(')'));
        if (paren >= 0 && close > paren)
            name = from.mid(paren + 1, close - paren - 1);
    }
    name = name.trimmed();
    if (name.size() >= 2 && name.startsWith(QLatin1Char('"')) && name.endsWith(QLatin1Char('"')))
        name = name.mid(1, name.size() - 2).replace(QStringLiteral("\\\""), QStringLiteral("\""));
    return name.trimmed();
}

int MatchingFaxMailRule(const TFaxMailRules& rules, const TMailHeader& header)
{
    const QString address = SenderAddress(header.From);
    for (qsizetype i = 0; i < rules.size(); ++i) {
        const TFaxMailRule& rule = rules[i];
        if (rule.BuiltIn || !FaxMailRuleProblem(rule).isEmpty())
            continue;
        if (SenderMatches(rule.Sender, address) && header.Subject.contains(rule.Subject, Qt::CaseInsensitive))
            return static_cast<int>(i);
    }
    return -1;
}

QString PhoneNumberIn(const QString& text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        const bool starts = IsDigit(c) || ((c == QLatin1Char('+') || c == QLatin1Char('('))
                                           && i + 1 < text.size() && IsDigit(text[i + 1]));
        if (!starts || (i > 0 && (text[i - 1].isLetterOrNumber() || text[i - 1] == QLatin1Char('+'))))
            continue;
        const QString number = PhoneNumberAt(text, i);
        if (!number.isEmpty())
            return number;
        while (i + 1 < text.size() && (text[i + 1].isLetterOrNumber()))
            ++i; // the rest of this word or number
    }
    return {};
}

QString SenderIdFromHeader(const TMailHeader& header)
{
    const QString phone = PhoneNumberIn(header.Subject);
    if (!phone.isEmpty())
        return phone;
    const QString name = SenderDisplayName(header.From);
    return name.isEmpty() ? SenderAddress(header.From) : name;
}

QString FaxDateFromHeader(const QString& date, const QTimeZone& zone)
{
    if (date.trimmed().isEmpty())
        return {};
    const QDateTime when = QDateTime::fromString(NormalisedDate(date), Qt::RFC2822Date);
    return when.isValid() ? FormatEMailDate(when.toTimeZone(zone)) : QString();
}
