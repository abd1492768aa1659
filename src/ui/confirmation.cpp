#include "ui/confirmation.h"

#include "ui/icons.h"
#include "ui/style.h"

#include <QMessageBox>
#include <QPushButton>

namespace zafrel::ui {

QMessageBox* askToConfirm(QWidget* parent, const QString& question, const QString& detail, const QString& acceptText,
                          const QString& keepText, std::function<void()> onAccept)
{
    auto* box = new QMessageBox(parent);
    box->setObjectName("confirmation");
    box->setIconPixmap(symbolPixmap(QStringLiteral("exclamationmark.triangle.fill"), orangeColor(), 40, box->devicePixelRatioF()));
    // Room for the explanation on a few lines rather than a narrow column.
    box->setStyleSheet(QStringLiteral("QLabel#qt_msgbox_informativelabel { min-width: 380px; }"));
    box->setWindowTitle(QStringLiteral("Zafrel"));
    box->setTextFormat(Qt::PlainText);
    box->setText(question);
    box->setInformativeText(detail);
    QPushButton* accept = box->addButton(acceptText, QMessageBox::DestructiveRole);
    accept->setObjectName("confirmAccept");
    QPalette palette = accept->palette();
    palette.setColor(QPalette::ButtonText, redColor());
    accept->setPalette(palette);
    QPushButton* keep = box->addButton(keepText, QMessageBox::RejectRole);
    keep->setObjectName("confirmKeep");
    box->setDefaultButton(keep);
    box->setEscapeButton(keep);
    for (QPushButton* button : {accept, keep})
        giveRoom(button);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);
    QObject::connect(box, &QMessageBox::buttonClicked, box, [box, accept, onAccept = std::move(onAccept)](QAbstractButton* clicked) {
        if (clicked == accept && onAccept)
            onAccept();
        (void)box;
    });
    box->open();
    return box;
}

}  // namespace zafrel::ui
