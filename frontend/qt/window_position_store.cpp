#include "window_position_store.h"

#include <QMetaType>
#include <QString>
#include <QVariant>
#include <QWidget>
#include <limits>

namespace {

std::optional<int> ReadInt32(const QSettings& settings, const char* key) {
    const QVariant value = settings.value(QString::fromLatin1(key));
    // Text files hold numbers as text; anything but a plain integer that
    // fits in 32 bits (a list, a fraction, a word) does not count.
    switch (value.typeId()) {
    case QMetaType::QString:
    case QMetaType::QByteArray: {
        bool ok = false;
        const int number = value.toString().trimmed().toInt(&ok, 10);
        return ok ? std::optional<int>(number) : std::nullopt;
    }
    case QMetaType::Int:
        return value.toInt();
    case QMetaType::LongLong: {
        const qlonglong number = value.toLongLong();
        if (number < std::numeric_limits<int>::min() || number > std::numeric_limits<int>::max()) {
            return std::nullopt;
        }
        return static_cast<int>(number);
    }
    default:
        return std::nullopt;
    }
}

}  // namespace

std::optional<QPoint> ReadStoredPosition(const QSettings& settings) {
    const std::optional<int> x = ReadInt32(settings, kXPositionKey);
    const std::optional<int> y = ReadInt32(settings, kYPositionKey);
    if (!x || !y) {
        return std::nullopt;
    }
    return QPoint(*x, *y);
}

void WindowPositionStore::Restore(QWidget& window) {
    settings_ = std::make_unique<QSettings>(QString::fromLatin1(kSettingsOrganization),
                                            QString::fromLatin1(kSettingsApplication));
    if (const std::optional<QPoint> position = ReadStoredPosition(*settings_)) {
        window.move(*position);
    }
}

void WindowPositionStore::Save(QPoint position) {
    if (!settings_) {
        return;
    }
    settings_->setValue(QString::fromLatin1(kXPositionKey), position.x());
    settings_->setValue(QString::fromLatin1(kYPositionKey), position.y());
    settings_->sync();  // failures to write are not reported, as with the registry
    settings_.reset();
}
