// The tag panel: the stream's format and the tag texts of the playing file.
// The texts are read-only (nothing writes tags back to the file) but can be
// selected and copied.
#include <QLabel>
#include <QLineEdit>

#include "app/form1.h"

namespace wl {

void TForm1::BuildTagPanel() {
    const QString labelStyle = QStringLiteral("QLabel { color: #428AAA; background: transparent; font-size: 11px; }");
    const QString editStyle = QStringLiteral(
        "QLineEdit { background: black; color: #9CC8E0; border: 1px solid #22384A; font-size: 11px; }");

    TagHeading = new QLabel(QStringLiteral("ID3 Infos"), Panel17);
    TagHeading->setObjectName(QStringLiteral("TagHeading"));
    TagHeading->setGeometry(20, 8, 80, 18);
    TagHeading->setStyleSheet(QStringLiteral("QLabel { color: #428AAA; background: transparent; font-weight: bold; }"));

    Edit7 = new QLineEdit(Panel17);
    Edit7->setObjectName(QStringLiteral("Edit7"));
    Edit7->setGeometry(110, 8, 240, 18);
    Edit7->setStyleSheet(editStyle);
    Edit7->setReadOnly(true);

    struct Field {
        const char* caption;
        QLineEdit** edit;
        const char* name;
    };
    const Field fields[] = {
        {"Artist:", &Edit1, "Edit1"}, {"Title:", &Edit2, "Edit2"}, {"Album:", &Edit4, "Edit4"},
        {"Comment:", &Edit3, "Edit3"}, {"Year:", &Edit5, "Edit5"}, {"Genre:", &Edit6, "Edit6"},
        {"Track:", &Edit8, "Edit8"},
    };
    int y = 32;
    for (const Field& field : fields) {
        auto* label = new QLabel(QString::fromLatin1(field.caption), Panel17);
        label->setGeometry(20, y, 80, 18);
        label->setStyleSheet(labelStyle);
        auto* edit = new QLineEdit(Panel17);
        edit->setObjectName(QString::fromLatin1(field.name));
        edit->setGeometry(110, y, 240, 18);
        edit->setStyleSheet(editStyle);
        edit->setReadOnly(true);
        label->setBuddy(edit);
        *field.edit = edit;
        y += 20;
    }
}

}  // namespace wl
