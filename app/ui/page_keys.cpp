#include "app/ui/page_keys.h"

#include <QShortcut>
#include <QTabWidget>

void AddPageSwitchKeys(QTabWidget& pages)
{
    const auto add = [&pages](QKeyCombination key, int step) {
        auto* shortcut = new QShortcut(QKeySequence(key), &pages);
        QObject::connect(shortcut, &QShortcut::activated, &pages, [&pages, step] {
            const int count = pages.count();
            if (count > 1 && pages.isEnabled())
                pages.setCurrentIndex((pages.currentIndex() + step + count) % count);
        });
    };
    add(Qt::CTRL | Qt::Key_Tab, 1);
    add(Qt::CTRL | Qt::Key_PageDown, 1);
    add(Qt::CTRL | Qt::SHIFT | Qt::Key_Backtab, -1);
    add(Qt::CTRL | Qt::Key_PageUp, -1);
}
