// The two programs show the same window. The Windows program's dialog
// template is read from its resource script as the resource compiler reads
// it, and the Linux window must have the same caption, size and controls:
// in the same order, with the same ids, kinds, texts and places in dialog
// units.
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QHash>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QStringList>
#include <optional>
#include <vector>

#include "linux_repair_files.h"
#include "main_window.h"
#include "qt_test_support.h"
#include "status_list.h"
#include "text_encoding.h"

namespace {

// A control as the template has it. Kinds are the dialog classes: Button,
// GroupBox, Static, Edit, ListBox.
struct TemplateControl {
    int id = 0;
    QString kind;
    Qt::Alignment alignment;  // of a Static's text
    QString text;
    ControlPlace place{};
};

struct DialogTemplate {
    QString caption;
    int width = 0;
    int height = 0;
    std::vector<TemplateControl> controls;
};

// Reading the script stops at the first thing it does not understand, with
// the reason, so that the test fails instead of comparing half a template.
class ResourceScript {
public:
    explicit ResourceScript(const QString& path) : folder_(QFileInfo(path).path()) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            error = "cannot read " + path;
            return;
        }
        lines_ = file.readAll().split('\n');
    }

    QString error;

    std::optional<DialogTemplate> Dialog(int wantedId) {
        for (; error.isEmpty() && next_ < lines_.size(); ++next_) {
            const QByteArray line = WithoutComment(lines_[next_]).trimmed();
            if (line.startsWith('#')) {
                ReadDirective(line);
                continue;
            }
            const QList<QByteArray> words = line.simplified().split(' ');
            if (words.size() >= 2 && (words[1] == "DIALOG" || words[1] == "DIALOGEX") &&
                Number(words[0]) == wantedId) {
                return ReadDialog(line.mid(line.indexOf(words[1]) + words[1].size()));
            }
        }
        if (error.isEmpty()) {
            error = QString("no dialog %1 in the script").arg(wantedId);
        }
        return std::nullopt;
    }

private:
    // A field of a statement: a string's bytes, or anything else as written
    // without its blanks.
    struct Field {
        QByteArray bytes;
    };

    static QByteArray WithoutComment(const QByteArray& line) {
        bool inString = false;
        for (qsizetype i = 0; i < line.size(); ++i) {
            if (line[i] == '"') {
                inString = !inString;
            } else if (!inString && line.mid(i, 2) == "//") {
                return line.left(i);
            }
        }
        return line;
    }

    // #pragma code_page sets how the strings that follow are read; the
    // headers it includes in quotes give the symbols.
    void ReadDirective(const QByteArray& line) {
        static const QRegularExpression codePage(R"(^#\s*pragma\s+code_page\s*\(\s*(\d+)\s*\))");
        static const QRegularExpression include(R"(^#\s*include\s+"([^"]+)\")");
        static const QRegularExpression define(R"(^#\s*define\s+(\w+)\s+(-?\d+)\s*$)");
        const QString text = QString::fromLatin1(line);
        if (const auto match = codePage.match(text); match.hasMatch()) {
            codePage_ = match.captured(1).toInt();
        } else if (const auto match = include.match(text); match.hasMatch()) {
            QFile header(folder_ + "/" + match.captured(1));
            // The header the build makes with the version numbers names
            // nothing in the dialog.
            if (match.captured(1) == "version.h") {
                return;
            }
            if (!header.open(QIODevice::ReadOnly)) {
                error = "cannot read " + header.fileName();
                return;
            }
            for (const QByteArray& headerLine : header.readAll().split('\n')) {
                const auto defined = define.match(QString::fromLatin1(headerLine.trimmed()));
                if (defined.hasMatch()) {
                    symbols_.insert(defined.captured(1), defined.captured(2).toInt());
                }
            }
        }
    }

    std::optional<int> Number(const QByteArray& word) const {
        bool isNumber = false;
        const int value = word.toInt(&isNumber, 0);
        if (isNumber) {
            return value;
        }
        const auto symbol = symbols_.constFind(QString::fromLatin1(word));
        return symbol == symbols_.constEnd() ? std::nullopt : std::optional<int>(*symbol);
    }

    int FieldNumber(const std::vector<Field>& fields, std::size_t index) {
        const std::optional<int> value =
            index < fields.size() ? Number(fields[index].bytes) : std::nullopt;
        if (!value) {
            error = QString("no number in field %1 of a statement").arg(index);
        }
        return value.value_or(0);
    }

    QString Text(const Field& field) const {
        if (codePage_ == 65001) {
            return QString::fromUtf8(field.bytes);
        }
        return DecodeWindows1252(field.bytes.constData());  // the compiler's default
    }

    // Splits at the commas outside strings; "" in a string is one quote.
    static std::vector<Field> Fields(const QByteArray& statement) {
        std::vector<Field> fields(1);
        bool inString = false;
        for (qsizetype i = 0; i < statement.size(); ++i) {
            const char c = statement[i];
            if (c == '"') {
                if (inString && statement.mid(i, 2) == "\"\"") {
                    fields.back().bytes += '"';
                    ++i;
                } else {
                    inString = !inString;
                }
            } else if (inString) {
                fields.back().bytes += c;
            } else if (c == ',') {
                fields.emplace_back();
            } else if (c != ' ' && c != '\t' && c != '\r') {
                fields.back().bytes += c;
            }
        }
        return fields;
    }

    std::optional<DialogTemplate> ReadDialog(const QByteArray& rectangle) {
        DialogTemplate dialog;
        const std::vector<Field> size = Fields(rectangle);
        dialog.width = FieldNumber(size, 2);
        dialog.height = FieldNumber(size, 3);
        QList<QByteArray> statements;
        bool inBody = false;
        for (++next_; error.isEmpty() && next_ < lines_.size(); ++next_) {
            const QByteArray line = WithoutComment(lines_[next_]).trimmed();
            if (line.isEmpty()) {
                continue;
            }
            if (!inBody && line.startsWith("CAPTION")) {
                dialog.caption = Text(Fields(line.mid(7)).front());
            } else if (!inBody && line == "BEGIN") {
                inBody = true;
            } else if (inBody && line == "END") {
                for (const QByteArray& statement : statements) {
                    dialog.controls.push_back(ReadControl(statement));
                }
                return error.isEmpty() ? std::optional(dialog) : std::nullopt;
            } else if (inBody) {
                // A statement starts with its keyword, all capitals; the
                // lines that go on with it start with a value or a style
                // (WS_..., a number, a symbol).
                static const QRegularExpression keyword(R"(^[A-Z]+[\s"])");
                if (keyword.match(QString::fromLatin1(line)).hasMatch()) {
                    statements.append(line);
                } else if (!statements.isEmpty()) {
                    statements.back() += ' ' + line;
                }
            }
        }
        error = "the dialog has no END";
        return std::nullopt;
    }

    TemplateControl ReadControl(const QByteArray& statement) {
        const qsizetype space = statement.indexOf(' ');
        const QByteArray keyword = statement.left(space);
        const std::vector<Field> fields = Fields(statement.mid(space + 1));
        TemplateControl control;
        if (keyword == "CONTROL" && fields.size() >= 8) {
            control.text = Text(fields[0]);
            control.id = FieldNumber(fields, 1);
            control.kind = QString::fromLatin1(fields[2].bytes).toLower();
            const QList<QByteArray> styles = fields[3].bytes.split('|');
            if (control.kind == "button" && styles.contains("BS_GROUPBOX")) {
                control.kind = "groupbox";
            }
            if (control.kind == "static") {
                control.alignment = styles.contains("SS_CENTER")  ? Qt::AlignHCenter
                                    : styles.contains("SS_RIGHT") ? Qt::AlignRight
                                                                  : Qt::AlignLeft;
            }
            control.place = Place(fields, 4);
            return control;
        }
        // The script writes every control as CONTROL; this test reads no other form.
        error = "a statement the test does not read: " + QString::fromLatin1(statement);
        return control;
    }

    ControlPlace Place(const std::vector<Field>& fields, std::size_t first) {
        return {FieldNumber(fields, first), FieldNumber(fields, first + 1),
                FieldNumber(fields, first + 2), FieldNumber(fields, first + 3)};
    }

    QString folder_;
    QList<QByteArray> lines_;
    qsizetype next_ = 0;
    int codePage_ = 1252;
    QHash<QString, int> symbols_;
};

QString KindOf(const QWidget* widget) {
    if (qobject_cast<const QGroupBox*>(widget)) {
        return "groupbox";
    }
    if (qobject_cast<const QPushButton*>(widget)) {
        return "button";
    }
    if (qobject_cast<const QLabel*>(widget)) {
        return "static";
    }
    if (qobject_cast<const QLineEdit*>(widget)) {
        return "edit";
    }
    return qobject_cast<const StatusList*>(widget) ? "listbox" : "unknown";
}

QString TextOf(const QWidget* widget) {
    if (const auto* group = qobject_cast<const QGroupBox*>(widget)) {
        return group->title();
    }
    if (const auto* button = qobject_cast<const QPushButton*>(widget)) {
        return button->text();
    }
    if (const auto* label = qobject_cast<const QLabel*>(widget)) {
        return label->text();
    }
    const auto* edit = qobject_cast<const QLineEdit*>(widget);
    return edit != nullptr ? edit->text() : QString();
}

Qt::Alignment AlignmentOf(const QWidget* widget) {
    const auto* label = qobject_cast<const QLabel*>(widget);
    return label != nullptr ? label->alignment() & Qt::AlignHorizontal_Mask : Qt::Alignment();
}

// One line per control, so that a difference names the control and shows
// both sides.
QString Describe(int id, const QString& kind, Qt::Alignment alignment, const QString& text,
                 const QRect& pixels) {
    return QString("id %1 %2 (alignment %3) \"%4\" at %5,%6 size %7x%8")
        .arg(id)
        .arg(kind)
        .arg(static_cast<int>(alignment))
        .arg(text)
        .arg(pixels.x())
        .arg(pixels.y())
        .arg(pixels.width())
        .arg(pixels.height());
}

}  // namespace

class WindowAgreementTest : public QObject {
    Q_OBJECT

private slots:
    void linuxWindowIsTheWindowsDialog();
};

void WindowAgreementTest::linuxWindowIsTheWindowsDialog() {
    ResourceScript script(QStringLiteral(VELMORA_RESOURCE_SCRIPT));
    const std::optional<DialogTemplate> dialog = script.Dialog(IDD_MAIN);
    QVERIFY2(dialog.has_value(), qPrintable(script.error));

    // The window as it is built, before start-up fills in the postfix.
    LinuxRepairFiles files;
    ScriptedChooser chooser;
    MainWindow window(files, chooser);
    const DialogBaseUnits& units = window.LayoutUnits();
    QCOMPARE(window.windowTitle(), dialog->caption);
    QCOMPARE(window.size(), DialogSizeToPixels(units, dialog->width, dialog->height));

    // Places are compared in the window's pixels: each dialog unit is at
    // least one pixel, so a unit's difference shows.
    QStringList built;
    for (const WindowControl& control : kWindowControls) {
        const auto* widget = window.findChild<QWidget*>(control.objectName);
        QVERIFY2(widget != nullptr, control.objectName);
        built << Describe(control.id, KindOf(widget), AlignmentOf(widget), TextOf(widget),
                          widget->geometry());
    }
    QStringList templated;
    for (const TemplateControl& control : dialog->controls) {
        const ControlPlace& place = control.place;
        templated << Describe(
            control.id, control.kind, control.alignment, control.text,
            DialogRectToPixels(units, place.x, place.y, place.width, place.height));
    }
    QCOMPARE(built, templated);
}

VELMORA_QTEST_MAIN(WindowAgreementTest)
#include "window_agreement_test.moc"
