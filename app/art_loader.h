// Reads what the tag panel shows of an entry off the window's thread: the
// cover art (looked up, or the picture file already known) scaled to the
// panel's box for its device pixel ratio and, for an entry that is not
// playing, its tags. Only the latest request's answer counts: Loaded carries
// its ticket, and the receiver drops older ones.
#pragma once

#include <QImage>
#include <QObject>
#include <QSize>
#include <QString>
#include <QThreadPool>

#include <cstdint>

namespace wl {

struct TPanelTags {
    QString Artist, Title, Album, Comment, Year, Genre, Track;
};

struct TArtRequest {
    QString Source;     // the entry's file
    QString ArtPath;    // its picture file when known
    bool LookUpArt = false;  // find the picture file for Source (ArtPath empty)
    bool ReadTags = false;
    QSize Box;          // the art's box in device-independent pixels
    qreal PixelRatio = 1;
};

struct TArtAnswer {
    uint64_t Ticket = 0;
    QString Source;
    QString ArtPath;
    QImage Image;  // scaled into Box * PixelRatio, aspect kept; null when none
    bool HasTags = false;
    TPanelTags Tags;
};

// The art's picture scaled into `box` device-independent pixels at
// `pixelRatio`, aspect kept, for drawing crisp at that ratio; null when the
// file is not an image.
QImage LoadScaledArt(const QString& path, QSize box, qreal pixelRatio);

class TArtLoader : public QObject {
    Q_OBJECT
public:
    explicit TArtLoader(QObject* parent = nullptr);
    // Waits for the request being read (at most one file's read).
    ~TArtLoader() override;

    uint64_t Request(const TArtRequest& request);
    uint64_t LatestTicket() const { return ticket_; }
    // Tests: true once no request is being read.
    bool Idle() const { return pool_.activeThreadCount() == 0; }

signals:
    void Loaded(const wl::TArtAnswer& answer);

private:
    QThreadPool pool_;
    uint64_t ticket_ = 0;
};

}  // namespace wl
