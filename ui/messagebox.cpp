#include "messagebox.h"

#include <QPointer>
#include <QPushButton>

namespace {
QPointer<QMessageBox> currentBox;
}

int askWithButtons(QWidget *parent, QMessageBox::Icon icon, const QString &title,
                   const QString &text, const QStringList &buttonTexts, const QString &detailedText)
{
    QMessageBox box(icon, title, text, QMessageBox::NoButton, parent);
    if (!detailedText.isEmpty())
        box.setDetailedText(detailedText);
    QList<QPushButton *> buttons;
    for (const QString &buttonText : buttonTexts) {
        // ActionRole keeps QMessageBox from picking an escape button by itself.
        buttons.append(box.addButton(buttonText, QMessageBox::ActionRole));
    }
    if (!buttons.isEmpty())
        box.setDefaultButton(buttons.first());
    box.setEscapeButton(nullptr);

    QPointer<QMessageBox> previous = currentBox;
    currentBox = &box;
    box.exec();
    currentBox = previous;

    return static_cast<int>(buttons.indexOf(qobject_cast<QPushButton *>(box.clickedButton())));
}

QMessageBox *openQuestionBox()
{
    return currentBox.data();
}
