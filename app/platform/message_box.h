#pragma once
// Every user-facing box of the program goes through here, so that a run
// without a display prints the box instead of waiting for a click, and tests
// can watch which boxes appear.
#include <QString>

#include <functional>

enum class TMessageKind { Information, Warning, Error };
enum class TMessageAnswer { Ok, Yes, No };

// Shows a modal box: Information and Error have one OK button, Warning has Yes
// and No. Returns the answer; headless runs take the default answer (OK, or
// No for a Warning, so nothing is destroyed unasked).
TMessageAnswer ShowMessageBox(TMessageKind kind, const QString& text);

// Caption used for each kind: "Information", "Warning", "Error".
QString MessageCaption(TMessageKind kind);

// Replaces the box with a handler (tests, headless runs). An empty handler
// restores the default behaviour.
using TMessageHandler = std::function<TMessageAnswer(TMessageKind, const QString& caption, const QString& text)>;
void SetMessageHandler(TMessageHandler handler);

// True when there is no screen to show a box on (offscreen or minimal
// platform, or no GUI application at all).
bool RunningHeadless();
