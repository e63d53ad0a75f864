#pragma once
// Accessible names for the fields of a form, so that a screen reader says
// what each one is.
class QFormLayout;

// Names every field of the form after its label ("Host:" gives "Host"), the
// edit part of an editable combo box too. Fields that already have a name
// keep it.
void NameFieldsAfterLabels(QFormLayout& form);
