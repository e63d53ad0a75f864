#pragma once
// Widths for line edits that must show their whole content at a glance
// rather than scroll it: the record panel's dates and sender ID. Each sets
// the edit's minimum width for its font, frame and style.
class QLineEdit;

// Wide enough for every date of the record format "mm/dd/yyyy hh:mm AM/PM".
void FitLineEditToRecordDate(QLineEdit& edit);

// Wide enough for a text of `length` digits (sender IDs are telephone
// numbers, and digits are the widest characters they usually hold).
void FitLineEditToDigits(QLineEdit& edit, int length);
