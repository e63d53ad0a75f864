// The bindable controls on the offscreen platform: what each stores, what a
// bad value does to it, and which registry entry a widget binds as.
#include "qdb/control_handlers.h"
#include "qdb/control_registry.h"
#include "qdb/image_control.h"
#include "qdb/radio_group.h"
#include "qdb/record_layout.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QTextBrowser>
#include <QTextEdit>
#include <gtest/gtest.h>

using namespace qdb;

namespace {

std::string Int32s(std::initializer_list<int32_t> values)
{
    std::string bytes;
    for (int32_t v : values)
        AppendInt32(bytes, v);
    return bytes;
}

class DerivedEdit : public QLineEdit {};

} // namespace

TEST(ControlRegistry, LookupTakesTheLastRegisteredBaseClass)
{
    TRegisteredControlList registry;
    QLineEdit edit;
    QTextEdit rich;
    QTextBrowser browser;
    DerivedEdit derived;
    QLabel label;
    QWidget plain;

    ASSERT_NE(registry.Find(&edit), nullptr);
    EXPECT_EQ(registry.Find(&edit)->kind, 6);
    EXPECT_EQ(registry.Find(&edit)->className, "TEdit");
    EXPECT_EQ(registry.Find(&derived)->className, "TEdit");
    EXPECT_EQ(registry.Find(&rich)->kind, 8);
    EXPECT_EQ(registry.Find(&rich)->className, "TRichEdit");
    EXPECT_EQ(registry.Find(&browser)->kind, 8);
    EXPECT_EQ(registry.Find(&label), nullptr);
    EXPECT_EQ(registry.Find(&plain), nullptr);

    TRadioGroup group;
    QCheckBox check;
    QComboBox combo;
    QListWidget list;
    TImage image;
    const std::pair<QWidget*, std::pair<int, const char*>> expected[] = {
        {&group, {1, "TRadioGroup"}}, {&check, {1, "TCheckBox"}}, {&combo, {6, "TComboBox"}},
        {&list, {2, "TListBox"}},     {&image, {9, "TImage"}}};
    for (const auto& [widget, entry] : expected) {
        ASSERT_NE(registry.Find(widget), nullptr) << entry.second;
        EXPECT_EQ(registry.Find(widget)->kind, entry.first);
        EXPECT_EQ(registry.Find(widget)->className, entry.second);
    }

    // A class registered later wins over its base.
    registry.Register({&QTextBrowser::staticMetaObject, "TBrowser", 7, ClearRichEdit, LoadRichEdit, SaveRichEdit});
    EXPECT_EQ(registry.Find(&browser)->kind, 7);
    EXPECT_EQ(registry.Find(&rich)->kind, 8);
}

TEST(ControlRegistry, TagIsADynamicProperty)
{
    QLineEdit edit;
    EXPECT_EQ(ControlTag(&edit), 0);
    SetControlTag(&edit, -999);
    EXPECT_EQ(ControlTag(&edit), -999);
    EXPECT_EQ(edit.property("tag").toInt(), -999);
}

TEST(ControlHandlers, EditAndComboStoreLatin1TextAndAZero)
{
    QLineEdit edit;
    edit.setText(QStringLiteral("Caf\u00e9"));
    EXPECT_EQ(SaveEdit(&edit), std::string("Caf\xe9\0", 5));
    edit.clear();
    EXPECT_EQ(SaveEdit(&edit), std::string(1, '\0'));

    LoadEdit(&edit, std::string("abc\0def", 7));
    EXPECT_EQ(edit.text(), QStringLiteral("abc"));
    LoadEdit(&edit, "no zero");
    EXPECT_EQ(edit.text(), QStringLiteral("no zero"));
    LoadEdit(&edit, {});
    EXPECT_TRUE(edit.text().isEmpty());

    QComboBox editable;
    editable.setEditable(true);
    LoadComboBox(&editable, std::string("typed\0", 6));
    EXPECT_EQ(editable.currentText(), QStringLiteral("typed"));
    EXPECT_EQ(SaveComboBox(&editable), std::string("typed\0", 6));
    LoadComboBox(&editable, {});
    EXPECT_TRUE(editable.currentText().isEmpty());

    QComboBox fixed;
    fixed.addItems({QStringLiteral("One"), QStringLiteral("Two")});
    LoadComboBox(&fixed, std::string("Two\0", 4));
    EXPECT_EQ(fixed.currentIndex(), 1);
    LoadComboBox(&fixed, std::string("Three\0", 6));
    EXPECT_EQ(fixed.currentIndex(), -1);
    EXPECT_EQ(SaveComboBox(&fixed), std::string(1, '\0'));
}

TEST(ControlHandlers, RichEditRoundTripsItsFormatting)
{
    QTextEdit source;
    source.setHtml(QStringLiteral("<p>plain <b>bold</b></p>"));
    const std::string bytes = SaveRichEdit(&source);
    QTextEdit target;
    LoadRichEdit(&target, bytes);
    EXPECT_EQ(target.toPlainText(), QStringLiteral("plain bold"));
    EXPECT_EQ(target.toHtml(), source.toHtml());
    LoadRichEdit(&target, {});
    EXPECT_TRUE(target.toPlainText().isEmpty());
}

TEST(ControlHandlers, RadioGroupAndCheckBoxStoreA32BitValue)
{
    TRadioGroup group;
    group.SetItems({QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")});
    EXPECT_EQ(SaveRadioGroup(&group), Int32s({-1}));
    LoadRadioGroup(&group, Int32s({2}));
    EXPECT_EQ(group.ItemIndex(), 2);
    EXPECT_EQ(SaveRadioGroup(&group), Int32s({2}));
    // Short values and indexes outside the items clear the group.
    LoadRadioGroup(&group, std::string("\x01\x00", 2));
    EXPECT_EQ(group.ItemIndex(), -1);
    LoadRadioGroup(&group, Int32s({1}));
    LoadRadioGroup(&group, Int32s({3}));
    EXPECT_EQ(group.ItemIndex(), -1);

    QCheckBox box;
    EXPECT_EQ(SaveCheckBox(&box), Int32s({0}));
    LoadCheckBox(&box, Int32s({1}));
    EXPECT_EQ(box.checkState(), Qt::Checked);
    EXPECT_EQ(SaveCheckBox(&box), Int32s({1}));
    LoadCheckBox(&box, Int32s({0x7702})); // only the low byte counts
    EXPECT_EQ(box.checkState(), Qt::PartiallyChecked);
    EXPECT_EQ(SaveCheckBox(&box), Int32s({2}));
    LoadCheckBox(&box, Int32s({5}));
    EXPECT_EQ(box.checkState(), Qt::Unchecked);
    LoadCheckBox(&box, Int32s({1}));
    LoadCheckBox(&box, {});
    EXPECT_EQ(box.checkState(), Qt::Unchecked);
}

TEST(ControlHandlers, ListBoxStoresSelectedRowsAndRestoresItsSelectionMode)
{
    QListWidget list;
    list.addItems({QStringLiteral("0"), QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3")});
    list.setSelectionMode(QAbstractItemView::SingleSelection);
    EXPECT_EQ(SaveListBox(&list), Int32s({-1}));

    LoadListBox(&list, Int32s({1, -1}));
    EXPECT_TRUE(list.item(1)->isSelected());
    EXPECT_EQ(list.selectedItems().size(), 1);
    EXPECT_EQ(list.selectionMode(), QAbstractItemView::SingleSelection);

    // Several rows: multi-selection stays on; reading stops at an invalid row.
    LoadListBox(&list, Int32s({3, 0, 9, 2}));
    EXPECT_EQ(list.selectedItems().size(), 2);
    EXPECT_EQ(list.selectionMode(), QAbstractItemView::MultiSelection);
    EXPECT_EQ(SaveListBox(&list), Int32s({0, 3, -1}));

    // A value cut short clears the whole selection.
    list.setSelectionMode(QAbstractItemView::SingleSelection);
    LoadListBox(&list, Int32s({1}) + "\x02");
    EXPECT_TRUE(list.selectedItems().isEmpty());
    EXPECT_EQ(list.currentRow(), -1);
    EXPECT_EQ(list.selectionMode(), QAbstractItemView::SingleSelection);
}

TEST(ControlHandlers, ImageStoresExtensionThenGraphic)
{
    QImage picture(5, 3, QImage::Format_RGB32);
    picture.fill(QColor(10, 200, 30));
    TImage source;
    source.SetPicture(picture, "TBitmap");
    const std::string bytes = SaveImage(&source);
    ASSERT_GT(bytes.size(), 5u);
    EXPECT_EQ(bytes.substr(0, 5), "bmpBM"); // extension, then a BMP file

    TImage target;
    LoadImage(&target, bytes);
    ASSERT_TRUE(target.HasPicture());
    EXPECT_EQ(target.GraphicClass(), "TBitmap");
    EXPECT_EQ(target.Picture().size(), picture.size());
    EXPECT_EQ(target.Picture().pixelColor(2, 1), QColor(10, 200, 30));

    // An extension this view does not know leaves the picture; a known one
    // with unreadable data (or none at all) clears it.
    LoadImage(&target, "png" + bytes.substr(3));
    EXPECT_TRUE(target.HasPicture());
    LoadImage(&target, "bmpnot a bitmap");
    EXPECT_FALSE(target.HasPicture());
    target.SetPicture(picture);
    LoadImage(&target, "bm");
    EXPECT_FALSE(target.HasPicture());
    target.SetPicture(picture);
    LoadImage(&target, "emf" + bytes.substr(3));
    EXPECT_FALSE(target.HasPicture());

    TImage other;
    other.SetPicture(picture, "TPngImage");
    try {
        SaveImage(&other);
        ADD_FAILURE() << "saved a graphic class without extension";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "unknown graphic class");
    }
    other.ClearPicture();
    EXPECT_EQ(SaveImage(&other), std::string());
}
