#include "app/ui/ani_icon.h"

#include "app/ui/pellimar_resources.h"

#include <QFile>
#include <QMouseEvent>
#include <QPainter>
#include <QTimerEvent>

namespace {

constexpr int kIconSize = 32;

} // namespace

TAniIcon::TAniIcon(QWidget* parent) : QWidget(parent)
{
    resize(kIconSize, kIconSize);
    // Not opaque: what is not painted shows the parent.
    setAttribute(Qt::WA_OpaquePaintEvent, false);
    setAttribute(Qt::WA_Hover, true);
}

void TAniIcon::SetAniFile(const QByteArray& data)
{
    aniFile_.LoadFromData(data);
    update();
}

void TAniIcon::SetAnimated(bool animated)
{
    if (animated == Animated())
        return;
    if (animated) {
        timerId_ = startTimer(kTimerPeriodMs, Qt::PreciseTimer);
    } else {
        killTimer(timerId_);
        timerId_ = 0;
    }
}

void TAniIcon::SetFrame(int frame)
{
    aniFile_.SetCurrentFrame(frame);
    update();
}

void TAniIcon::SetFlag(bool& flag, bool value)
{
    if (flag == value)
        return;
    flag = value;
    update();
}

void TAniIcon::SetTransparent(bool value) { SetFlag(transparent_, value); }
void TAniIcon::SetCenter(bool value) { SetFlag(center_, value); }
void TAniIcon::SetButtonStyle(bool value) { SetFlag(buttonStyle_, value); }

void TAniIcon::timerEvent(QTimerEvent* event)
{
    if (event->timerId() != timerId_ || timerId_ == 0) {
        QWidget::timerEvent(event);
        return;
    }
    if (aniFile_.Tick())
        update();
}

void TAniIcon::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    if (!transparent_)
        painter.fillRect(rect(), palette().window());

    const QPoint origin = center_ ? QPoint((width() - kIconSize) / 2, (height() - kIconSize) / 2) : QPoint(0, 0);
    const QImage& icon = aniFile_.FrameIcon(aniFile_.CurrentFrame());
    if (!icon.isNull())
        painter.drawImage(origin, icon);

    if (buttonStyle_ && (mouseDown_ || mouseOver_)) {
        const QColor topLeft = mouseDown_ ? Qt::darkGray : Qt::white;
        const QColor bottomRight = mouseDown_ ? Qt::white : Qt::darkGray;
        const QRect r = rect();
        painter.setPen(topLeft);
        painter.drawLine(r.topLeft(), r.topRight());
        painter.drawLine(r.topLeft(), r.bottomLeft());
        painter.setPen(bottomRight);
        painter.drawLine(r.bottomLeft(), r.bottomRight());
        painter.drawLine(r.topRight(), r.bottomRight());
    }
}

void TAniIcon::enterEvent(QEnterEvent* event)
{
    SetFlag(mouseOver_, true);
    if (animateOnEnter_ && isEnabled())
        SetAnimated(true);
    QWidget::enterEvent(event);
}

void TAniIcon::leaveEvent(QEvent* event)
{
    SetFlag(mouseOver_, false);
    if (animateOnEnter_ && isEnabled())
        SetAnimated(false);
    QWidget::leaveEvent(event);
}

void TAniIcon::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        SetFlag(mouseDown_, true);
    QWidget::mousePressEvent(event);
}

void TAniIcon::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        SetFlag(mouseDown_, false);
    QWidget::mouseReleaseEvent(event);
}

QByteArray PellimarBusyAnimation()
{
    InitPellimarResources();
    QFile file(QStringLiteral(":/pellimar/busy.ani"));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
