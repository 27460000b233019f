// The about box: logo, product and version, maker, rights notice and a contact link.
#pragma once

#include <QDialog>

namespace Ui {
class aboutSoft;
}

class aboutSoft : public QDialog {
    Q_OBJECT

  public:
    explicit aboutSoft(QWidget* parent = nullptr);
    ~aboutSoft() override;

    static QString contactAddress();

  public slots:
    void BtCloseWidgetSlot();

  private:
    Ui::aboutSoft* ui;
};
