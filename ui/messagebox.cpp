#include "messagebox.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QPointer>
#include <QPushButton>

namespace {
QPointer<QMessageBox> currentBox;
}

int askWithButtons(QWidget *parent, QMessageBox::Icon icon, const QString &title,
                   const QString &text, const QStringList &buttonTexts, const QString &detailedText,
                   const QString &checkBoxText, bool *checked)
{
    QMessageBox box(icon, title, text, QMessageBox::NoButton, parent);
    if (!detailedText.isEmpty())
        box.setDetailedText(detailedText);
    if (!checkBoxText.isEmpty())
        box.setCheckBox(new QCheckBox(checkBoxText, &box));
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
    if (checked)
        *checked = box.checkBox() && box.checkBox()->isChecked();

    return static_cast<int>(buttons.indexOf(qobject_cast<QPushButton *>(box.clickedButton())));
}

QMessageBox *openQuestionBox()
{
    return currentBox.data();
}

QString shortList(const QStringList &names, int shown)
{
    if (names.size() <= shown + 1) // "and 1 more" would take the line the name takes
        return names.join(QLatin1Char('\n'));
    return names.mid(0, shown).join(QLatin1Char('\n')) + QLatin1Char('\n')
           + QCoreApplication::translate("MainWindow", "and %n more", nullptr, int(names.size() - shown));
}

void showFileList(QWidget *parent, QMessageBox::Icon icon, const QString &title, const QString &text,
                  const QStringList &names)
{
    QMessageBox box(icon, title, text.arg(shortList(names)), QMessageBox::Ok, parent);
    if (names.size() > kNamesShown + 1)
        box.setDetailedText(names.join(QLatin1Char('\n')));
    box.exec();
}
