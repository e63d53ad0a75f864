#include "tests/support/temp_registry.h"

#include <QFile>

TempRegistry::TempRegistry() : path_(dir_.filePath(QStringLiteral("registry.reg")))
{
    hadPrevious_ = qEnvironmentVariableIsSet("PELLIMAR_REGISTRY");
    previous_ = qgetenv("PELLIMAR_REGISTRY");
    qputenv("PELLIMAR_REGISTRY", QFile::encodeName(path_));
}

TempRegistry::~TempRegistry()
{
    if (hadPrevious_)
        qputenv("PELLIMAR_REGISTRY", previous_);
    else
        qunsetenv("PELLIMAR_REGISTRY");
}

QByteArray TempRegistry::Contents() const
{
    QFile file(path_);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

void TempRegistry::SetContents(const QByteArray& bytes) const
{
    QFile file(path_);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(bytes);
}
