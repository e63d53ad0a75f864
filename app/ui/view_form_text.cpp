// The viewer window's part in finding faxes by their text: the words found
// marked on the page from the recognised word boxes, and F3.
#include "app/core/fax_text.h"
#include "app/ui/view_form.h"
#include "fax/view/fax_viewer.h"

#include <QSet>

#include <algorithm>

namespace {

// True when one of the runs of letters and digits in `word` is one of `folded`.
bool IsWanted(const QString& word, const QSet<QString>& folded)
{
    const QStringList parts = SearchWords(word);
    return std::any_of(parts.begin(), parts.end(), [&](const QString& part) { return folded.contains(FoldedWord(part)); });
}

} // namespace

void TViewForm::SetTextMatches(TFaxText* text, const QString& key, const QStringList& words)
{
    text_ = text;
    textKey_ = key;
    textWords_ = words;
    ShowTextMatches();
}

void TViewForm::ShowTextMatches()
{
    textMatchesShown_ = 0;
    if (!text_ || textWords_.isEmpty() || FaxViewer->FileName().isEmpty()) {
        FaxViewer->SetHighlights(0, {}, {});
        return;
    }
    QSet<QString> folded;
    for (const QString& word : textWords_)
        folded.insert(FoldedWord(word));
    const int page = FaxViewer->CurrentPage();
    std::vector<QRect> boxes;
    QSize size;
    for (const TPageText& stored : text_->Index().Pages(textKey_)) {
        if (stored.Page != page)
            continue;
        size = stored.Size;
        for (const TTextWord& word : stored.Words)
            if (IsWanted(word.Text, folded))
                boxes.push_back(word.Box);
    }
    textMatchesShown_ = int(boxes.size());
    FaxViewer->SetHighlights(page, size, std::move(boxes));
}

void TViewForm::NextTextMatch()
{
    if (!text_ || textWords_.isEmpty() || FaxViewer->FileName().isEmpty()) {
        if (Beep)
            Beep();
        return;
    }
    const std::vector<int> pages = text_->Index().MatchingPages(textKey_, textWords_);
    if (pages.empty()) {
        if (Beep)
            Beep();
        return;
    }
    const int current = FaxViewer->CurrentPage();
    const auto next = std::upper_bound(pages.begin(), pages.end(), current);
    const int page = next != pages.end() ? *next : pages.front();
    if (page == current)
        ShowTextMatches();
    else
        PageBoxChange(page);
}
