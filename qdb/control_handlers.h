#pragma once
// How each bindable control's value is stored in its field:
// - edit and combo box: the text in Latin-1 followed by one zero byte; an
//   empty field clears the control, otherwise the text up to the first zero;
// - rich text edit: the document as HTML (UTF-8);
// - radio group: the selected index as a 32-bit signed value;
// - check box: the state as a 32-bit value, 0 unchecked, 1 checked, 2 grayed;
// - list box: each selected row ascending as 32-bit signed, then -1;
// - image: the graphic's extension ("bmp", "ico") and the graphic's own file
//   format.
// A value a control cannot take clears the control.
#include <string>
#include <string_view>

class QWidget;

namespace qdb {

void ClearEdit(QWidget* control);
void LoadEdit(QWidget* control, std::string_view bytes);
std::string SaveEdit(QWidget* control);

void ClearRichEdit(QWidget* control);
void LoadRichEdit(QWidget* control, std::string_view bytes);
std::string SaveRichEdit(QWidget* control);

void ClearRadioGroup(QWidget* control);
void LoadRadioGroup(QWidget* control, std::string_view bytes);
std::string SaveRadioGroup(QWidget* control);

void ClearCheckBox(QWidget* control);
void LoadCheckBox(QWidget* control, std::string_view bytes);
std::string SaveCheckBox(QWidget* control);

void ClearComboBox(QWidget* control);
void LoadComboBox(QWidget* control, std::string_view bytes);
std::string SaveComboBox(QWidget* control);

void ClearListBox(QWidget* control);
void LoadListBox(QWidget* control, std::string_view bytes);
std::string SaveListBox(QWidget* control);

void ClearImage(QWidget* control);
void LoadImage(QWidget* control, std::string_view bytes);
// Raises std::runtime_error "unknown graphic class" for a picture whose
// graphic class has no extension. An image without a picture stores nothing.
std::string SaveImage(QWidget* control);

} // namespace qdb
