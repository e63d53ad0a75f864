#pragma once
// Runs the built program as a user would from a terminal without any display,
// so that one which went on to open its window would fail, in an empty folder
// that must stay empty.
#include <QDir>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <gtest/gtest.h>

struct THeadlessRun {
    int status = -1; // -1 when the program hung or crashed
    QString out, err;
};

// Runs the program in folder with the given environment, without a display.
inline THeadlessRun RunPellimarIn(const QString& folder, const QStringList& arguments, QProcessEnvironment env)
{
    QProcess pellimar;
    pellimar.setWorkingDirectory(folder);
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    pellimar.setProcessEnvironment(env);
    pellimar.start(QStringLiteral(PELLIMAR_BINARY_DIR "/app/pellimar"), arguments);
    THeadlessRun run;
    if (!pellimar.waitForFinished(60000) || pellimar.exitStatus() != QProcess::NormalExit)
        return run;
    run.status = pellimar.exitCode();
    run.out = QString::fromLocal8Bit(pellimar.readAllStandardOutput());
    run.err = QString::fromLocal8Bit(pellimar.readAllStandardError());
    return run;
}

inline THeadlessRun RunPellimarHeadless(const QStringList& arguments)
{
    QTemporaryDir folder;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    const THeadlessRun run = RunPellimarIn(folder.path(), arguments, env);
    EXPECT_TRUE(QDir(folder.path()).isEmpty()) << arguments.join(QLatin1Char(' ')).toStdString();
    return run;
}
