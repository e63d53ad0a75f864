#include "qdb/control_handlers.h"

#include "qdb/image_control.h"
#include "qdb/radio_group.h"
#include "qdb/record_layout.h"

#include <QBuffer>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QTextEdit>

#include <algorithm>
#include <stdexcept>

namespace qdb {

namespace {

// Text fields end at their first zero byte.
QString TextUpToZero(std::string_view bytes)
{
    const auto zero = bytes.find('\0');
    if (zero != std::string_view::npos)
        bytes = bytes.substr(0, zero);
    return QString::fromLatin1(bytes.data(), qsizetype(bytes.size()));
}

std::string TextWithZero(const QString& text)
{
    const QByteArray latin1 = text.toLatin1();
    std::string bytes(latin1.constData(), size_t(latin1.size()));
    bytes.push_back('\0');
    return bytes;
}

std::string Int32Bytes(int32_t value)
{
    std::string bytes;
    AppendInt32(bytes, value);
    return bytes;
}

// The graphic classes an image can be stored as, by file extension.
struct TGraphicFormat {
    const char* extension;
    const char* graphicClass;
    const char* qtFormat; // null: no reader on this platform
};
constexpr TGraphicFormat kGraphicFormats[] = {
    {"bmp", "TBitmap", "BMP"},
    {"ico", "TIcon", "ICO"},
    {"emf", "TMetafile", nullptr},
    {"wmf", "TMetafile", nullptr},
};

} // namespace

void ClearEdit(QWidget* control) { static_cast<QLineEdit*>(control)->clear(); }

void LoadEdit(QWidget* control, std::string_view bytes)
{
    if (bytes.empty())
        ClearEdit(control);
    else
        static_cast<QLineEdit*>(control)->setText(TextUpToZero(bytes));
}

std::string SaveEdit(QWidget* control) { return TextWithZero(static_cast<QLineEdit*>(control)->text()); }

void ClearRichEdit(QWidget* control) { static_cast<QTextEdit*>(control)->clear(); }

void LoadRichEdit(QWidget* control, std::string_view bytes)
{
    if (bytes.empty())
        ClearRichEdit(control);
    else
        static_cast<QTextEdit*>(control)->setHtml(QString::fromUtf8(bytes.data(), qsizetype(bytes.size())));
}

std::string SaveRichEdit(QWidget* control)
{
    const QByteArray html = static_cast<QTextEdit*>(control)->toHtml().toUtf8();
    return std::string(html.constData(), size_t(html.size()));
}

void ClearRadioGroup(QWidget* control) { static_cast<TRadioGroup*>(control)->SetItemIndex(-1); }

void LoadRadioGroup(QWidget* control, std::string_view bytes)
{
    auto* group = static_cast<TRadioGroup*>(control);
    try {
        const int32_t index = TByteReader(bytes).ReadInt32();
        if (index < -1 || index >= group->ItemCount())
            throw EReadError();
        group->SetItemIndex(index);
    } catch (const EReadError&) {
        ClearRadioGroup(control);
    }
}

std::string SaveRadioGroup(QWidget* control) { return Int32Bytes(static_cast<TRadioGroup*>(control)->ItemIndex()); }

void ClearCheckBox(QWidget* control) { static_cast<QCheckBox*>(control)->setCheckState(Qt::Unchecked); }

void LoadCheckBox(QWidget* control, std::string_view bytes)
{
    auto* box = static_cast<QCheckBox*>(control);
    try {
        switch (TByteReader(bytes).ReadInt32() & 0xFF) {
        case 0: box->setCheckState(Qt::Unchecked); break;
        case 1: box->setCheckState(Qt::Checked); break;
        case 2: box->setCheckState(Qt::PartiallyChecked); break;
        default: throw EReadError();
        }
    } catch (const EReadError&) {
        ClearCheckBox(control);
    }
}

std::string SaveCheckBox(QWidget* control)
{
    switch (static_cast<QCheckBox*>(control)->checkState()) {
    case Qt::Unchecked: return Int32Bytes(0);
    case Qt::Checked: return Int32Bytes(1);
    case Qt::PartiallyChecked: return Int32Bytes(2);
    }
    return Int32Bytes(0);
}

void ClearComboBox(QWidget* control)
{
    auto* box = static_cast<QComboBox*>(control);
    box->setCurrentIndex(-1);
    if (box->isEditable())
        box->clearEditText();
}

void LoadComboBox(QWidget* control, std::string_view bytes)
{
    auto* box = static_cast<QComboBox*>(control);
    if (bytes.empty()) {
        ClearComboBox(control);
        return;
    }
    const QString text = TextUpToZero(bytes);
    if (box->isEditable())
        box->setEditText(text);
    else
        box->setCurrentIndex(box->findText(text, Qt::MatchFixedString));
}

std::string SaveComboBox(QWidget* control) { return TextWithZero(static_cast<QComboBox*>(control)->currentText()); }

void ClearListBox(QWidget* control)
{
    auto* list = static_cast<QListWidget*>(control);
    list->clearSelection();
    list->setCurrentRow(-1, QItemSelectionModel::NoUpdate);
}

void LoadListBox(QWidget* control, std::string_view bytes)
{
    auto* list = static_cast<QListWidget*>(control);
    const auto previousMode = list->selectionMode();
    ClearListBox(control);
    list->setSelectionMode(QAbstractItemView::MultiSelection);
    try {
        TByteReader reader(bytes);
        for (;;) {
            const int32_t row = reader.ReadInt32();
            if (row < 0 || row >= list->count())
                break;
            list->item(row)->setSelected(true);
        }
    } catch (const EReadError&) {
        ClearListBox(control);
    }
    if (list->selectedItems().size() <= 1)
        list->setSelectionMode(previousMode);
}

std::string SaveListBox(QWidget* control)
{
    auto* list = static_cast<QListWidget*>(control);
    std::vector<int32_t> rows;
    for (int row = 0; row < list->count(); ++row)
        if (list->item(row)->isSelected())
            rows.push_back(row);
    std::string bytes;
    for (int32_t row : rows)
        AppendInt32(bytes, row);
    AppendInt32(bytes, -1);
    return bytes;
}

void ClearImage(QWidget* control) { static_cast<TImage*>(control)->ClearPicture(); }

void LoadImage(QWidget* control, std::string_view bytes)
{
    auto* image = static_cast<TImage*>(control);
    try {
        TByteReader reader(bytes);
        const std::string_view extension = reader.ReadBytes(3);
        const auto format = std::find_if(std::begin(kGraphicFormats), std::end(kGraphicFormats),
                                         [&](const TGraphicFormat& f) { return extension == f.extension; });
        if (format == std::end(kGraphicFormats))
            return; // not a graphic this view knows: the picture stays
        const std::string_view data = reader.Rest();
        QImage picture;
        if (!format->qtFormat
            || !picture.loadFromData(reinterpret_cast<const uchar*>(data.data()), int(data.size()), format->qtFormat))
            throw EReadError();
        image->SetPicture(picture, format->graphicClass);
    } catch (const EReadError&) {
        ClearImage(control);
    }
}

std::string SaveImage(QWidget* control)
{
    auto* image = static_cast<TImage*>(control);
    if (!image->HasPicture())
        return {};
    const auto format = std::find_if(std::begin(kGraphicFormats), std::end(kGraphicFormats),
                                     [&](const TGraphicFormat& f) { return image->GraphicClass() == f.graphicClass; });
    if (format == std::end(kGraphicFormats) || !format->qtFormat)
        throw std::runtime_error("unknown graphic class");
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    if (!image->Picture().save(&buffer, format->qtFormat))
        throw std::runtime_error("unknown graphic class");
    return std::string(format->extension) + buffer.data().toStdString();
}

} // namespace qdb
