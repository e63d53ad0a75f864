#pragma once
// Test mails made by an independent generator: tests/data/mime/make_mime_mails.py
// (Python's email package and sharutils' uuencode), run once per test program.
#include <QByteArray>
#include <QJsonObject>
#include <QString>

// Folder holding the generated mails, their original payloads and manifest.json.
QString MimeFixtureDir();
QByteArray ReadMimeFixture(const QString& name);
// manifest.json: one object per mail, keyed by its file name.
QJsonObject MimeFixtureManifest();
