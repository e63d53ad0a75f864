#include "tests/support/mime_fixtures.h"

#include <QFile>
#include <QJsonDocument>
#include <QProcess>
#include <QTemporaryDir>

#include <memory>
#include <stdexcept>

QString MimeFixtureDir()
{
    static std::unique_ptr<QTemporaryDir> dir;
    if (!dir) {
        auto made = std::make_unique<QTemporaryDir>();
        QProcess generator;
        generator.start("python3", {QStringLiteral(PELLIMAR_SOURCE_DIR "/tests/data/mime/make_mime_mails.py"), made->path()});
        if (!generator.waitForFinished(120000) || generator.exitStatus() != QProcess::NormalExit || generator.exitCode() != 0)
            throw std::runtime_error("mail generator failed: " + generator.readAllStandardError().toStdString());
        dir = std::move(made);
    }
    return dir->path();
}

QByteArray ReadMimeFixture(const QString& name)
{
    QFile file(MimeFixtureDir() + "/" + name);
    if (!file.open(QIODevice::ReadOnly))
        throw std::runtime_error("missing fixture " + name.toStdString());
    return file.readAll();
}

QJsonObject MimeFixtureManifest()
{
    return QJsonDocument::fromJson(ReadMimeFixture("manifest.json")).object();
}
