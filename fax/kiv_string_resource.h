#pragma once
// "STR0" string resources: a sorted table of (key, text) in UTF-16, embedded
// in the program as Qt resources under :/kiv/.
#include <QByteArray>
#include <QString>

#include <string>

class TKivStringResource {
public:
    // Opens the resource `name` below the folder `module` (":/kiv" for the
    // program's own). Raises EKivStringResourceError when it is missing,
    // cannot be read or lacks the signature.
    TKivStringResource(const QString& module, const QString& name);

    // The text for `key` as Latin-1 bytes (characters outside Latin-1
    // become '?'); a missing key gives an empty text, or raises when
    // RaiseOnMissing is set.
    std::string GetString(int key) const;

    bool RaiseOnMissing() const { return raiseOnMissing_; }
    void SetRaiseOnMissing(bool raise) { raiseOnMissing_ = raise; }
    const QString& ResourceName() const { return name_; }

private:
    QString name_;
    QByteArray data_;
    bool raiseOnMissing_ = false;
};

// The two resources of the program, created on first use.
const TKivStringResource& KivErrorStrings();   // ORVO_ERROR_STRINGS_ENGLISH
const TKivStringResource& KivManagerStrings(); // KIVSTRMGR_STRINGS
