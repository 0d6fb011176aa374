// The tag panel: the stream's format, the tag texts and the cover art of the
// playing file (while stopped, of the selected entry). The texts are
// read-only (nothing writes tags back to the file) but can be selected and
// copied.
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>

#include "app/form1.h"

namespace wl {

namespace {

// The art's box beside the tag fields.
constexpr int kArtLeft = 262, kArtTop = 32, kArtSize = 88;
constexpr int kFieldWidth = 146;

}  // namespace

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
        edit->setGeometry(110, y, kFieldWidth, 18);
        edit->setStyleSheet(editStyle);
        edit->setReadOnly(true);
        label->setBuddy(edit);
        *field.edit = edit;
        y += 20;
    }

    ArtImage = new QLabel(Panel17);
    ArtImage->setObjectName(QStringLiteral("ArtImage"));
    ArtImage->setGeometry(kArtLeft, kArtTop, kArtSize, kArtSize);
    ArtImage->setAlignment(Qt::AlignCenter);
    ArtImage->setStyleSheet(QStringLiteral("QLabel { background: transparent; }"));
    ArtLoader = new TArtLoader(this);
    connect(ArtLoader, &TArtLoader::Loaded, this, [this](const TArtAnswer& answer) { ShowArtAnswer(answer); });
}

void TForm1::ShowArtOf(const TEntryFacts& facts) {
    ArtSource = facts.Source;
    if (!ArtImage) return;
    if (facts.ArtPath.isEmpty()) {
        ArtLoader->Request({});  // outdates any answer still coming
        ArtImage->clear();
        return;
    }
    ArtLoader->Request({facts.Source, facts.ArtPath, false, false, ArtImage->size(), ArtImage->devicePixelRatioF()});
}

void TForm1::ShowSelectedEntry() {
    if (!ArtImage || !sg1 || Controller->State() != TPlayState::Stopped) return;
    const int row = CurrentListRow();
    const QString path = row >= 0 && row < Playlist.Rows() ? Playlist.Path(row) : QString();
    if (path == ArtSource) return;  // already on show
    ArtSource = path;
    if (Edit7) Edit7->clear();
    if (path.isEmpty() || IsStreamUrl(path)) {
        // A station has no tags or art before it plays.
        ArtLoader->Request({});
        ArtImage->clear();
        for (QLineEdit* edit : {Edit1, Edit2, Edit3, Edit4, Edit5, Edit6, Edit8}) {
            if (edit) edit->clear();
        }
        return;
    }
    ArtLoader->Request({path, {}, true, true, ArtImage->size(), ArtImage->devicePixelRatioF()});
}

void TForm1::ShowArtAnswer(const TArtAnswer& answer) {
    if (answer.Ticket != ArtLoader->LatestTicket() || !ArtImage) return;
    if (answer.Image.isNull()) {
        ArtImage->clear();
    } else {
        ArtImage->setPixmap(QPixmap::fromImage(answer.Image));
    }
    if (!answer.HasTags) return;
    const TPanelTags& t = answer.Tags;
    const std::pair<QLineEdit*, const QString*> tags[] = {
        {Edit1, &t.Artist}, {Edit2, &t.Title}, {Edit4, &t.Album}, {Edit3, &t.Comment},
        {Edit5, &t.Year},   {Edit6, &t.Genre}, {Edit8, &t.Track},
    };
    for (const auto& [edit, text] : tags) {
        if (edit) edit->setText(*text);
    }
}

}  // namespace wl
