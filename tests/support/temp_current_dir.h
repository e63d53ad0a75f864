#pragma once
// Makes a fresh temporary folder the process's current directory for the
// lifetime of the object (the program's working paths, such as "faxes.qdb",
// are relative to it), and returns to the previous directory after.
#include <QDir>
#include <QString>
#include <QTemporaryDir>

class TempCurrentDir {
public:
    TempCurrentDir() : previous_(QDir::currentPath()) { QDir::setCurrent(dir_.path()); }
    ~TempCurrentDir() { QDir::setCurrent(previous_); }
    TempCurrentDir(const TempCurrentDir&) = delete;
    TempCurrentDir& operator=(const TempCurrentDir&) = delete;

    QString Path() const { return dir_.path(); }
    QString FilePath(const QString& name) const { return dir_.filePath(name); }

private:
    QTemporaryDir dir_;
    QString previous_;
};
