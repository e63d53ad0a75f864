#pragma once
// Fax-mail rules: which mails of the mailbox are fax mails. The forwarding
// server's rule, a subject holding "{Varnel}", always comes first and cannot
// be removed; further rules name a sender address or domain, a subject text,
// or both, compared without regard to case. Also what a mail matched by a
// further rule tells of its fax: a sender ID and a fax date taken from its
// header when it carries no fax data lines.
#include <QList>
#include <QString>
#include <QTimeZone>

#include <string>

struct TFaxMailRule {
    // "fax@gateway.example" names one address; "gateway.example" or
    // "@gateway.example" every address of that domain and its subdomains.
    // Empty: any sender.
    QString Sender;
    // A text the subject holds; empty: any subject.
    QString Subject;
    bool BuiltIn = false; // the forwarding server's marker rule

    bool operator==(const TFaxMailRule&) const = default;
};
using TFaxMailRules = QList<TFaxMailRule>;

// The forwarding server's rule: a subject holding "{Varnel}".
TFaxMailRule MarkerRule();
// A further rule from what the user typed: blanks around each text and
// control characters in it are dropped.
TFaxMailRule MakeFaxMailRule(const QString& sender, const QString& subject);
// Why a rule made of these texts could not be used, or an empty text.
QString FaxMailRuleProblem(const TFaxMailRule& rule);
// One line for the rule list, e.g. Sender fax@gateway.example, subject "New fax".
QString DescribeFaxMailRule(const TFaxMailRule& rule);

// The settings store holds the further rules in one text value: rules
// separated by "|", each "sender;subject", with "%", "|", ";", control and
// non-ASCII characters percent-encoded (UTF-8). The marker rule is not
// stored. Reading always yields the marker rule first; unusable entries are
// skipped.
inline constexpr const char* kFaxMailRulesSetting = "rgFaxMailRules";
TFaxMailRules FaxMailRulesFromText(const QString& stored);
QString FaxMailRulesToText(const TFaxMailRules& rules);

// The header fields a rule looks at, unfolded and with encoded words decoded.
struct TMailHeader {
    QString From;
    QString Subject;
    QString Date;
};

// Collects a message's header from its lines, as they arrive one by one:
// a line led by a blank continues the field before it. The first From,
// Subject and Date field count.
class TMailHeaderReader {
public:
    void Clear();
    void AddLine(const std::string& line);
    TMailHeader Fields() const;

private:
    void TakeField();
    std::string field_; // the field being read, unfolded so far
    TMailHeader header_;
};

// Header text as a reader sees it: "=?charset?B|Q?...?=" words decoded,
// other bytes read as UTF-8 when they are valid UTF-8, else as Latin-1.
QString DecodeHeaderText(const std::string& raw);

// The address of a From field, in lower case ("" when it holds none), and
// its display name (a quoted or plain phrase before "<...>", or a comment
// after the address; "" when there is none).
QString SenderAddress(const QString& from);
QString SenderDisplayName(const QString& from);

// The further rule (index in rules, never 0) that the header matches first,
// or -1. The marker rule is matched on the mail's lines by the download.
int MatchingFaxMailRule(const TFaxMailRules& rules, const TMailHeader& header);

// The first telephone number in a text ("+1 555 0100", "(030) 123-4567"):
// at least five digits, with single blanks or hyphens between groups and an
// optional leading "+"; "" when there is none.
QString PhoneNumberIn(const QString& text);
// Sender ID of a mail without a fax data line: the telephone number in its
// subject, else its From display name, else its From address.
QString SenderIdFromHeader(const TMailHeader& header);
// Fax date of a mail without a fax data line: its Date field in the zone,
// "mm/dd/yyyy hh:mm AM/PM"; "" when the field is missing or unreadable.
QString FaxDateFromHeader(const QString& date, const QTimeZone& zone);
