#include "qdb/panel_binding.h"

#include "qdb/record_layout.h"

#include <QApplication>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTextEdit>

namespace qdb {

namespace {

// The children a container shows, in order: the pages of a page control,
// otherwise its child widgets in creation order (separate windows excluded).
QList<QWidget*> VisibleChildren(QWidget* container)
{
    QList<QWidget*> children;
    if (auto* tabs = qobject_cast<QTabWidget*>(container)) {
        for (int i = 0; i < tabs->count(); ++i)
            children.push_back(tabs->widget(i));
        return children;
    }
    if (auto* stack = qobject_cast<QStackedWidget*>(container)) {
        for (int i = 0; i < stack->count(); ++i)
            children.push_back(stack->widget(i));
        return children;
    }
    for (QObject* child : container->children())
        if (auto* widget = qobject_cast<QWidget*>(child); widget && !widget->isWindow())
            children.push_back(widget);
    return children;
}

void SetReadOnly(QWidget* control, bool readOnly)
{
    if (auto* edit = qobject_cast<QLineEdit*>(control))
        edit->setReadOnly(readOnly);
    else if (auto* text = qobject_cast<QTextEdit*>(control))
        text->setReadOnly(readOnly);
    else if (auto* plain = qobject_cast<QPlainTextEdit*>(control))
        plain->setReadOnly(readOnly);
}

void SetColour(QWidget* control, const QColor& color)
{
    QPalette palette = control->palette();
    palette.setColor(QPalette::Base, color);
    palette.setColor(QPalette::Window, color);
    control->setPalette(palette);
    control->setAutoFillBackground(true);
}

} // namespace

TPanelBinding::TPanelBinding() : activeColor_(QApplication::palette().color(QPalette::Base)) {}

void TPanelBinding::Bind(QWidget* panel)
{
    panel_ = panel;
    controls_.clear();
    if (panel)
        Visit(panel);
}

void TPanelBinding::Visit(QWidget* container)
{
    for (QWidget* child : VisibleChildren(container))
        VisitControl(child);
}

void TPanelBinding::VisitControl(QWidget* control)
{
    if (ControlTag(control) == excludeTag_)
        return;
    // A registered control binds even when it is built from child widgets of
    // its own (the buttons of a radio group, the viewport of a text edit).
    if (const TRegisteredControl* entry = registry_.Find(control)) {
        controls_.push_back({control, control->objectName().toStdString(), entry->className, entry->kind,
                             entry->clear, entry->load, entry->save});
        return;
    }
    Visit(control);
}

std::vector<std::string> TPanelBinding::Descriptors() const
{
    std::vector<std::string> descriptors;
    for (const TControlInfo& info : controls_)
        descriptors.push_back(LayoutDescriptor(info.kind, info.name, info.className));
    return descriptors;
}

void TPanelBinding::ClearControls()
{
    for (const TControlInfo& info : controls_)
        if (info.control)
            info.clear(info.control);
}

void TPanelBinding::LoadControls(const std::vector<std::string>& values)
{
    for (size_t i = 0; i < controls_.size(); ++i) {
        QWidget* control = controls_[i].control;
        if (!control)
            continue;
        if (i < values.size())
            controls_[i].load(control, values[i]);
        else
            controls_[i].clear(control);
    }
}

std::vector<std::string> TPanelBinding::SaveControls() const
{
    std::vector<std::string> values;
    for (const TControlInfo& info : controls_)
        values.push_back(info.control ? info.save(info.control) : std::string());
    return values;
}

void TPanelBinding::SetActive(bool active)
{
    active_ = active;
    if (panel_)
        panel_->setUpdatesEnabled(false);
    for (const TControlInfo& info : controls_) {
        if (!info.control)
            continue;
        SetColour(info.control, active ? activeColor_ : inactiveColor_);
        SetReadOnly(info.control, !active);
    }
    if (panel_)
        panel_->setUpdatesEnabled(true);
}

void TPanelBinding::SetActiveColor(const QColor& color)
{
    if (color == activeColor_)
        return;
    activeColor_ = color;
    SetActive(active_);
}

void TPanelBinding::SetInactiveColor(const QColor& color)
{
    if (color == inactiveColor_)
        return;
    inactiveColor_ = color;
    SetActive(active_);
}

void TPanelBinding::FocusFirstControl()
{
    if (!active_ || !panel_)
        return;
    for (QWidget* w = panel_->nextInFocusChain(); w && w != panel_; w = w->nextInFocusChain()) {
        if (w->parentWidget() == panel_ && w->isVisible() && w->isEnabled() && w->focusPolicy() != Qt::NoFocus) {
            w->setFocus(Qt::TabFocusReason);
            return;
        }
    }
}

} // namespace qdb
