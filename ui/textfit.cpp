// SPDX-License-Identifier: GPL-3.0-or-later
#include "textfit.h"

#include <QHeaderView>
#include <QLabel>
#include <QLayout>
#include <QMainWindow>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QStyleOptionHeader>
#include <QStyleOptionViewItem>
#include <QTableWidget>
#include <QTextDocument>
#include <QtMath>

namespace {

// Row numbers of up to this many digits fit beside the rows.
const QString kWidestRowNumber = QStringLiteral("999");

// What a cell with this text takes, measured as the table's item delegate
// measures it.
QSize cellSize(const QTableWidget *table, const QString &text, bool withMark)
{
    QStyleOptionViewItem option;
    option.initFrom(table);
    option.widget = table;
    option.font = table->font();
    option.fontMetrics = QFontMetrics(option.font);
    option.features = QStyleOptionViewItem::HasDisplay;
    option.text = text;
    option.displayAlignment = Qt::AlignCenter;
    if (withMark) {
        const int extent = table->style()->pixelMetric(QStyle::PM_SmallIconSize, nullptr, table);
        option.features |= QStyleOptionViewItem::HasDecoration;
        option.decorationSize = table->iconSize().isValid() ? table->iconSize() : QSize(extent, extent);
    }
    return table->style()->sizeFromContents(QStyle::CT_ItemViewItem, &option, QSize(), table);
}

int rowNumberWidth(const QHeaderView *numbers)
{
    QStyleOptionHeader option;
    option.initFrom(numbers);
    option.orientation = Qt::Vertical;
    option.text = kWidestRowNumber;
    return numbers->style()->sizeFromContents(QStyle::CT_HeaderSection, &option, QSize(), numbers).width();
}

} // namespace

void growToText(QWidget *widget)
{
    QSize need = widget->sizeHint();
    const auto *label = qobject_cast<const QLabel *>(widget);
    if (label && label->wordWrap()) {
        const int width = qMax(widget->minimumWidth(), label->minimumSizeHint().width());
        need = QSize(width, label->heightForWidth(width));
    }
    widget->setMinimumSize(widget->minimumSize().expandedTo(need));
    widget->setMaximumSize(widget->maximumSize().expandedTo(need));
}

void growToLine(QPlainTextEdit *field)
{
    const int margin = qCeil(field->document()->documentMargin());
    int height = field->fontMetrics().height() + 2 * margin + 2 * field->frameWidth();
    if (field->horizontalScrollBarPolicy() == Qt::ScrollBarAlwaysOn)
        height += field->horizontalScrollBar()->sizeHint().height();
    field->setMinimumHeight(qMax(field->minimumHeight(), height));
    field->setMaximumHeight(qMax(field->maximumHeight(), height));
}

void growTable(QTableWidget *table, const QVector<QStringList> &columnSamples, int rows)
{
    QHeaderView *header = table->horizontalHeader();
    QHeaderView *numbers = table->verticalHeader();
    // A cell's share of the grid: the line at its right and at its bottom.
    const int grid = table->showGrid() ? 1 : 0;
    int rowHeight = numbers->defaultSectionSize();
    int columnsWidth = 0;
    const int last = table->columnCount() - 1;
    for (int column = 0; column <= last; ++column) {
        int width = header->sectionSizeHint(column);
        for (const QString &text : columnSamples.value(column)) {
            const QSize cell = cellSize(table, text, column == 0) + QSize(grid, grid);
            width = qMax(width, cell.width());
            rowHeight = qMax(rowHeight, cell.height());
        }
        if (column < last) {
            width = qMax(width, header->sectionSize(column));
            header->resizeSection(column, width);
        } else if (header->stretchLastSection()) {
            // The last column takes the width left over, but a stretched
            // section is never made narrower than it was when stretching
            // began (the form's width): it would run on beyond the view.
            header->setStretchLastSection(false);
            header->resizeSection(column, width);
            header->setStretchLastSection(true);
        }
        columnsWidth += width;
    }
    numbers->setDefaultSectionSize(rowHeight);

    const int frame = 2 * table->frameWidth();
    const QSize need(frame + rowNumberWidth(numbers) + columnsWidth + table->verticalScrollBar()->sizeHint().width(),
                     frame + header->sizeHint().height() + rows * rowHeight);
    table->setMinimumSize(table->minimumSize().expandedTo(need));
}

void fixWindowSize(QMainWindow *window, QSize least, const QWidget *exemptFromWidth)
{
    QLayout *layout = window->centralWidget()->layout();
    int width = 0;
    for (int i = 0; i < layout->count(); ++i) {
        QLayoutItem *item = layout->itemAt(i);
        if (item->widget() && item->widget() == exemptFromWidth)
            continue;
        width = qMax(width, item->minimumSize().width());
    }
    const QMargins margins = layout->contentsMargins();
    const QSize need(width + margins.left() + margins.right(), layout->minimumSize().height());
    window->setFixedSize(least.expandedTo(need));
}
