#include "status_list_accessible.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QHash>
#include <QPointer>
#include <utility>

#include "status_list.h"

namespace {

// One line. Lines are never removed, so a line's index stays its place.
class StatusLineAccessible final : public QAccessibleInterface {
public:
    StatusLineAccessible(StatusList* list, int index) : list_(list), index_(index) {}

    const StatusList* List() const { return list_; }
    int Index() const { return index_; }

    bool isValid() const override { return list_ != nullptr && index_ < list_->LineCount(); }
    QObject* object() const override { return nullptr; }
    QWindow* window() const override {
        return list_ != nullptr ? list_->window()->windowHandle() : nullptr;
    }
    QAccessibleInterface* parent() const override {
        return list_ != nullptr ? QAccessible::queryAccessibleInterface(list_) : nullptr;
    }
    QAccessibleInterface* child(int /*index*/) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface* /*child*/) const override { return -1; }
    QAccessibleInterface* childAt(int /*x*/, int /*y*/) const override { return nullptr; }

    QString text(QAccessible::Text kind) const override {
        return kind == QAccessible::Name && isValid() ? list_->Line(index_) : QString();
    }
    void setText(QAccessible::Text /*kind*/, const QString& /*text*/) override {}
    QAccessible::Role role() const override { return QAccessible::ListItem; }

    // On the screen; empty while the line is scrolled out of view.
    QRect rect() const override {
        const QRect line = isValid() ? list_->LineRect(index_) : QRect();
        return line.isEmpty() ? QRect() : QRect(list_->mapToGlobal(line.topLeft()), line.size());
    }

    QAccessible::State state() const override {
        QAccessible::State state;
        state.readOnly = true;
        state.invisible = list_ == nullptr || !list_->isVisible();
        state.offscreen = rect().isEmpty();
        return state;
    }

private:
    QPointer<StatusList> list_;
    int index_;
};

class StatusListAccessible final : public QAccessibleWidget {
public:
    explicit StatusListAccessible(StatusList* list) : QAccessibleWidget(list, QAccessible::List) {}

    ~StatusListAccessible() override {
        for (const QAccessible::Id id : std::as_const(lineIds_)) {
            QAccessible::deleteAccessibleInterface(id);
        }
    }

    int childCount() const override { return List()->LineCount(); }

    // Made when first asked for and kept, so that a line keeps its identity
    // on the bus; only the lines a client has asked for cost anything.
    QAccessibleInterface* child(int index) const override {
        if (index < 0 || index >= List()->LineCount()) {
            return nullptr;
        }
        if (const auto known = lineIds_.constFind(index); known != lineIds_.cend()) {
            if (QAccessibleInterface* line = QAccessible::accessibleInterface(*known)) {
                return line;
            }
        }
        auto* line = new StatusLineAccessible(List(), index);
        lineIds_.insert(index, QAccessible::registerAccessibleInterface(line));
        return line;
    }

    int indexOfChild(const QAccessibleInterface* child) const override {
        const auto* line = dynamic_cast<const StatusLineAccessible*>(child);
        return line != nullptr && line->List() == List() && line->isValid() ? line->Index() : -1;
    }

    // Asks the list instead of every line's rectangle: it may hold many.
    QAccessibleInterface* childAt(int x, int y) const override {
        return child(List()->IndexAt(List()->mapFromGlobal(QPoint(x, y))));
    }

    void AnnounceLine(int index) const {
        if (QAccessibleInterface* line = child(index)) {
            // What the AT-SPI bridge passes on as a new child of the list.
            QAccessibleEvent created(line, QAccessible::ObjectCreated);
            QAccessible::updateAccessibility(&created);
        }
    }

private:
    StatusList* List() const { return static_cast<StatusList*>(widget()); }

    mutable QHash<int, QAccessible::Id> lineIds_;
};

QAccessibleInterface* MakeStatusListAccessible(const QString& className, QObject* object) {
    if (className != QLatin1String(StatusList::staticMetaObject.className())) {
        return nullptr;
    }
    auto* list = qobject_cast<StatusList*>(object);
    return list != nullptr ? new StatusListAccessible(list) : nullptr;
}

}  // namespace

void InstallStatusListAccessibility() {
    static const bool installed = [] {
        QAccessible::installFactory(MakeStatusListAccessible);
        return true;
    }();
    static_cast<void>(installed);
}

void AnnounceNewLine(StatusList& list, int index) {
    // Only while a screen reader is on the bus: Qt passes the event on only
    // then, and the announcement makes the line's interface, which is kept.
    if (!QAccessible::isActive()) {
        return;
    }
    if (const auto* listInterface =
            dynamic_cast<StatusListAccessible*>(QAccessible::queryAccessibleInterface(&list))) {
        listInterface->AnnounceLine(index);
    }
}
