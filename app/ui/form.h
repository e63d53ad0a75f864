#pragma once
// Base class of Pellimar's windows: a top-level widget with an OnClose event
// whose handler may choose what closing does (hide, free, minimise, or refuse).
// Escape closes every window but the main one.
#include <QStringList>
#include <QWidget>

#include <functional>

class QMimeData;
class QShortcut;

enum class TCloseAction { caNone, caHide, caFree, caMinimize };

class TForm : public QWidget {
    Q_OBJECT
public:
    explicit TForm(QWidget* parent = nullptr);

    // Called when the window is asked to close; the handler may change the action.
    std::function<void(QObject* sender, TCloseAction& action)> OnClose;

    // The main form ends the program when it closes; others only hide.
    void SetMainForm(bool isMain);
    bool IsMainForm() const { return mainForm_; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    bool mainForm_ = false;
    QShortcut* escape_ = nullptr;
};

// The local files among dropped URLs, in order.
QStringList DroppedLocalFiles(const QMimeData* data);
