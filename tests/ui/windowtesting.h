#pragma once

// Helpers for driving the main window in tests: answering the modal boxes and
// dialogs it opens, from a timer, the way a user would.

#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <functional>

namespace windowtesting {

// The box's answer buttons, without the one that shows its details.
inline QList<QAbstractButton *> answerButtons(QMessageBox *box)
{
    const QString showDetails = QCoreApplication::translate("QMessageBox", "Show Details...");
    const QString hideDetails = QCoreApplication::translate("QMessageBox", "Hide Details...");
    QList<QAbstractButton *> buttons;
    for (QAbstractButton *button : box->buttons()) {
        if (button->text() != showDetails && button->text() != hideDetails)
            buttons.append(button);
    }
    return buttons;
}

template<typename T>
struct NotDeduced
{
    using type = T;
};

// Waits (polling, without blocking the event loop) for the next modal widget
// of the given kind and hands it to answer(); other modal widgets, such as
// the progress of an add that comes first, are passed over. Returns at once;
// the answer happens later.
template<typename Widget = QWidget>
inline void whenModal(std::function<void(typename NotDeduced<Widget>::type *)> answer, int timeoutMs = 30000)
{
    auto *timer = new QTimer;
    auto elapsed = std::make_shared<int>(0);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, answer, elapsed, timeoutMs] {
        *elapsed += 10;
        if (auto *modal = qobject_cast<Widget *>(QApplication::activeModalWidget())) {
            timer->stop();
            timer->deleteLater();
            answer(modal);
        } else if (*elapsed > timeoutMs) {
            timer->stop();
            timer->deleteLater();
        }
    });
    timer->start(10);
}

struct BoxSeen
{
    bool shown = false;
    QString title;
    QString text;
    QString details; // behind "Show Details...", which is not among the buttons
    QStringList buttons;
    bool hasDefault = false;
    QString defaultButton;
    bool hasEscape = false;
};

// Answers the next message box by clicking the button with the given text,
// after recording what it showed.
inline void clickInNextBox(const QString &buttonText, std::shared_ptr<BoxSeen> seen,
                           std::function<void()> whileOpen = {})
{
    whenModal<QMessageBox>([buttonText, seen, whileOpen](QMessageBox *box) {
        seen->shown = true;
        seen->title = box->windowTitle();
        seen->text = box->text();
        seen->details = box->detailedText();
        for (QAbstractButton *button : answerButtons(box))
            seen->buttons.append(button->text());
        seen->hasDefault = box->defaultButton() != nullptr;
        seen->defaultButton = box->defaultButton() ? box->defaultButton()->text() : QString();
        seen->hasEscape = box->escapeButton() != nullptr;
        if (whileOpen)
            whileOpen();
        for (QAbstractButton *button : box->buttons()) {
            if (button->text() == buttonText) {
                button->click();
                return;
            }
        }
    });
}

// Answers the next file dialog: chooses the given files (all in one folder)
// or, with an empty list, cancels.
inline void chooseInFileDialog(const QStringList &paths)
{
    whenModal<QFileDialog>([paths](QFileDialog *dialog) {
        if (paths.isEmpty()) {
            dialog->reject();
            return;
        }
        dialog->setDirectory(QFileInfo(paths.first()).absolutePath());
        QStringList quoted;
        for (const QString &path : paths)
            quoted.append(QLatin1Char('"') + QFileInfo(path).fileName() + QLatin1Char('"'));
        auto *edit = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
        if (edit)
            edit->setText(paths.size() == 1 ? QFileInfo(paths.first()).fileName() : quoted.join(' '));
        static_cast<QDialog *>(dialog)->accept();
    });
}

} // namespace windowtesting

namespace windowtesting {

// Answers every message box that opens, in order, with the next button text
// of the list, recording what each box showed. whileOpen (optional) runs for
// each box before it is answered, with the box's number.
class BoxAnswerer : public QObject
{
public:
    explicit BoxAnswerer(QStringList answers, std::function<void(int)> whileOpen = {})
        : answers(std::move(answers)), whileOpen(std::move(whileOpen))
    {
        timer.setInterval(10);
        QObject::connect(&timer, &QTimer::timeout, this, [this] { poll(); });
        timer.start();
    }

    QList<BoxSeen> seen;

private:
    void poll()
    {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box || box->property("answered").toBool() || seen.size() >= answers.size())
            return;
        box->setProperty("answered", true);
        BoxSeen record;
        record.shown = true;
        record.title = box->windowTitle();
        record.text = box->text();
        record.details = box->detailedText();
        for (QAbstractButton *button : answerButtons(box))
            record.buttons.append(button->text());
        record.hasDefault = box->defaultButton() != nullptr;
        record.defaultButton = box->defaultButton() ? box->defaultButton()->text() : QString();
        record.hasEscape = box->escapeButton() != nullptr;
        const int number = static_cast<int>(seen.size());
        seen.append(record);
        if (whileOpen)
            whileOpen(number);
        const QString answer = answers.at(number);
        for (QAbstractButton *button : box->buttons()) {
            if (button->text() == answer) {
                button->click();
                return;
            }
        }
    }

    QStringList answers;
    std::function<void(int)> whileOpen;
    QTimer timer;
};

} // namespace windowtesting
