#pragma once
#include <QString>

#include <functional>

class QMessageBox;
class QWidget;

namespace zafrel::ui {

// Asks before a step that cannot be undone (cancelling a run, dropping failed files, closing
// mid-run). The question is window-modal and returns at once; `onAccept` runs only when the user
// picks `acceptText`. Escape, closing it and the default button all keep things as they are.
QMessageBox* askToConfirm(QWidget* parent, const QString& question, const QString& detail, const QString& acceptText,
                          const QString& keepText, std::function<void()> onAccept);

}  // namespace zafrel::ui
