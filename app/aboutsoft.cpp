#include "aboutsoft.h"

#include "qb7720_version.h"
#include "ui_aboutsoft.h"

aboutSoft::aboutSoft(QWidget* parent) : QDialog(parent), ui(new Ui::aboutSoft) {
    ui->setupUi(this);
    ui->label_product->setText(ui->label_product->text() + QStringLiteral(" V" QB7720_VERSION));
    connect(ui->Bt_closeWidget, SIGNAL(clicked(bool)), this, SLOT(BtCloseWidgetSlot()));
    ui->label_link->setOpenExternalLinks(true);
    ui->label_link->setText(
        QStringLiteral("<a href=\"%1\"><span style=\"color:#0000ff;\">联系我们</span></a>")
            .arg(contactAddress()));
}

aboutSoft::~aboutSoft() {
    delete ui;
}

QString aboutSoft::contactAddress() {
    return QStringLiteral("https://www.lantingmicrolink.example/contact");
}

void aboutSoft::BtCloseWidgetSlot() {
    close();
}
