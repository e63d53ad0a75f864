#pragma once
// The Configure page's list of fax-mail rules: which mails are fetched as
// faxes. The forwarding server's rule comes first and cannot be changed;
// further rules are added, edited and removed here and stored with Save.
#include "app/core/fax_mail_rules.h"

#include <QGroupBox>

class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class TForm;
class TQlRegistryVariable;

class TFaxRulesBox : public QGroupBox {
    Q_OBJECT
public:
    TFaxRulesBox(TForm* owner, QWidget* parent = nullptr);

    // The rules as the list shows them, unsaved changes included.
    TFaxMailRules Rules() const { return rules_; }
    void SetRules(const TFaxMailRules& rules);
    // A stored list replaces the shown one; without one the shown list stays.
    void Load();
    void Save();

    void AddRule();
    void EditRule();
    void RemoveRule();

    QListWidget* lstFaxRules = nullptr;
    QLineEdit* edtRuleSender = nullptr;
    QLineEdit* edtRuleSubject = nullptr;
    QPushButton* btnAddRule = nullptr;
    QPushButton* btnEditRule = nullptr;
    QPushButton* btnRemoveRule = nullptr;
    QLabel* lblRuleProblem = nullptr; // why the last Add or Edit was refused
    TQlRegistryVariable* rgFaxMailRules = nullptr;

private:
    void ShowRules(int selected);
    void SelectionChanged();
    // The rule the fields describe, or nothing (after saying why) when it
    // cannot be used in place of the rule at index `replacing` (-1: added).
    bool RuleFromFields(int replacing, TFaxMailRule& rule);
    int SelectedRow() const;

    TFaxMailRules rules_{MarkerRule()};
};
