#include "app/ui/fax_rules_box.h"

#include "app/ui/registry_variable.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

QPushButton* MakeRuleButton(const QString& text, const char* name, const QString& accessibleName, QWidget* parent)
{
    auto* button = new QPushButton(text, parent);
    button->setObjectName(QLatin1String(name));
    button->setAccessibleName(accessibleName);
    return button;
}

QLineEdit* MakeRuleField(const char* name, const QString& accessibleName, const QString& example, QWidget* parent)
{
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QLatin1String(name));
    edit->setAccessibleName(accessibleName);
    edit->setPlaceholderText(example);
    return edit;
}

} // namespace

TFaxRulesBox::TFaxRulesBox(TForm* owner, QWidget* parent) : QGroupBox(QStringLiteral("Fax-mail rules"), parent)
{
    setObjectName(QStringLiteral("grpFaxRules"));
    setAccessibleName(title());
    rgFaxMailRules = new TQlRegistryVariable(owner);
    SetUpPellimarSetting(*rgFaxMailRules, kFaxMailRulesSetting);

    auto* layout = new QVBoxLayout(this);
    auto* intro = new QLabel(QStringLiteral("A mail that matches a rule is fetched as a fax; other mail stays on the "
                                            "server. Texts are compared without regard to case."),
                             this);
    intro->setWordWrap(true);
    layout->addWidget(intro);

    lstFaxRules = new QListWidget(this);
    lstFaxRules->setObjectName(QStringLiteral("lstFaxRules"));
    lstFaxRules->setAccessibleName(title());
    lstFaxRules->setMaximumHeight(6 * lstFaxRules->fontMetrics().height() + 8);
    layout->addWidget(lstFaxRules);

    auto* fields = new QFormLayout;
    edtRuleSender = MakeRuleField("edtRuleSender", QStringLiteral("Sender address or domain"),
                                  QStringLiteral("fax@gateway.example or gateway.example"), this);
    edtRuleSubject = MakeRuleField("edtRuleSubject", QStringLiteral("Subject contains"),
                                   QStringLiteral("Facsimile received"), this);
    fields->addRow(QStringLiteral("Sender address or domain:"), edtRuleSender);
    fields->addRow(QStringLiteral("Subject contains:"), edtRuleSubject);
    layout->addLayout(fields);

    auto* buttons = new QHBoxLayout;
    btnAddRule = MakeRuleButton(QStringLiteral("&Add Rule"), "btnAddRule", QStringLiteral("Add Rule"), this);
    btnEditRule = MakeRuleButton(QStringLiteral("&Edit Rule"), "btnEditRule", QStringLiteral("Edit Rule"), this);
    btnRemoveRule = MakeRuleButton(QStringLiteral("&Remove Rule"), "btnRemoveRule", QStringLiteral("Remove Rule"), this);
    buttons->addWidget(btnAddRule);
    buttons->addWidget(btnEditRule);
    buttons->addWidget(btnRemoveRule);
    buttons->addStretch();
    layout->addLayout(buttons);

    lblRuleProblem = new QLabel(this);
    lblRuleProblem->setObjectName(QStringLiteral("lblRuleProblem"));
    lblRuleProblem->setAccessibleName(lblRuleProblem->objectName());
    lblRuleProblem->setWordWrap(true);
    layout->addWidget(lblRuleProblem);

    connect(btnAddRule, &QPushButton::clicked, this, &TFaxRulesBox::AddRule);
    connect(btnEditRule, &QPushButton::clicked, this, &TFaxRulesBox::EditRule);
    connect(btnRemoveRule, &QPushButton::clicked, this, &TFaxRulesBox::RemoveRule);
    connect(lstFaxRules, &QListWidget::currentRowChanged, this, &TFaxRulesBox::SelectionChanged);
    ShowRules(0);
}

void TFaxRulesBox::SetRules(const TFaxMailRules& rules)
{
    rules_ = rules;
    if (rules_.isEmpty() || !rules_.first().BuiltIn)
        rules_.prepend(MarkerRule());
    ShowRules(0);
}

void TFaxRulesBox::Load()
{
    if (!rgFaxMailRules->VariableExists())
        return;
    QVariant value;
    rgFaxMailRules->ReadVariable(value);
    if (value.isValid())
        SetRules(FaxMailRulesFromText(value.toString()));
}

void TFaxRulesBox::Save() { rgFaxMailRules->WriteVariable(FaxMailRulesToText(rules_)); }

int TFaxRulesBox::SelectedRow() const { return lstFaxRules->currentRow(); }

void TFaxRulesBox::ShowRules(int selected)
{
    lstFaxRules->clear();
    for (const TFaxMailRule& rule : std::as_const(rules_))
        lstFaxRules->addItem(DescribeFaxMailRule(rule));
    lstFaxRules->setCurrentRow(std::min(selected, static_cast<int>(rules_.size()) - 1));
    SelectionChanged();
}

void TFaxRulesBox::SelectionChanged()
{
    const int row = SelectedRow();
    const bool further = row > 0 && row < rules_.size();
    btnEditRule->setEnabled(further);
    btnRemoveRule->setEnabled(further);
    if (further) {
        edtRuleSender->setText(rules_[row].Sender);
        edtRuleSubject->setText(rules_[row].Subject);
    }
}

bool TFaxRulesBox::RuleFromFields(int replacing, TFaxMailRule& rule)
{
    rule = MakeFaxMailRule(edtRuleSender->text(), edtRuleSubject->text());
    QString problem = FaxMailRuleProblem(rule);
    const qsizetype same = rules_.indexOf(rule);
    if (problem.isEmpty() && same >= 0 && same != replacing)
        problem = QStringLiteral("That rule is already in the list.");
    lblRuleProblem->setText(problem);
    lblRuleProblem->setAccessibleName(problem.isEmpty() ? lblRuleProblem->objectName() : problem);
    return problem.isEmpty();
}

void TFaxRulesBox::AddRule()
{
    TFaxMailRule rule;
    if (!RuleFromFields(-1, rule))
        return;
    rules_ << rule;
    ShowRules(static_cast<int>(rules_.size()) - 1);
}

void TFaxRulesBox::EditRule()
{
    const int row = SelectedRow();
    TFaxMailRule rule;
    if (row <= 0 || row >= rules_.size() || !RuleFromFields(row, rule))
        return;
    rules_[row] = rule;
    ShowRules(row);
}

void TFaxRulesBox::RemoveRule()
{
    const int row = SelectedRow();
    if (row <= 0 || row >= rules_.size())
        return;
    rules_.removeAt(row);
    lblRuleProblem->clear();
    lblRuleProblem->setAccessibleName(lblRuleProblem->objectName());
    ShowRules(row);
}
