#include "dialogprompt.h"

#include <QAbstractButton>
#include <QFileDialog>
#include <utility>

namespace dialogprompt {
namespace {
BoxHook& boxHook() {
    static BoxHook hook;
    return hook;
}
FileHook& fileHook() {
    static FileHook hook;
    return hook;
}
}  // namespace

void setBoxHook(BoxHook hook) {
    boxHook() = std::move(hook);
}
void setFileHook(FileHook hook) {
    fileHook() = std::move(hook);
}

QMessageBox::StandardButton show(QWidget* parent, QMessageBox::Icon icon, const QString& text,
                                 QMessageBox::StandardButtons buttons) {
    const QString title = QStringLiteral("Tavrion");
    if (boxHook()) return boxHook()(Box{icon, title, text, buttons});
    QMessageBox box(icon, title, text, buttons, parent);
    if (buttons == QMessageBox::Ok) box.button(QMessageBox::Ok)->setText(QStringLiteral("确定"));
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

QString chooseFile(QWidget* parent, const FileRequest& request) {
    if (fileHook()) return fileHook()(request);
    if (request.kind == Chooser::Open)
        return QFileDialog::getOpenFileName(parent, request.caption, request.directory, request.filter);
    return QFileDialog::getSaveFileName(parent, request.caption, request.directory, request.filter);
}

}  // namespace dialogprompt
