#include "app/platform/message_box.h"

#include <QApplication>
#include <QMessageBox>

#include <cstdio>

namespace {
TMessageHandler& Handler()
{
    static TMessageHandler handler;
    return handler;
}
}

QString MessageCaption(TMessageKind kind)
{
    switch (kind) {
    case TMessageKind::Information: return QStringLiteral("Information");
    case TMessageKind::Warning: return QStringLiteral("Warning");
    case TMessageKind::Error: return QStringLiteral("Error");
    }
    return {};
}

void SetMessageHandler(TMessageHandler handler) { Handler() = std::move(handler); }

bool RunningHeadless()
{
    if (!qobject_cast<QApplication*>(QCoreApplication::instance()))
        return true;
    const QString platform = QGuiApplication::platformName();
    return platform == QLatin1String("offscreen") || platform == QLatin1String("minimal");
}

TMessageAnswer ShowMessageBox(TMessageKind kind, const QString& text)
{
    const QString caption = MessageCaption(kind);
    if (Handler())
        return Handler()(kind, caption, text);

    if (RunningHeadless()) {
        // No one can answer a question here: it is printed with the answer it gets.
        const bool question = kind == TMessageKind::Warning;
        std::fprintf(stderr, "[%s] %s%s\n", caption.toLocal8Bit().constData(), text.toLocal8Bit().constData(),
                     question ? " No" : "");
        return question ? TMessageAnswer::No : TMessageAnswer::Ok;
    }

    switch (kind) {
    case TMessageKind::Information:
        QMessageBox::information(nullptr, caption, text, QMessageBox::Ok);
        return TMessageAnswer::Ok;
    case TMessageKind::Error:
        QMessageBox::critical(nullptr, caption, text, QMessageBox::Ok);
        return TMessageAnswer::Ok;
    case TMessageKind::Warning:
        return QMessageBox::warning(nullptr, caption, text, QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes
            ? TMessageAnswer::Yes
            : TMessageAnswer::No;
    }
    return TMessageAnswer::Ok;
}
