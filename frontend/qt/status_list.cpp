#include "status_list.h"

#include <QPainter>
#include <QWheelEvent>
#include <algorithm>

#include "status_list_accessible.h"

namespace {

// Room left of the text of a line, as an item view leaves it.
constexpr int kTextMargin = 3;

}  // namespace

StatusList::StatusList(QWidget* parent) : QFrame(parent) {
    setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    setBackgroundRole(QPalette::Base);
    setAutoFillBackground(true);
    setFocusPolicy(Qt::NoFocus);
    InstallStatusListAccessibility();
}

int StatusList::LineHeight() const {
    return fontMetrics().height();
}

int StatusList::WholeLinesShown() const {
    return std::max(1, contentsRect().height() / LineHeight());
}

int StatusList::LastTopIndex() const {
    const int newest = LineCount() - 1;
    return std::max(0, std::min(newest, LineCount() - WholeLinesShown()));
}

void StatusList::ScrollToNewest() {
    topIndex_ = LastTopIndex();
}

void StatusList::AppendLine(const QString& line) {
    lines_.append(line);
    ScrollToNewest();
    update();
    AnnounceNewLine(*this, LineCount() - 1);
    emit lineAdded(LineCount() - 1);
}

QRect StatusList::LineRect(int index) const {
    const QRect contents = contentsRect();
    const QRect line(contents.left(), contents.top() + (index - topIndex_) * LineHeight(),
                     contents.width(), LineHeight());
    return index >= topIndex_ && index < LineCount() ? line.intersected(contents) : QRect();
}

int StatusList::IndexAt(QPoint point) const {
    const QRect contents = contentsRect();
    if (!contents.contains(point)) {
        return -1;
    }
    const int index = topIndex_ + (point.y() - contents.top()) / LineHeight();
    return LineRect(index).contains(point) ? index : -1;
}

void StatusList::paintEvent(QPaintEvent* event) {
    QFrame::paintEvent(event);
    QPainter painter(this);
    const QRect contents = contentsRect();
    painter.setClipRect(contents);  // long lines are cut at the edge
    painter.setPen(palette().color(QPalette::Text));
    for (int index = topIndex_; index < LineCount(); ++index) {
        const QRect line = LineRect(index);
        if (line.isEmpty()) {
            break;
        }
        painter.drawText(line.adjusted(kTextMargin, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter,
                         lines_[index]);
    }
}

void StatusList::wheelEvent(QWheelEvent* event) {
    // One notch (120) moves three lines, as list boxes do.
    wheelRemainder_ += event->angleDelta().y();
    const int lines = wheelRemainder_ / 120 * 3;
    wheelRemainder_ %= 120;
    topIndex_ = std::clamp(topIndex_ - lines, 0, LastTopIndex());
    update();
    event->accept();
}

void StatusList::resizeEvent(QResizeEvent* event) {
    QFrame::resizeEvent(event);
    ScrollToNewest();
}
