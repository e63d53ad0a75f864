#pragma once
// The Browse Faxes page: the fax grid over the catalogue, viewing a fax
// (which marks its record "Viewed") and removing one (file and record).
#include <QObject>
#include <QPointer>
#include <QString>

class QLineEdit;
class QTabWidget;
class QTableView;
class QWidget;
class TFaxCatalogue;
class TFaxGridModel;
class TFaxText;

class TFaxBrowser : public QObject {
    Q_OBJECT
public:
    // Serves `grid` from `catalogue`; `filter` narrows its rows. The page is
    // `sheet` of `pages`; `databaseEmpty` is set while the catalogue has no
    // record to show.
    TFaxBrowser(TFaxCatalogue& catalogue, const bool& databaseEmpty, QTabWidget& pages, QWidget& sheet,
                QTableView& grid, QLineEdit& filter);
    ~TFaxBrowser() override;

    // Writes the record panel's texts into grid row `row` (row 0 is the
    // header); the grid grows to hold the row.
    void WriteGridRow(int row);
    // One row per catalogue record in key order (then the chosen sorting and
    // filter); the record panel is left on the last record.
    void FillGrid();
    // The page is shown: the header texts, then FillGrid.
    void BrowseFaxesSheetShow();
    void BitBtn5Click(); // View Fax
    void BitBtn4Click(); // Remove Fax

    // The filter also finds faxes by their recognised text, and a removed
    // fax's text goes with it.
    void SetFaxText(TFaxText* text);

    TFaxGridModel& Model() const { return *model_; }
    // The Filename cell of the selected row (empty when none is selected).
    QString SelectedName() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void ShowSheet(bool keepReadRows);
    void FillRows(bool keepReadRows);
    void SetPanelToHeaderTexts();
    // True when View or Remove cannot act on `name`: no row is selected
    // (nothing is said), or the catalogue is busy (a box says so).
    bool CannotActOn(const QString& name);
    // Opens the file at path (empty when nothing is selected) in the viewer.
    void OpenInViewer(const QString& path);
    // True when the fax's file at path is gone now (deleted, or missing already).
    bool RemoveFaxFile(const QString& name, const QString& path);
    void SelectRow(int row);
    // Applies the filter text: one query of the text index for all rows.
    void ApplyFilter();

    // Gone before the pages when the window closes: a page change then has
    // nothing to show.
    QPointer<TFaxCatalogue> catalogue_;
    const bool& databaseEmpty_;
    QTabWidget& pages_;
    QWidget& sheet_;
    QTableView& grid_;
    TFaxGridModel* model_ = nullptr;
    QLineEdit& filter_;
    QPointer<TFaxText> text_;
};
