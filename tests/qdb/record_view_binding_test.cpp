// Binding a panel's controls as record fields: which controls take part and
// in what order, their look while editing is off, and the first focus.
#include "qdb/panel_binding.h"
#include "qdb/radio_group.h"

#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTextEdit>
#include <gtest/gtest.h>

using namespace qdb;

namespace {

template <typename W>
W* Make(QWidget* parent, const char* name)
{
    auto* widget = new W(parent);
    widget->setObjectName(QLatin1String(name));
    return widget;
}

std::vector<std::string> Names(const TPanelBinding& binding)
{
    std::vector<std::string> names;
    for (const TControlInfo& info : binding.Controls())
        names.push_back(info.name);
    return names;
}

} // namespace

TEST(PanelBinding, BindsRegisteredControlsInPanelOrderSkippingExcludedOnes)
{
    QWidget panel;
    Make<QLineEdit>(&panel, "first");
    Make<QLabel>(&panel, "caption");        // not bindable
    Make<QPushButton>(&panel, "button");    // not bindable either
    auto* box = Make<QGroupBox>(&panel, "box");
    Make<QLineEdit>(box, "inBox");
    Make<QCheckBox>(box, "check");
    auto* hidden = Make<QGroupBox>(&panel, "hidden");
    SetControlTag(hidden, -999);
    Make<QLineEdit>(hidden, "inHidden");
    SetControlTag(Make<QLineEdit>(&panel, "excluded"), -999);
    Make<QLineEdit>(&panel, "tagged")->setProperty("tag", 5);
    auto* group = Make<TRadioGroup>(&panel, "group");
    group->SetItems({QStringLiteral("x"), QStringLiteral("y")});
    Make<QTextEdit>(&panel, "notes");

    TPanelBinding binding;
    binding.Bind(&panel);
    EXPECT_EQ(Names(binding),
              (std::vector<std::string>{"first", "inBox", "check", "tagged", "group", "notes"}));
    EXPECT_EQ(binding.Descriptors(),
              (std::vector<std::string>{"\x06.first.TEdit", "\x06.inBox.TEdit", "\x01.check.TCheckBox",
                                        "\x06.tagged.TEdit", "\x01.group.TRadioGroup", "\x08.notes.TRichEdit"}));

    // Another exclude tag changes what is left out.
    binding.SetExcludeTag(5);
    binding.Bind(&panel);
    EXPECT_EQ(Names(binding), (std::vector<std::string>{"first", "inBox", "check", "inHidden", "excluded", "group",
                                                        "notes"}));
    binding.Bind(nullptr);
    EXPECT_TRUE(binding.Controls().empty());
}

TEST(PanelBinding, PageControlsAreVisitedPageByPage)
{
    QWidget panel;
    auto* tabs = Make<QTabWidget>(&panel, "pages");
    auto* second = new QWidget;
    auto* first = new QWidget;
    Make<QLineEdit>(second, "onSecond");
    Make<QLineEdit>(first, "onFirst");
    tabs->addTab(first, QStringLiteral("1"));
    tabs->addTab(second, QStringLiteral("2"));
    tabs->insertTab(0, Make<QLineEdit>(nullptr, "asPage"), QStringLiteral("0"));
    TPanelBinding binding;
    binding.Bind(&panel);
    EXPECT_EQ(Names(binding), (std::vector<std::string>{"asPage", "onFirst", "onSecond"}));
}

TEST(PanelBinding, ValuesMoveBetweenControlsAndFields)
{
    QWidget panel;
    auto* a = Make<QLineEdit>(&panel, "a");
    auto* b = Make<QCheckBox>(&panel, "b");
    TPanelBinding binding;
    binding.Bind(&panel);
    a->setText(QStringLiteral("New"));
    b->setChecked(true);
    EXPECT_EQ(binding.SaveControls(), (std::vector<std::string>{std::string("New\0", 4), std::string("\1\0\0\0", 4)}));

    binding.LoadControls({std::string("Viewed\0", 7)});
    EXPECT_EQ(a->text(), QStringLiteral("Viewed"));
    EXPECT_FALSE(b->isChecked()); // no value for it: cleared

    b->setChecked(true);
    binding.ClearControls();
    EXPECT_TRUE(a->text().isEmpty());
    EXPECT_FALSE(b->isChecked());

    // A control destroyed after binding is skipped, not touched.
    delete a;
    binding.LoadControls({"x", std::string("\1\0\0\0", 4)});
    EXPECT_TRUE(b->isChecked());
    EXPECT_EQ(binding.SaveControls().size(), 2u);
}

TEST(PanelBinding, InactiveControlsAreSilverAndReadOnly)
{
    QWidget panel;
    auto* edit = Make<QLineEdit>(&panel, "edit");
    auto* rich = Make<QTextEdit>(&panel, "rich");
    auto* check = Make<QCheckBox>(&panel, "check");
    TPanelBinding binding;
    binding.Bind(&panel);
    const QColor silver(0xC0, 0xC0, 0xC0);
    EXPECT_EQ(binding.InactiveColor(), silver);
    EXPECT_EQ(binding.ActiveColor(), QApplication::palette().color(QPalette::Base));
    EXPECT_EQ(binding.ExcludeTag(), -999);

    binding.SetActive(false);
    EXPECT_FALSE(binding.Active());
    EXPECT_TRUE(edit->isReadOnly());
    EXPECT_TRUE(rich->isReadOnly());
    for (QWidget* w : {static_cast<QWidget*>(edit), static_cast<QWidget*>(rich), static_cast<QWidget*>(check)})
        EXPECT_EQ(w->palette().color(QPalette::Base), silver) << w->objectName().toStdString();
    EXPECT_TRUE(panel.updatesEnabled());

    binding.SetActive(true);
    EXPECT_FALSE(edit->isReadOnly());
    EXPECT_FALSE(rich->isReadOnly());
    EXPECT_EQ(edit->palette().color(QPalette::Base), binding.ActiveColor());

    // A new colour is applied at once to the current state.
    binding.SetActiveColor(Qt::yellow);
    EXPECT_EQ(edit->palette().color(QPalette::Base), QColor(Qt::yellow));
    binding.SetActive(false);
    binding.SetInactiveColor(Qt::gray);
    EXPECT_EQ(check->palette().color(QPalette::Window), QColor(Qt::gray));
}

TEST(PanelBinding, FocusGoesToTheFirstFocusableDirectChild)
{
    QWidget window;
    auto* outside = Make<QLineEdit>(&window, "outside");
    auto* panel = Make<QWidget>(&window, "panel");
    auto* box = Make<QGroupBox>(panel, "box");
    Make<QLineEdit>(box, "nested"); // not a direct child of the panel
    auto* disabled = Make<QLineEdit>(panel, "disabled");
    disabled->setEnabled(false);
    auto* noTab = Make<QLineEdit>(panel, "noTab");
    noTab->setFocusPolicy(Qt::ClickFocus); // a tab stop is not required
    Make<QLineEdit>(panel, "last");
    window.show();
    QApplication::setActiveWindow(&window);
    outside->setFocus();
    ASSERT_TRUE(outside->hasFocus());

    TPanelBinding binding;
    binding.Bind(panel);
    binding.SetActive(false);
    binding.FocusFirstControl();
    EXPECT_TRUE(outside->hasFocus()); // inactive: nothing happens

    // While the panel is hidden no control qualifies: the focus stays where
    // it is, also once the panel is shown again.
    binding.SetActive(true);
    panel->hide();
    binding.FocusFirstControl();
    EXPECT_TRUE(outside->hasFocus());
    panel->show();
    EXPECT_TRUE(outside->hasFocus());

    // Shown and active, the first enabled direct child takes it.
    binding.FocusFirstControl();
    EXPECT_TRUE(noTab->hasFocus());
}
