// The status list: a framed list of text lines that are never selected,
// never cleared, and scrolled after each new line so that the newest one is
// in view. It draws only the lines it shows, so a line costs as much to add
// at the 100,000th line as at the first; an item view would lay out every
// line again on each insertion. A screen reader sees it as a list of its
// lines (status_list_accessible.h).
#pragma once

#include <QFrame>
#include <QStringList>

class StatusList final : public QFrame {
    Q_OBJECT

public:
    explicit StatusList(QWidget* parent);

    // Adds the line at the end and scrolls: the newest line becomes the top
    // line if the list can scroll that far, else it scrolls as far as it goes.
    void AppendLine(const QString& line);

    int LineCount() const { return static_cast<int>(lines_.size()); }
    QString Line(int index) const { return lines_.value(index); }
    // The first line shown.
    int TopIndex() const { return topIndex_; }
    // Where the line is drawn, in the list's coordinates; empty when the
    // line is scrolled out of view.
    QRect LineRect(int index) const;
    // The line drawn at point, in the list's coordinates; -1 where none is.
    int IndexAt(QPoint point) const;

signals:
    void lineAdded(int index);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    // The wheel scrolls back through earlier lines; the next new line
    // brings the newest into view again.
    void wheelEvent(QWheelEvent* event) override;

private:
    int LineHeight() const;
    int WholeLinesShown() const;
    void ScrollToNewest();
    int LastTopIndex() const;

    QStringList lines_;
    int topIndex_ = 0;
    int wheelRemainder_ = 0;
};
