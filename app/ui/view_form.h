#pragma once
// The fax viewer window: one fax file page by page, with a tool strip for
// paging, zoom, rotation, printing and closing. The caption reports what is
// shown. Closing only hides the window; file, zoom and rotation persist.
#include "app/ui/form.h"

#include <QPointer>
#include <QString>
#include <QStringList>

#include <functional>

class QComboBox;
class QSpinBox;
class QLabel;
class QPrinter;
class QToolButton;
class QWidget;
class TKivCustomFaxViewer;
class TKivFaxPrinter;
class TKivFaxPrinterStatus;
class TKivFaxViewer;
class TPageStrip;
class TFaxText;

// A zoom that follows the window: the page's width fills it, or the whole
// page fits in it.
enum class TFitMode { None, Width, Page };

class TViewForm : public TForm {
    Q_OBJECT
public:
    explicit TViewForm(QWidget* parent = nullptr);
    ~TViewForm() override;

    // Shows `fileName` from page 1, unscaled; an error box when it cannot be
    // opened. ZoomPercent and the combo texts stay as they are.
    void OpenFax(const QString& fileName);
    // The file of the command line: opened the first time the window is
    // shown, and only then.
    void SetStartFile(const QString& fileName) { startFile_ = fileName; }

    // The fax shown was found by the words `words` in its text (key `key`):
    // they are marked on its pages, and F3 goes to the next page holding
    // them. Opening another fax forgets them.
    void SetTextMatches(TFaxText* text, const QString& key, const QStringList& words);
    // F3: the next page holding the words, after the last the first again.
    void NextTextMatch();
    // The word boxes marked on the page shown (page pixels).
    int TextMatchesShown() const { return textMatchesShown_; }

    int ZoomPercent() const { return zoomPercent_; }
    void SetZoom(int percent);
    // Fits the page to the window, now and whenever the window or the page
    // changes, until another zoom is chosen. The choice is remembered for
    // the next faxes and the next run.
    TFitMode FitMode() const { return fitMode_; }
    void SetFitMode(TFitMode mode);

    void PrevClick();
    void NextClick();
    void PageBoxChange(int page);
    void SpeedButton3Click(); // zoom in
    void SpeedButton5Click(); // zoom out
    // Apply the box's text: an item picked from its list, or a text typed
    // and confirmed with Enter.
    void PercentComboChange();
    void RotateComboChange();
    void SpeedButton6Click(); // Print: the whole fax
    void PrintRangeClick();   // Print...: the pages chosen in the print dialog
    void PreviewClick();      // Preview...: the sheets Print would make, on the screen
    void SpeedButton7Click(); // Setup
    void SpeedButton4Click(); // Close
    // Shows or hides the thumbnail strip; the choice is remembered.
    void SetThumbnailsShown(bool shown);
    bool ThumbnailsShown() const;

    // Sounds the default beep; tests replace it to count beeps.
    std::function<void()> Beep;

    // Components, named as their objectName.
    QWidget* StatusPanel = nullptr;
    QToolButton* SpeedButton1 = nullptr; // Prev
    QToolButton* SpeedButton2 = nullptr; // Next
    QSpinBox* PageBox = nullptr;         // the page shown; a number entered goes to that page
    QToolButton* SpeedButton3 = nullptr; // zoom in
    QLabel* Panel2 = nullptr;            // "+ Zoom -"
    QToolButton* SpeedButton5 = nullptr; // zoom out
    QComboBox* PercentCombo = nullptr;
    QLabel* Panel1 = nullptr; // "Rotate:"
    QComboBox* RotateCombo = nullptr;
    QToolButton* SpeedButton7 = nullptr; // Setup
    QToolButton* SpeedButton6 = nullptr; // Print
    QToolButton* PrintRangeButton = nullptr; // Print...
    QToolButton* PreviewButton = nullptr;    // Preview...
    QToolButton* MultiPageButton = nullptr;  // several pages a sheet when checked
    QToolButton* SpeedButton4 = nullptr; // Close
    QToolButton* ThumbnailsButton = nullptr; // the thumbnail strip shown when checked
    TPageStrip* PageStrip = nullptr;         // a thumbnail of each page; choosing one shows it
    TKivFaxViewer* FaxViewer = nullptr;
    TKivFaxPrinterStatus* PrinterStatus = nullptr;
    TKivFaxPrinter* FaxPrinter = nullptr;

protected:
    void showEvent(QShowEvent* event) override;
    // The window's place and size are kept for the next run.
    void hideEvent(QHideEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void CreateToolStrip();
    void CreateViewer();
    void CreatePrinter();
    void CreatePageStrip();
    // The strip follows the viewer: its document, turn and page.
    void SyncPageStrip();
    // The page as the viewer shows it, for its thumbnail; no error box.
    QImage StripPageImage(int page);
    // Scaling off and the factors at 1, as a newly opened file is shown.
    void ShowUnscaled();
    void ShowPageOne();
    // The page, zoom and rotate boxes show what the viewer shows.
    void ShowApplied();
    void ClearViewer();
    void PrintFax(bool choosePages);
    // Gives the printer the fax shown, counted afresh; false (after an error
    // box when the file is gone) when there is nothing to print.
    bool PrepareFaxPrinter();
    // The preview dialog's pages, or its Print: the range chosen there.
    void PaintPreview(QPrinter* printer, QString& problem);
    void UpdateZoomDescription();
    // A zoom the user chose; `at` (in the viewer's page area) stays where it
    // is on the screen.
    void ChooseZoom(int percent, const QPointF& at);
    QPointF ViewerCentre() const;
    void ApplyFit();
    int FitPercent() const;
    void RememberFitMode();
    // The place and size of the last run, kept within the screen.
    void RestoreGeometry();
    void FaxViewerPageChange(TKivCustomFaxViewer* sender);
    // Marks the words found on the page shown (view_form_text.cpp).
    void ShowTextMatches();
    void FaxViewerViewerError(TKivCustomFaxViewer* sender, int errorCode);
    void FaxViewerDropFile(TKivCustomFaxViewer* sender, const QString& fileName);

    int zoomPercent_ = 100;
    TFitMode fitMode_ = TFitMode::None;
    QPointF wheelAt_; // where the pointer is while Ctrl+wheel zooms
    int wheelZoomDelta_ = 0;
    QString startFile_;
    QString stripFile_; // the document the strip shows
    int stripTurns_ = 0;
    bool muteViewerErrors_ = false;
    QPointer<TFaxText> text_;
    QString textKey_;
    QStringList textWords_;
    int textMatchesShown_ = 0;
};
