// The animated icon control: its timer, frame stepping and drawing.
#include "app/ui/ani_icon.h"
#include "tests/app/ani_test_data.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QEnterEvent>
#include <QMouseEvent>
#include <QTimerEvent>
#include <gtest/gtest.h>

using namespace ani_test;

namespace {

int RegisteredTimers(QObject* object)
{
    return int(QAbstractEventDispatcher::instance()->registeredTimers(object).size());
}

// Delivers one tick of the control's own timer.
void Tick(TAniIcon& icon)
{
    const auto timers = QAbstractEventDispatcher::instance()->registeredTimers(&icon);
    ASSERT_EQ(timers.size(), 1);
    QTimerEvent event(timers.first().timerId);
    QApplication::sendEvent(&icon, &event);
}

QImage Render(QWidget& widget)
{
    QImage image(widget.size(), QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    widget.render(&image);
    return image;
}

void Enter(QWidget& widget)
{
    QEnterEvent event(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
    QApplication::sendEvent(&widget, &event);
}

void Leave(QWidget& widget)
{
    QEvent event(QEvent::Leave);
    QApplication::sendEvent(&widget, &event);
}

void Mouse(QWidget& widget, QEvent::Type type)
{
    QMouseEvent event(type, QPointF(5, 5), QPointF(5, 5), Qt::LeftButton,
                      type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(&widget, &event);
}

QByteArray ThreeFrames(uint32_t rate)
{
    Builder builder;
    builder.defaultRate = rate;
    return builder.Build();
}

} // namespace

TEST(AniIcon, SwitchingAnimatedOnTwiceRunsOneTimer)
{
    TAniIcon icon;
    EXPECT_EQ(icon.size(), QSize(32, 32));
    EXPECT_FALSE(icon.Animated());
    EXPECT_EQ(RegisteredTimers(&icon), 0);
    icon.SetAnimated(true);
    icon.SetAnimated(true);
    EXPECT_TRUE(icon.Animated());
    ASSERT_EQ(RegisteredTimers(&icon), 1);
    EXPECT_EQ(QAbstractEventDispatcher::instance()->registeredTimers(&icon).first().interval, 20);

    icon.SetAnimated(false);
    EXPECT_FALSE(icon.Animated());
    EXPECT_EQ(RegisteredTimers(&icon), 0);
    icon.SetAnimated(false);
    EXPECT_EQ(RegisteredTimers(&icon), 0);

    icon.SetAnimated(true);
    EXPECT_EQ(RegisteredTimers(&icon), 1);
}

TEST(AniIcon, TimerTicksStepTheFramesByTheirRate)
{
    TAniIcon icon;
    icon.SetAniFile(ThreeFrames(10));
    icon.SetAnimated(true);
    for (int expected : {1, 2, 0}) {
        for (int tick = 0; tick < 5; ++tick)
            Tick(icon);
        EXPECT_NE(icon.Frame(), expected);
        Tick(icon);
        EXPECT_EQ(icon.Frame(), expected);
    }
    // A timer event that is not the control's own changes nothing.
    QTimerEvent foreign(987654);
    for (int tick = 0; tick < 20; ++tick)
        QApplication::sendEvent(&icon, &foreign);
    EXPECT_EQ(icon.Frame(), 0);
}

TEST(AniIcon, AnimateOnEnterRunsWhileTheMouseIsOverAnEnabledControl)
{
    TAniIcon icon;
    Enter(icon);
    EXPECT_FALSE(icon.Animated());
    Leave(icon);

    icon.SetAnimateOnEnter(true);
    Enter(icon);
    EXPECT_TRUE(icon.Animated());
    Leave(icon);
    EXPECT_FALSE(icon.Animated());

    icon.setEnabled(false);
    Enter(icon);
    EXPECT_FALSE(icon.Animated());
}

TEST(AniIcon, PaintsTheCurrentFrameAtTheCornerOrCentred)
{
    TAniIcon icon;
    icon.SetAniFile(ThreeFrames(10));
    icon.resize(48, 48);
    QPalette palette = icon.palette();
    palette.setColor(QPalette::Window, Qt::blue);
    icon.setPalette(palette);

    icon.SetFrame(1);
    QImage image = Render(icon);
    EXPECT_EQ(image.pixel(1, 1), FrameColour(1));
    EXPECT_EQ(image.pixel(0, 0), qRgb(0, 0, 255)) << "masked pixel shows the background";
    EXPECT_EQ(image.pixel(40, 40), qRgb(0, 0, 255));

    icon.SetCenter(true);
    image = Render(icon);
    EXPECT_EQ(image.pixel(8, 8), qRgb(0, 0, 255)) << "masked corner of the centred icon";
    EXPECT_EQ(image.pixel(9, 9), FrameColour(1));
    EXPECT_EQ(image.pixel(39, 39), FrameColour(1));
    EXPECT_EQ(image.pixel(40, 40), qRgb(0, 0, 255));
    EXPECT_EQ(image.pixel(2, 2), qRgb(0, 0, 255));
}

TEST(AniIcon, TransparentControlLetsTheParentShowThrough)
{
    QWidget parent;
    parent.resize(64, 64);
    parent.setAutoFillBackground(true);
    QPalette maroon = parent.palette();
    maroon.setColor(QPalette::Window, QColor(0x80, 0, 0));
    parent.setPalette(maroon);
    auto* icon = new TAniIcon(&parent);
    icon->move(10, 10);
    icon->resize(40, 40);
    QPalette blue = icon->palette();
    blue.setColor(QPalette::Window, Qt::blue);
    icon->setPalette(blue);
    icon->SetAniFile(ThreeFrames(10));

    QImage image = Render(parent);
    EXPECT_EQ(image.pixel(45, 45), qRgb(0, 0, 255));
    EXPECT_EQ(image.pixel(10, 10), qRgb(0, 0, 255));

    icon->SetTransparent(true);
    image = Render(parent);
    EXPECT_EQ(image.pixel(45, 45), qRgb(0x80, 0, 0));
    EXPECT_EQ(image.pixel(10, 10), qRgb(0x80, 0, 0)) << "masked pixel of the frame";
    EXPECT_EQ(image.pixel(20, 20), FrameColour(0));
}

TEST(AniIcon, ButtonStyleRaisesOnHoverAndSinksWhilePressed)
{
    TAniIcon icon;
    icon.resize(40, 40);
    QPalette palette = icon.palette();
    palette.setColor(QPalette::Window, Qt::blue);
    icon.setPalette(palette);
    const QRgb white = qRgb(255, 255, 255);
    const QRgb grey = QColor(Qt::darkGray).rgb();
    const QRgb blue = qRgb(0, 0, 255);

    Enter(icon);
    QImage image = Render(icon);
    EXPECT_EQ(image.pixel(20, 0), blue) << "no frame without ButtonStyle";

    icon.SetButtonStyle(true);
    image = Render(icon);
    EXPECT_EQ(image.pixel(20, 0), white);
    EXPECT_EQ(image.pixel(0, 20), white);
    EXPECT_EQ(image.pixel(20, 39), grey);
    EXPECT_EQ(image.pixel(39, 20), grey);

    Mouse(icon, QEvent::MouseButtonPress);
    image = Render(icon);
    EXPECT_EQ(image.pixel(20, 0), grey);
    EXPECT_EQ(image.pixel(0, 20), grey);
    EXPECT_EQ(image.pixel(20, 39), white);
    EXPECT_EQ(image.pixel(39, 20), white);

    Mouse(icon, QEvent::MouseButtonRelease);
    Leave(icon);
    image = Render(icon);
    EXPECT_EQ(image.pixel(20, 0), blue);
    EXPECT_EQ(image.pixel(20, 39), blue);
}

TEST(AniIcon, ShowsPellimarsOwnAnimation)
{
    TAniIcon icon;
    icon.SetAniFile(PellimarBusyAnimation());
    EXPECT_EQ(icon.AniFile().FrameCount(), 8);
    icon.SetAnimated(true);
    QImage first = Render(icon);
    for (int tick = 0; tick < 5; ++tick)
        Tick(icon);
    EXPECT_EQ(icon.Frame(), 1);
    EXPECT_NE(Render(icon), first);
}
