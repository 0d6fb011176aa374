// The display: title strip, times, clock, counters, level meters, seek and
// volume bars, state image, indicators and the status line.
#include <QBackingStore>
#include <QDateTime>
#include <QFontMetrics>
#include <QLabel>
#include <QPainter>
#include <QTime>
#include <QTimer>
#include <QWindow>

#include <algorithm>
#include <ctime>
#include <limits>
#include <numeric>

#include "app/canvas_image.h"
#include "app/form1.h"
#include "app/sound_out_level_source.h"
#include "app/scramble.h"
#include "app/vu_bar.h"
#include "controls/al_progress_bar.h"
#include "controls/ex_track_bar.h"
#include "controls/vu_meter.h"
#include "engine/audio_device.h"

namespace wl {

namespace {

constexpr int kStripWidth = 298;
constexpr int kStripHeight = 17;
constexpr int kScrollRest = 40;  // meter ticks at each end
constexpr int kSeekRange = 200;
constexpr TColor kTitleColor = 0xFFFF00;

static_assert(kVuPixels == 41 * 81, "meter bitmaps in form1.h");

QFont DisplayFont(int pixelSize, bool bold = false) {
    QFont f(QStringLiteral("DejaVu Sans"));
    f.setStyleHint(QFont::SansSerif);
    f.setPixelSize(pixelSize);
    f.setBold(bold);
    return f;
}

QFont TimeFont() {
    QFont f(QStringLiteral("DejaVu Sans Mono"));
    f.setStyleHint(QFont::Monospace);
    f.setFixedPitch(true);
    f.setPixelSize(17);
    f.setBold(true);
    return f;
}

QFont TitleFont(bool bold) { return DisplayFont(12, bold); }

// Called for every position report and clock second: built by hand, as
// QString::arg looks up the locale each time.
QString TwoDigits(int64_t v) {
    if (v < 0 || v > 99) return QString::number(v);
    const char digits[2] = {static_cast<char>('0' + v / 10), static_cast<char>('0' + v % 10)};
    return QString::fromLatin1(digits, 2);
}

// A mono/stereo lamp: a block in its text colour, so that it takes the
// colour the way every display text does (SetTextColor).
class TLamp : public QLabel {
public:
    using QLabel::QLabel;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.fillRect(rect(), palette().color(QPalette::WindowText));
    }
};

bool LampLit(const QLabel* lamp) {
    return lamp && lamp->palette().color(QPalette::WindowText) == ColorToQColor(kLampLitColor);
}

// Copies a meter bitmap into the meter's image (opaque pixels); returns the
// band of rows that changed, in the image's coordinates (empty if none did).
// A moving bar changes a few rows a frame: only those go to the screen.
QRect CopyMeter(const std::array<uint32_t, kVuPixels>& bitmap, TImage* image) {
    auto* canvas = static_cast<TCanvasImage*>(image);
    if (!canvas || canvas->Canvas.size() != QSize(kVuWidth, kVuHeight)) return {};
    int top = kVuHeight, bottom = -1;
    for (int y = 0; y < kVuHeight; ++y) {
        auto* dst = reinterpret_cast<uint32_t*>(canvas->Canvas.scanLine(y));
        const uint32_t* src = bitmap.data() + static_cast<size_t>(y) * kVuWidth;
        bool changed = false;
        for (int x = 0; x < kVuWidth; ++x) {
            const uint32_t pixel = src[x] | 0xFF000000u;
            changed |= dst[x] != pixel;
            dst[x] = pixel;
        }
        if (changed) {
            top = std::min(top, y);
            bottom = y;
        }
    }
    return bottom < 0 ? QRect() : QRect(0, top, kVuWidth, bottom - top + 1);
}

}  // namespace

void TForm1::BuildDisplay() {
    if (!Panel1) {
        Panel1 = new QWidget(this);
        Panel1->setGeometry(20, 20, 330, 125);
    }
    Panel1->setAutoFillBackground(true);
    QPalette black = Panel1->palette();
    black.setColor(QPalette::Window, Qt::black);
    Panel1->setPalette(black);

    auto text = [this](int x, int y, int w, int h, const QString& caption, const QFont& font) {
        auto* label = new TImage(Panel1);
        label->setGeometry(x, y, w, h);
        label->setFont(font);
        label->setText(caption);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        SetTextColor(label, LitTextColor());
        return label;
    };
    auto* strip = new TCanvasImage(Panel1);
    strip->setGeometry(8, 6, kStripWidth, kStripHeight);
    Image1 = strip;
    Label7 = text(127, 30, 86, 21, QStringLiteral("00:00"), TimeFont());
    Label8 = text(130, 51, 80, 15, QStringLiteral("00:00"), DisplayFont(11));
    Label5 = text(8, 31, 110, 15, QStringLiteral("00:00:00"), DisplayFont(11));
    Label2 = text(8, 51, 118, 15, QStringLiteral("0 - 0"), DisplayFont(11));
    Label6 = text(8, 71, 158, 15, QStringLiteral("000kbps, 00khz"), DisplayFont(11));
    Label10 = text(8, 91, 158, 15, StatusText, DisplayFont(11));  // ends before the state picture
    LabelL = text(215, 28, 41, 12, QStringLiteral("L"), DisplayFont(10, true));
    LabelR = text(268, 28, 41, 12, QStringLiteral("R"), DisplayFont(10, true));
    LabelL->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    LabelR->setAlignment(Qt::AlignHCenter | Qt::AlignTop);

    ALProgressBar1 = new TALProgressBar(Panel1);
    ALProgressBar1->setGeometry(8, 108, 201, 11);
    ALProgressBar1->SetMin(0);
    ALProgressBar1->SetMax(kSeekRange);
    ALProgressBar1->SetBarColorStyle(TBarColorStyle::cs1Color);
    ALProgressBar1->SetShowPosText(false);
    ALProgressBar1->SetBackgroundColor(0x1C1000);
    ALProgressBar1->SetBorderColor1(0x1C1000);
    ALProgressBar1->SetBorderColor2(0x1C1000);
    ALProgressBar1->SetBarColor1(LitTextColor());
    ALProgressBar1->setCursor(Qt::PointingHandCursor);
    ALProgressBar1->OnMouseUp = [this](TALProgressBar*, Qt::MouseButton button, Qt::KeyboardModifiers, int x, int) {
        SeekBarRelease(button, x);
    };
    ALProgressBar1->OnMouseMove = [this](TALProgressBar*, Qt::KeyboardModifiers, int, int) {
        SetStatus(QStringLiteral("Position %1%").arg(RoundDiv(ALProgressBar1->Position(), 2)));
    };

    auto meter = [this](int x) {
        auto* image = new TCanvasImage(Panel1);
        image->setGeometry(x, 41, kVuWidth, kVuHeight);
        image->Canvas = QImage(kVuWidth, kVuHeight, QImage::Format_RGB32);
        image->Canvas.fill(Qt::black);
        image->setCursor(Qt::PointingHandCursor);
        image->OnClick = [this] {
            StripedVu = !StripedVu;
            WakeMeterTick();
        };
        return image;
    };
    Image3 = meter(215);
    Image4 = meter(268);

    for (QLabel** lamp : {&Label9, &Label4}) {
        *lamp = new TLamp(Panel1);
        SetTextColor(*lamp, kUnlitColor);
    }
    Label9->setGeometry(259, 106, 6, 5);
    Label4->setGeometry(259, 114, 6, 5);

    Image20 = new TImage(Panel1);
    Image20->setGeometry(168, 94, 40, 9);
    Image29 = new TImage(Panel1);
    Image29->setGeometry(168, 74, 12, 9);
    Image32 = new TImage(Panel1);
    Image32->setGeometry(183, 74, 12, 9);
    Image35 = new TImage(Panel1);
    Image35->setGeometry(198, 74, 12, 9);

    ExTrackBar1 = new TExTrackBar(Panel1);
    ExTrackBar1->SetOrientation(TTrackBarOrientation::trVertical);
    ExTrackBar1->SetMin(0);
    ExTrackBar1->SetMax(100);
    ExTrackBar1->SetShowSelRange(false);
    ExTrackBar1->SetThumbLength(12);
    ExTrackBar1->SetTickStyle(TTickStyle::tsNone);
    ExTrackBar1->setGeometry(313, 6, 14, 114);
    ExTrackBar1->setFocusPolicy(Qt::NoFocus);
    ExTrackBar1->setCursor(Qt::PointingHandCursor);
    QPalette bar = ExTrackBar1->palette();
    bar.setColor(QPalette::Window, Qt::black);
    bar.setColor(QPalette::Button, ColorToQColor(0x6A4A22));
    bar.setColor(QPalette::Highlight, ColorToQColor(0x3A2200));
    ExTrackBar1->setPalette(bar);
    ExTrackBar1->OnChange = [this](TExTrackBar*) { ExTrackBar1Change(); };

    Vumeter1 = new TVumeter(this);
    Vumeter1->SetLevelSource(std::make_unique<TSoundOutLevelSource>([this] { return Controller->Output(); }));

    // The frame connects the timers to the ticks and starts them.
    Timer1->setInterval(40);
    Timer3->setInterval(kClockTickMs);

    // Hover texts.
    SetHover(Image1, [] { return QStringLiteral("Filename"); });
    SetHover(Label5, [] { return QStringLiteral("Computer time"); });
    SetHover(Label8, [] { return QStringLiteral("Song time"); });
    SetHover(Label7, [] { return QStringLiteral("Current time"); });
    SetHover(Image3, [] { return QStringLiteral("Left VUmeter"); });
    SetHover(Image4, [] { return QStringLiteral("Right VUmeter"); });
    SetHover(Label2, [] { return QStringLiteral("Song #-all"); });
    SetHover(Label6, [] { return QStringLiteral("Rate, sampling"); });
    Image1->OnDblClick = [this] { showMinimized(); };
    // The lamps are too small to hover reliably: a strip over both carries the text.
    auto* lamps = new TImage(Panel1);
    lamps->setGeometry(257, 104, 10, 16);
    SetHover(lamps, [this] {
        return LampLit(Label4) ? QStringLiteral("Stereo song") : QStringLiteral("Mono song");
    });

    DrawMeters();
}

void TForm1::SetHover(QWidget* widget, std::function<QString()> text) {
    auto* image = qobject_cast<TImage*>(widget);
    if (!image) return;
    image->OnEnter = [this, text = std::move(text)] { SetStatus(text()); };
}

int64_t TForm1::RoundDiv(int64_t a, int64_t b) {
    if (b == 0) return 0;
    if (b < 0) {
        a = -a;
        b = -b;
    }
    int64_t q = a / b;
    const int64_t r = a % b;
    const int64_t twice = (r < 0 ? -r : r) * 2;
    const int64_t step = a < 0 ? -1 : 1;
    if (twice > b || (twice == b && q % 2 != 0)) q += step;
    return q;
}

void TForm1::FormatTime(int64_t ms) {
    QString text;
    if (ms < 0) {
        text = QStringLiteral("-");
        ms = ms == std::numeric_limits<int64_t>::min() ? std::numeric_limits<int64_t>::max() : -ms;
    }
    const int64_t h = ms / 3600000;
    const int64_t m = ms % 3600000 / 60000;
    const int64_t s = ms % 60000 / 1000;
    // Ten hours and more show only minutes and seconds.
    if (h >= 1 && h <= 9) text += QString::number(h) + QLatin1Char(':');
    text += TwoDigits(m) + QLatin1Char(':') + TwoDigits(s);
    TimeText = text;
}

void TForm1::MP3PlayerChangePosition(int64_t position, int64_t length) {
    // Something plays or has stopped: the meters have work. (A pause, which
    // holds its level, reports its position too.)
    if (Controller->State() != TPlayState::Paused) WakeMeterTick();
    ShowPosition(position, length);
}

void TForm1::ShowPosition(int64_t position, int64_t length) {
    FormatTime(Settings.TimeRemaining ? position - length : position);
    if (Label7 && Label7->text() != TimeText) Label7->setText(TimeText);  // repainted only when the second changes
    if (length > 0 && ALProgressBar1) ALProgressBar1->SetPosition(static_cast<int>(RoundDiv(position * kSeekRange, length)));
}

void TForm1::SeekBarRelease(Qt::MouseButton button, int x) {
    if (button != Qt::LeftButton || !ALProgressBar1) return;
    const int64_t length = Controller->LengthMs();
    if (length <= 0 || Controller->State() == TPlayState::Stopped) return;
    // A release dragged off the bar seeks to its nearer end.
    const int width = std::max(ALProgressBar1->width(), 1);
    x = std::clamp(x, 0, width);
    const int64_t target = length * x / width;
    Controller->Seek(target);
    ClearMeterHistory();
    ALProgressBar1->SetPosition(static_cast<int>(RoundDiv(target * kSeekRange, length)));
    SetStatus(QStringLiteral("Position %1%").arg(RoundDiv(ALProgressBar1->Position(), 2)));
}

void TForm1::Timer1Timer() {
    const int n = Settings.FastVuMeters ? 4 : 10;
    MeterTicks = MeterTicks >= 65535 ? 0 : MeterTicks + 1;
    if (ScrollPause > 0) --ScrollPause;

    int left = 0, right = 0;
    if (Vumeter1) {
        Vumeter1->Read();
        left = Vumeter1->LeftPeak();
        right = Vumeter1->RightPeak();
    }
    std::move(HistoryL.begin() + 1, HistoryL.end(), HistoryL.begin());
    std::move(HistoryR.begin() + 1, HistoryR.end(), HistoryR.begin());
    HistoryL.back() = left;
    HistoryR.back() = right;
    LevelR = std::accumulate(HistoryR.end() - n, HistoryR.end(), 0) / n;
    LevelL = std::accumulate(HistoryL.end() - n, HistoryL.end(), 0) / n;
    DrawMeters();

    if (MeterTicks % 2 == 0 && ScrollPause == 0 && ScrollOn) ScrollTitle();
    if (Panel3 && Panel3->isVisibleTo(this)) AboutTick();
    RideClockTick();
    ParkMeterTickIfIdle();
}

bool TForm1::MeterTickHasWork() const {
    if (Controller->Playing()) return true;
    if (ScrollOn || (Panel3 && Panel3->isVisibleTo(this))) return true;
    // Nothing plays: once the readings stand still (silence, or a pause
    // holding its last level) and no peak marker is left above a bar, every
    // further tick would draw the same bars.
    const auto steady = [](const std::array<int, 10>& history, int level) {
        return std::all_of(history.begin(), history.end(), [level](int v) { return v == level; });
    };
    if (!steady(HistoryL, LevelL) || !steady(HistoryR, LevelR)) return true;
    const bool peak = Settings.PeakLevel != 0;
    const TDrawnMeter left{VuRows(LevelL), 0, Settings.VuColor, StripedVu, peak};
    const TDrawnMeter right{VuRows(LevelR), 0, Settings.VuColor, StripedVu, peak};
    return !(drawnL_ == left) || !(drawnR_ == right);
}

void TForm1::ParkMeterTickIfIdle() {
    if (!Timer1 || !Timer1->isActive() || MeterTickHasWork()) return;
    Timer1->stop();
    meterTickParked_ = true;
    // The clock tick no longer rides on it (at rest it catches up by itself).
    if (Timer3 && Timer3->isActive() && !ClockAtRest()) Timer3->setInterval(kClockTickMs);
}

// While the meter tick runs, the clock tick rides on it (one wake-up fewer
// each time): at rest on the first meter tick of each new second, at most one
// tick late, otherwise on every fifth. Its own timer then falls behind, so
// that it fires only once the meter tick parks. A stopped clock timer stays off.
void TForm1::RideClockTick() {
    if (!Timer3 || !Timer3->isActive() || !Timer1) return;
    if (ClockAtRest()) {
        if (ClockSource || std::time(nullptr) == lastClockRead_) return;
    } else if (++clockRideTicks_ < kClockTickMs / Timer1->interval()) {
        return;
    }
    clockRideTicks_ = 0;
    ClockTick();
    if (!ClockAtRest()) Timer3->start(kClockTickMs + kClockBehindMeterMs);
}

void TForm1::WakeMeterTick() {
    if (!Timer1 || !meterTickParked_) return;
    meterTickParked_ = false;
    Timer1->start();
}

void TForm1::DrawMeters() {
    const uint32_t color = Settings.VuColor;
    const bool peak = Settings.PeakLevel != 0;
    QRect changedL, changedR;  // in each image's coordinates
    TPeakState right{PeakRowR, PeakAgeR};
    DrawVuBar(BitmapR.data(), LevelR, right, color, StripedVu, peak);
    PeakRowR = right.Row;
    PeakAgeR = right.Age;
    const TDrawnMeter r{VuRows(LevelR), peak && right.Row > VuRows(LevelR) ? right.Row : 0, color, StripedVu, peak};
    if (!(r == drawnR_)) {
        changedR = CopyMeter(BitmapR, Image4);
        drawnR_ = r;
    }
    TPeakState left{PeakRowL, PeakAgeL};
    DrawVuBar(BitmapL.data(), LevelL, left, color, StripedVu, peak);
    PeakRowL = left.Row;
    PeakAgeL = left.Age;
    const TDrawnMeter l{VuRows(LevelL), peak && left.Row > VuRows(LevelL) ? left.Row : 0, color, StripedVu, peak};
    if (!(l == drawnL_)) {
        changedL = CopyMeter(BitmapL, Image3);
        drawnL_ = l;
    }
    if (!changedL.isEmpty() || !changedR.isEmpty()) ShowMeters(changedL, changedR);
}

// Puts the changed rows of both meters on screen at once, in one hand-over
// to the display (queued updates would cost the tick a second pass of the
// event loop). The meter images are opaque and nothing covers them, so the
// rows go straight into the window's backing store: a repaint through the
// display panel would skip them (Qt leaves opaque children out of a
// parent's repaint), and one through each image costs a widget repaint pass
// per frame. A window that is not on screen gets plain updates.
void TForm1::ShowMeters(const QRect& left, const QRect& right) {
    const std::pair<TCanvasImage*, QRect> parts[] = {{static_cast<TCanvasImage*>(Image3), left},
                                                     {static_cast<TCanvasImage*>(Image4), right}};
    QBackingStore* store = backingStore();
    QWindow* handle = windowHandle();
    if (!store || !handle || !handle->isExposed() || !Panel1 || !Panel1->isVisible() || !updatesEnabled()) {
        for (const auto& [image, rows] : parts)
            if (image && !rows.isEmpty()) image->update(rows);
        return;
    }
    QRect targets[2];  // in window coordinates
    QRegion area;
    for (int i = 0; i < 2; ++i) {
        const auto& [image, rows] = parts[i];
        if (image && !rows.isEmpty()) area += targets[i] = rows.translated(image->mapTo(this, QPoint(0, 0)));
    }
    store->beginPaint(area);
    {
        QPainter painter(store->paintDevice());
        for (int i = 0; i < 2; ++i)
            if (!targets[i].isNull()) painter.drawImage(targets[i], parts[i].first->Canvas, parts[i].second);
    }
    store->endPaint();
    store->flush(area, handle);
}

void TForm1::ScrollTitle() {
    if (ScrollForward) {
        if (ScrollOffset < TitleWidth - kStripWidth) {
            ++ScrollOffset;
        } else {
            ScrollForward = false;
            ScrollPause = kScrollRest;
        }
    } else if (ScrollOffset <= 0) {
        ScrollForward = true;
        ScrollPause = kScrollRest;
    } else {
        --ScrollOffset;
    }
    if (auto* strip = static_cast<TCanvasImage*>(Image1)) {
        strip->OffsetX = ScrollOffset;
        strip->update();
    }
}

int TForm1::TitleTextWidth(const QString& text, bool bold) const {
    return QFontMetrics(TitleFont(bold)).horizontalAdvance(text);
}

void TForm1::SetTitleScroll(int textWidth) {
    TitleWidth = textWidth;
    ScrollOffset = 0;
    ScrollOn = textWidth > kStripWidth;
    if (ScrollOn) {
        ScrollForward = true;
        ScrollPause = kScrollRest;
        WakeMeterTick();
    }
}

void TForm1::DrawTitle(const QString& text, bool bold, TColor color) {
    auto* strip = static_cast<TCanvasImage*>(Image1);
    if (!strip) return;
    const int width = TitleTextWidth(text, bold);
    // The whole title is drawn once; scrolling only moves it.
    const qreal dpr = devicePixelRatioF();
    QImage image(QSize(std::max(width, kStripWidth) + 8, kStripHeight) * dpr, QImage::Format_RGB32);
    image.setDevicePixelRatio(dpr);
    image.fill(Qt::black);
    {
        QPainter p(&image);
        p.setRenderHint(QPainter::TextAntialiasing);
        p.setFont(TitleFont(bold));
        p.setPen(ColorToQColor(color));
        p.drawText(QRect(0, 1, width + 8, kStripHeight - 1), Qt::AlignLeft | Qt::AlignTop, text);
    }
    strip->Canvas = image;
    if (bold) {
        // Bold is the banner's style: shifted 4 pixels left, never scrolling.
        TitleWidth = width;
        ScrollOn = false;
        ScrollOffset = 0;
        strip->OffsetX = 4;
    } else {
        SetTitleScroll(width);
        strip->OffsetX = 0;
    }
    strip->update();
}

void TForm1::DrawBanner() {
    TitleText = StoredText(TStoredText::Banner);
    DrawTitle(TitleText, true, kTitleColor);
}

void TForm1::Timer3Timer() {
    int hour = lastHour_, minute = lastMinute_, second = lastSecond_;
    if (ClockSource) {
        ClockSource(hour, minute, second);
    } else if (const std::time_t epoch = std::time(nullptr); epoch != lastClockRead_) {
        // The local time (which looks up the time zone) only when the second changed.
        lastClockRead_ = epoch;
        const QTime now = QTime::currentTime();
        hour = now.hour();
        minute = now.minute();
        second = now.second();
    }
    if (hour != lastHour_ || minute != lastMinute_ || second != lastSecond_) {
        if (Label5) Label5->setText(TwoDigits(hour) + QLatin1Char(':') + TwoDigits(minute) + QLatin1Char(':') + TwoDigits(second));
        lastHour_ = hour;
        lastMinute_ = minute;
        lastSecond_ = second;
    }
    // An error gives way once another entry has played a while; the idle
    // text follows after 50 ticks without anything new.
    const bool errorOutlived = errorShown_ && StatusIdle >= kErrorHoldTicks && Controller->Playing() &&
                               Controller->IsOpen();
    if (StatusIdle >= 50 || errorOutlived) {
        // Not through SetStatus: the idle count keeps running. While the
        // sound server is away that stays the news.
        const QString idle = Controller->OutputWaiting() ? kSoundServerLost : StoredText(TStoredText::DefaultStatus);
        errorShown_ = false;
        if (StatusText != idle) {
            StatusText = idle;
            ShowStatusText();
        }
        if (StatusIdle < 50) ++StatusIdle;
    } else {
        ++StatusIdle;
    }
    // At rest only the clock changes: the next tick comes just after its next
    // second instead of five times a second (or falls behind the meter tick,
    // which shows the second while it runs). SetStatus brings the short tick back.
    if (Timer3 && ClockAtRest()) {
        const int behind = Timer1 && Timer1->isActive() ? kClockBehindMeterMs : 5;
        Timer3->setInterval(1000 - static_cast<int>(QDateTime::currentMSecsSinceEpoch() % 1000) + behind);
    }
}

void TForm1::ClockTick() {
    Timer3Timer();
    // At rest the clock tick runs the housekeeping tick too, and the
    // housekeeping timer falls back to fire only if the clock tick stops.
    // Taking over, a tick that ran less than half a second ago is not repeated.
    // A held-off housekeeping timer (a dialog is up) stays off.
    if (!ClockAtRest() || !Timer4 || !Timer4->isActive()) return;
    const bool due = Timer4->interval() == kHousekeepingFallbackMs || Timer4->remainingTime() <= kHousekeepingMs / 2;
    Timer4->start(kHousekeepingFallbackMs);
    if (due) Timer4Timer();
}

QString TForm1::ElideAtWord(const QString& text, const QFontMetrics& metrics, int width) {
    if (metrics.horizontalAdvance(text) <= width) return text;
    const QString ellipsis(QChar(0x2026));
    QStringList words = text.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    while (words.size() > 1) {
        words.removeLast();
        QString head = words.join(QLatin1Char(' '));
        // No dangling separator before the ellipsis.
        while (!head.isEmpty() && QStringLiteral(":,;-(").contains(head.back())) head.chop(1);
        if (!head.isEmpty() && metrics.horizontalAdvance(head + ellipsis) <= width) return head + ellipsis;
    }
    // One word longer than the line: cut it where it must be.
    return metrics.elidedText(text, Qt::ElideRight, width);
}

void TForm1::ShowStatusText() {
    if (!Label10) return;
    const QString shown = ElideAtWord(StatusText, Label10->fontMetrics(), Label10->contentsRect().width());
    Label10->setText(shown);
    // What the narrow line leaves out can be read on hovering it.
    Label10->setToolTip(shown == StatusText ? QString() : StatusText);
}

void TForm1::ShowEntryState(bool started) {
    if (started) {
        SetStatePicture(TStatePicture::Play);
        return;
    }
    // Nothing plays: no length, position or time of the entry before.
    SetStatePicture(TStatePicture::Stop);
    FormatTime(0);
    if (Label7) Label7->setText(TimeText);
    if (Label8) Label8->setText(TimeText);
    if (ALProgressBar1) ALProgressBar1->SetPosition(0);
}

void TForm1::SetStatePicture(TStatePicture picture) {
    ShownState = picture;
    const QPixmap& pm = statePictures_[static_cast<size_t>(picture)];
    if (Image20 && !pm.isNull()) Image20->setPixmap(pm);
}

void TForm1::ShowIndicators() {
    IndicatorsOn = {Settings.EqualizerOn != 0, Settings.RandomPlay != 0, Settings.RepeatPlay != 0};
    TImage* images[] = {Image29, Image32, Image35};
    for (size_t k = 0; k < 3; ++k) {
        const QPixmap& pm = indicatorPictures_[2 * k + (IndicatorsOn[k] ? 1 : 0)];
        if (images[k] && !pm.isNull()) images[k]->setPixmap(pm);
    }
}

void TForm1::SetDisplayLit(bool lit) {
    const TColor color = lit ? LitTextColor() : kUnlitColor;
    for (QWidget* w : {static_cast<QWidget*>(LabelL), static_cast<QWidget*>(LabelR), static_cast<QWidget*>(Label2),
                       static_cast<QWidget*>(Label6), static_cast<QWidget*>(Label7), static_cast<QWidget*>(Label8)}) {
        SetTextColor(w, color);
    }
}

void TForm1::ResetPeaks() {
    PeakRowL = PeakAgeL = PeakRowR = PeakAgeR = 0;
}

void TForm1::ClearMeterHistory() {
    HistoryL.fill(0);
    HistoryR.fill(0);
}

void TForm1::ExTrackBar3Change() {
    if (!ExTrackBar3) return;
    const int position = ExTrackBar3->Position();
    Settings.Brightness = static_cast<uint8_t>(std::clamp(position, 0, 100));
    const TColor color = LitTextColor();
    for (QWidget* w : {static_cast<QWidget*>(Label10), static_cast<QWidget*>(LabelL), static_cast<QWidget*>(LabelR),
                       static_cast<QWidget*>(Label2), static_cast<QWidget*>(Label5), static_cast<QWidget*>(Label6),
                       static_cast<QWidget*>(Label7), static_cast<QWidget*>(Label8)}) {
        SetTextColor(w, color);
    }
    if (ALProgressBar1) ALProgressBar1->SetBarColor1(color);
    SetStatus(QStringLiteral("Brightness %1").arg(position - 50));
}

}  // namespace wl
