// Modal message boxes and file choosers of the dialogs, behind one seam so that tests can answer them
// instead of a user.
#pragma once

#include <QMessageBox>
#include <QString>
#include <functional>

class QWidget;

namespace dialogprompt {

struct Box {
    QMessageBox::Icon icon;
    QString title;
    QString text;
    QMessageBox::StandardButtons buttons;
};

enum class Chooser { Open, Save };

struct FileRequest {
    Chooser kind;
    QString caption;
    QString directory;
    QString filter;
};

using BoxHook = std::function<QMessageBox::StandardButton(const Box&)>;
using FileHook = std::function<QString(const FileRequest&)>;

// While a hook is set it answers every request; an empty hook restores the real widgets.
void setBoxHook(BoxHook hook);
void setFileHook(FileHook hook);

// A box titled "Tavrion"; a single Ok button reads "确定".
QMessageBox::StandardButton show(QWidget* parent, QMessageBox::Icon icon, const QString& text,
                                 QMessageBox::StandardButtons buttons = QMessageBox::Ok);

inline void inform(QWidget* parent, const QString& text) {
    show(parent, QMessageBox::Information, text);
}
inline void warn(QWidget* parent, const QString& text) {
    show(parent, QMessageBox::Warning, text);
}
inline bool askYesNo(QWidget* parent, const QString& text) {
    return show(parent, QMessageBox::Warning, text, QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
}

// The answer of a file chooser; empty when cancelled.
QString chooseFile(QWidget* parent, const FileRequest& request);

}  // namespace dialogprompt
