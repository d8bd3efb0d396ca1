// A group box drawn as on Windows: the frame's top line runs through the
// middle of the title, so the controls placed for that look fit inside it.
#pragma once

#include <QGroupBox>

class FrameGroupBox final : public QGroupBox {
    Q_OBJECT

public:
    FrameGroupBox(const QString& title, QWidget* parent);

protected:
    void paintEvent(QPaintEvent* event) override;
};
