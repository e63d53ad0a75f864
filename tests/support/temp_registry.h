#pragma once
// Points the program's settings store at a fresh file in a temporary folder
// for the lifetime of the object, and restores the previous setting after.
#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

class TempRegistry {
public:
    TempRegistry();
    ~TempRegistry();
    TempRegistry(const TempRegistry&) = delete;
    TempRegistry& operator=(const TempRegistry&) = delete;

    QString Path() const { return path_; }
    QString Folder() const { return dir_.path(); }
    QByteArray Contents() const;
    void SetContents(const QByteArray& bytes) const;

private:
    QTemporaryDir dir_;
    QString path_;
    QByteArray previous_;
    bool hadPrevious_ = false;
};
