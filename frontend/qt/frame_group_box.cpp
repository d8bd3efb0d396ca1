#include "frame_group_box.h"

#include <qdrawutil.h>

#include <QPainter>

FrameGroupBox::FrameGroupBox(const QString& title, QWidget* parent) : QGroupBox(title, parent) {}

void FrameGroupBox::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    const QFontMetrics metrics = fontMetrics();

    // An etched line; styles would put their own frame below the title.
    const QRect frame = rect().adjusted(0, metrics.height() / 2, 0, 0);
    qDrawShadeRect(&painter, frame, palette(), true, 1, 0);

    // The title interrupts the line, a character's width from the left.
    const int gap = metrics.averageCharWidth() / 2;
    const QRect titleRect(metrics.averageCharWidth() + 1, 0,
                          metrics.horizontalAdvance(title()) + 2 * gap, metrics.height());
    painter.fillRect(titleRect, palette().brush(backgroundRole()));
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawText(titleRect, Qt::AlignCenter | Qt::TextSingleLine, title());
}
