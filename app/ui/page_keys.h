#pragma once
// Ctrl+Tab and Ctrl+Page Down show the next page of a page control,
// Ctrl+Shift+Tab and Ctrl+Page Up the previous one, wherever the focus is in
// its window: a control that takes keys itself (a combo box searches its
// items by the typed text) would otherwise keep the page from changing.
class QTabWidget;

void AddPageSwitchKeys(QTabWidget& pages);
