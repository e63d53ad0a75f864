#include "app/ui/line_edit_fit.h"

#include <QFontMetrics>
#include <QLineEdit>
#include <QStringList>
#include <QStyle>
#include <QStyleOptionFrame>

#include <algorithm>

namespace {

// The blank a line edit keeps on each side of its text inside the frame.
constexpr int kTextSideMargin = 2;
// The cursor's pixel after the text, and rounding between the font metrics
// and the edit's own text layout.
constexpr int kCursorAndRounding = 2;

QChar WidestDigit(const QFontMetrics& metrics)
{
    QChar widest = QLatin1Char('0');
    for (char digit = '1'; digit <= '9'; ++digit)
        if (metrics.horizontalAdvance(QLatin1Char(digit)) > metrics.horizontalAdvance(widest))
            widest = QLatin1Char(digit);
    return widest;
}

// Gives the edit the minimum width at which the widest sample shows whole.
void FitLineEditTo(QLineEdit& edit, const QStringList& samples, const QFontMetrics& metrics)
{
    int textWidth = 0;
    for (const QString& sample : samples)
        textWidth = std::max(textWidth, metrics.horizontalAdvance(sample));
    const QMargins margins = edit.textMargins();
    const QSize contents(textWidth + 2 * kTextSideMargin + kCursorAndRounding + margins.left() + margins.right(),
                         metrics.height());

    // The same frame description the edit paints itself with.
    QStyleOptionFrame option;
    option.initFrom(&edit);
    option.lineWidth = edit.hasFrame() ? edit.style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, &edit) : 0;
    option.midLineWidth = 0;
    option.state |= QStyle::State_Sunken;
    edit.setMinimumWidth(edit.style()->sizeFromContents(QStyle::CT_LineEdit, &option, contents, &edit).width());
}

QFontMetrics PolishedMetrics(QLineEdit& edit)
{
    edit.ensurePolished(); // the style may still change the font
    return QFontMetrics(edit.font());
}

} // namespace

void FitLineEditToRecordDate(QLineEdit& edit)
{
    const QFontMetrics metrics = PolishedMetrics(edit);
    const QString two(2, WidestDigit(metrics));
    const QString date = two + QLatin1Char('/') + two + QLatin1Char('/') + two + two + QLatin1Char(' ') + two +
                         QLatin1Char(':') + two;
    FitLineEditTo(edit, {date + QStringLiteral(" AM"), date + QStringLiteral(" PM")}, metrics);
}

void FitLineEditToDigits(QLineEdit& edit, int length)
{
    const QFontMetrics metrics = PolishedMetrics(edit);
    FitLineEditTo(edit, {QString(length, WidestDigit(metrics))}, metrics);
}
