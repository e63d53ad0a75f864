#pragma once
// The animated icon control that shows that a download is running.
#include "app/ui/ani_file.h"

#include <QWidget>

class TAniIcon : public QWidget {
    Q_OBJECT
public:
    static constexpr int kTimerPeriodMs = 20;

    explicit TAniIcon(QWidget* parent = nullptr);

    // The animation shown; setting new data reads it and shows its frame 0.
    const TAniFile& AniFile() const { return aniFile_; }
    void SetAniFile(const QByteArray& data);

    bool Animated() const { return timerId_ != 0; }
    void SetAnimated(bool animated);

    // When set, the animation runs while the mouse is over the enabled control.
    bool AnimateOnEnter() const { return animateOnEnter_; }
    void SetAnimateOnEnter(bool value) { animateOnEnter_ = value; }

    int Frame() const { return aniFile_.CurrentFrame(); }
    void SetFrame(int frame);

    // Transparent: the parent shows through around the icon; otherwise the
    // control fills its area with its own background colour.
    bool Transparent() const { return transparent_; }
    void SetTransparent(bool value);
    // Center: the icon is drawn in the middle instead of the top-left corner.
    bool Center() const { return center_; }
    void SetCenter(bool value);
    // ButtonStyle: a raised frame while the mouse is over the control, a
    // sunken one while the left button is held down on it.
    bool ButtonStyle() const { return buttonStyle_; }
    void SetButtonStyle(bool value);

    QSize sizeHint() const override { return {32, 32}; }

protected:
    void timerEvent(QTimerEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void SetFlag(bool& flag, bool value);

    TAniFile aniFile_;
    int timerId_ = 0;
    bool animateOnEnter_ = false;
    bool transparent_ = false;
    bool center_ = false;
    bool buttonStyle_ = false;
    bool mouseOver_ = false;
    bool mouseDown_ = false;
};

// Pellimar's own busy animation, embedded in the program.
QByteArray PellimarBusyAnimation();
