#include "window_controls.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QValidator>

#include "frame_group_box.h"
#include "status_list.h"
#include "text_encoding.h"

namespace {

// The space a line edit keeps on each side of its text, besides its frame.
constexpr int kLineEditTextPadding = 3;

QLabel* MakeStaticText(QWidget* parent, const QString& text, Qt::Alignment horizontal) {
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    label->setAlignment(horizontal | Qt::AlignTop);
    return label;
}

QGroupBox* MakeGroupBox(QWidget* parent, const QString& title) {
    auto* group = new FrameGroupBox(title, parent);
    group->setFocusPolicy(Qt::NoFocus);
    return group;
}

QPushButton* MakePushButton(QWidget* parent, const QString& caption) {
    auto* button = new QPushButton(caption, parent);
    // Enter presses the button that has the focus, and nothing else.
    button->setAutoDefault(true);
    button->setFocusPolicy(Qt::StrongFocus);
    return button;
}

// Stops typing once the text fills the field, as an edit control that does
// not scroll does: the postfix field has no length limit of its own.
class FieldWidthValidator final : public QValidator {
public:
    explicit FieldWidthValidator(QLineEdit* field) : QValidator(field), field_(field) {}

    State validate(QString& input, int& /*position*/) const override {
        const QMargins margins = field_->textMargins();
        const int room = field_->contentsRect().width() - margins.left() - margins.right() -
                         2 * kLineEditTextPadding;
        return field_->fontMetrics().horizontalAdvance(input) <= room ? Acceptable : Invalid;
    }

private:
    QLineEdit* field_;
};

QLineEdit* MakeEdit(QWidget* parent, bool readOnly) {
    auto* edit = new QLineEdit(parent);
    edit->setFocusPolicy(Qt::StrongFocus);
    if (readOnly) {
        edit->setReadOnly(true);
    } else {
        edit->setValidator(new FieldWidthValidator(edit));
    }
    return edit;
}

QWidget* MakeWidget(QWidget* parent, WindowControlKind kind, const QString& text) {
    switch (kind) {
    case WindowControlKind::Button:
        return MakePushButton(parent, text);
    case WindowControlKind::DisabledButton: {
        QPushButton* button = MakePushButton(parent, text);
        button->setEnabled(false);
        return button;
    }
    case WindowControlKind::StatusList:
        return new StatusList(parent);
    case WindowControlKind::GroupBox:
        return MakeGroupBox(parent, text);
    case WindowControlKind::Label:
        return MakeStaticText(parent, text, Qt::AlignLeft);
    case WindowControlKind::CenteredLabel:
        return MakeStaticText(parent, text, Qt::AlignHCenter);
    case WindowControlKind::Edit:
        return MakeEdit(parent, false);
    case WindowControlKind::ReadOnlyEdit:
        return MakeEdit(parent, true);
    }
    return new QWidget(parent);
}

}  // namespace

QWidget* CreateWindowControl(QWidget* parent, const WindowControl& control) {
    QWidget* widget = MakeWidget(parent, control.kind, DecodeWindows1252(control.text));
    widget->setObjectName(QString::fromLatin1(control.name));
    return widget;
}
