// The main window: a borderless skinned window whose upper half (display and
// transport row) always shows and whose lower half holds one of five panels.
// The class is large by nature (one window, one shared state); its methods are
// spread over files by area:
//   form1.cpp            creation, first show, housekeeping tick, shut-down,
//                        panel toggle, transport row, moving, volume/balance
//   form1_quit.cpp       quitting: what is saved, and a failed save put to the user
//   form1_handoff.cpp    the files a later start hands over
//   form1_common.cpp     small shared helpers (status line, event pumping)
//   form1_options.cpp    settings load/save and the options panel
//   form1_playlist.cpp   playlist procedures, the transport commands given to
//                        the playback controller and what its signals show
//   form1_titles.cpp     titles from tags for the grid and the title strip
//   form1_resume.cpp     the session kept at exit and resumed at start
//   playlist_panel.cpp   the playlist panel and its buttons, drops
//   tag_panel.cpp        the tag panel
//   form1_display.cpp    the display: times, meters, title strip, status line
//   form1_equalizer.cpp  the equalizer panel
//   form1_about.cpp      the about panel
//   form1_skin.cpp       the skin's pictures put on the window's images
//
// Playback itself (the player, the play order, the current entry) is the
// playback controller's (playback/playback_controller.h); the window gives it
// commands and shows what its signals report. The playlist is the
// controller's too (the grid is its view).
//
// Failures in the window: nothing is thrown out of an event handler. What
// the layers below raise (EMP3Error, a damaged settings or playlist file) is
// shown in the status line (ShowError), the controller's errors too (an entry
// that cannot be played, a failure on the player's threads). Settings and
// playlist files that cannot be read give the defaults; they are written
// whole or not at all.
#pragma once

#include <QHash>
#include <QList>
#include <QPixmap>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <array>
#include <atomic>
#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include "app/art_loader.h"
#include "app/atomic_file.h"
#include "app/extra_settings.h"
#include "app/settings.h"
#include "app/skin.h"
#include "controls/colors.h"
#include "playback/playback_controller.h"
#include "playback/playlist_model.h"
#include "playback/tag_scan.h"

class QCheckBox;
class QComboBox;
class QFontMetrics;
class QScreen;
class QLabel;
class QLineEdit;
class QPushButton;
class QMessageBox;
class QTimer;
class QToolButton;

namespace wl {

class TALProgressBar;
class TBrowseForFolder;
class TExTrackBar;
class TFindFile;
class TFolderAdder;
class TImage;
class TPlaylistGrid;
class TPlaylistSearch;
class TPlaylistSearchBar;
class TPlaylistTable;
class TRowsGrip;
class TVumeter;
struct TSearchRec;

inline constexpr int kWindowWidth = 370;
inline constexpr int kWindowHeight = 366;
inline constexpr int kPanelHeight = 183;

class TForm1 : public QWidget {
    Q_OBJECT
public:
    explicit TForm1(QWidget* parent = nullptr);
    ~TForm1() override;

    // ------------------------------------------------------------------
    // Shared state.
    // ------------------------------------------------------------------
    // Plays the list: the player, the order, the current entry.
    std::unique_ptr<TPlaybackController> Controller = std::make_unique<TPlaybackController>();
    TSettings Settings;
    TExtraSettings Extra;  // "wavelantern.conf", loaded and saved with Settings
    int32_t StartupTicks = 0;
    int64_t IdleSeconds = 0;
    QString StatusText;
    int StatusIdle = 0;
    QString TimeText;
    QString TitleText;
    int MeterTicks = 0;  // the meter tick counter
    bool PanelOpen = false;

    // The app's folder ("exe folder"), always ending in "/".
    QString ExeFolder() const;

    // Shared helpers (form1_common.cpp).
    void SetStatus(const QString& text);  // only when it differs; StatusIdle := 0
    static void SetTextColor(QWidget* widget, TColor color);
    TColor LitTextColor() const;          // (Brightness - 50) * 0x010101 + 0xAA8A42

    // ------------------------------------------------------------------
    // Frame (form1.cpp): creation, housekeeping, shut-down, panels,
    // transport row, moving, keyboard, volume and balance.
    // ------------------------------------------------------------------
    void FormCreate();
    void FormShow();
    void Timer4Timer();  // housekeeping, 1000 ms
    void SpeedButton1Click();  // "X": Quit(false)
    void TogglePanel(QWidget* panel);
    void Image7Click();   // Play
    void Image9Click();   // Pause / Resume
    void Image10Click();  // Stop
    void Image14Click();  // Settings
    void Image15Click();  // Equalizer
    void Image16Click();  // About
    void Image17Click();  // MP3 playlist
    void Image18Click();  // MP3 ID
    void ExTrackBar1Change();  // volume
    void ExTrackBar2Change();  // balance
    void HandleKeyDown(int key);  // the keyboard shortcuts, from the input filter
    void RaiseWindow();  // shown, in front and active (the screensaver gives way)
    QStringList Arguments;        // command-line arguments after the program name

    // Quitting (form1_quit.cpp): the resume point is taken, playback stops,
    // and the playlist is saved before the settings, so that the resume point
    // written always refers to the list on disk (when the list could not be
    // saved, the conf file keeps the resume point it had). A failed save is
    // put to the user in a window-modal message box (Retry, "Save playlist
    // as...", Quit anyway) unless `unattended` (a signal, the end of the
    // desktop session): then the reasons go to stderr and the program ends.
    void Quit(bool unattended);
    // What Quit saves, saved now without ending (the desktop session asks).
    void SaveForSessionEnd();
    // Told once as a quit begins: from then on no hand-off is taken.
    std::function<void()> OnQuitStarted;
    // Ends the program: QCoreApplication::quit() unless replaced (tests).
    std::function<void()> EndProgram;

    // One later start's arguments (single_instance.h says how they are
    // applied); `startedMs` is when that start began (ProcessStartMs).
    void HandOver(const QStringList& arguments, int64_t startedMs);

    QTimer* Timer1 = nullptr;  // meters, 40 ms
    QTimer* Timer3 = nullptr;  // clock, 200 ms
    QTimer* Timer4 = nullptr;  // housekeeping, 1000 ms
    TImage* Image2 = nullptr;  // skin, upper half
    TImage* Image8 = nullptr;  // skin, lower half
    TImage* Image7 = nullptr;
    TImage* Image9 = nullptr;
    TImage* Image10 = nullptr;
    TImage* Image11 = nullptr;
    TImage* Image12 = nullptr;
    TImage* Image13 = nullptr;
    TImage* Image14 = nullptr;
    TImage* Image15 = nullptr;
    TImage* Image16 = nullptr;
    TImage* Image17 = nullptr;
    TImage* Image18 = nullptr;
    QToolButton* SpeedButton1 = nullptr;
    QWidget* Panel1 = nullptr;   // display
    QWidget* Panel2 = nullptr;   // equalizer
    QWidget* Panel3 = nullptr;   // about
    QWidget* Panel4 = nullptr;   // options
    QWidget* Panel17 = nullptr;  // tag information
    QWidget* Panel19 = nullptr;  // playlist
    // Transport and panel images in row order: Image7, Image9 .. Image18.
    std::array<TImage*, 11> TransportImages() const;

    // ------------------------------------------------------------------
    // Settings and options panel (form1_options.cpp).
    // ------------------------------------------------------------------
    void LoadSettings();
    // Writes "wl.ini" and "wavelantern.conf" (with Extra as it is); the files
    // that could not be written, each also shown in the status line.
    QList<TWriteFailure> SaveSettings();
    void Button1Click();  // options "Save"
    static TColor SwapRedBlue(TColor value);
    void ApplyStayOnTop(bool onTop);
    // Repeat and random set from outside the panel: the fields, their check
    // boxes and indicators, and the controller; kept by the next save.
    void SetPlayOrder(bool repeat, bool random);
    // The options the controller plays by, after the settings.
    void ApplyPlayOptions();

    QComboBox* ComboBox1 = nullptr;
    QComboBox* ComboBox2 = nullptr;  // ReplayGain: Off, Track, Album
    QComboBox* ComboBox3 = nullptr;  // sound output: "Default", then the server's sinks
    QCheckBox* CheckBox1 = nullptr;
    QCheckBox* CheckBox2 = nullptr;
    QCheckBox* CheckBox3 = nullptr;
    QCheckBox* CheckBox4 = nullptr;
    QCheckBox* CheckBox5 = nullptr;
    QCheckBox* CheckBox6 = nullptr;
    QCheckBox* CheckBox7 = nullptr;
    QCheckBox* CheckBox8 = nullptr;
    QCheckBox* CheckBox9 = nullptr;
    QCheckBox* CheckBox10 = nullptr;  // "Resume playback"
    QCheckBox* CheckBox11 = nullptr;  // "Titles from tags"
    QString ExtraSettingsPath() const;  // ExeFolder() + "wavelantern.conf"
    std::array<QLabel*, 5> ColorSwatches{};  // Label32 .. Label36
    QLabel* StaticText2 = nullptr;
    TExTrackBar* ExTrackBar3 = nullptr;  // brightness
    QToolButton* SpeedButton18 = nullptr;  // "Save"
    void ColorSwatchClick(int index);  // Label32Click .. Label36Click (index 0..4)
    // Items of ComboBox1 in order; DecoderPriority n is item n - 1.
    static const std::array<const char*, 7> kPriorityItems;

    // ------------------------------------------------------------------
    // Playlist (form1_playlist.cpp, playlist_panel.cpp, tag_panel.cpp).
    // ------------------------------------------------------------------
    // The list itself (the controller's); the grid (sg1) shows it.
    PlaylistModel& Playlist = Controller->Playlist();
    // The playlist's state under the names the window's procedures use.
    int& EntryCount = Playlist.EntryCount;
    int& CurrentEntry = Playlist.CurrentEntry;
    TNotPlayed& NotPlayed = Playlist.NotPlayed;

    void AddEntry(const QString& path) { Playlist.AddEntry(path); }
    void ClearPlaylist() { Playlist.Clear(); }
    void LoadDefaultPlaylist();
    // False (with the reason, also shown in the status line) when the file
    // could not be written; the old one then stays.
    bool SaveDefaultPlaylist(QString* reason = nullptr);
    void ResetNotPlayed() { Playlist.ResetNotPlayed(); }
    int PickRandom() { return Playlist.PickRandom(); }
    void SelectCurrent();
    void UpdateScrollButtons();
    // Starts the current entry (the controller's PlayEntry).
    void playfile();
    void FinishAdding(int rowsBefore);
    void ReadM3U(const QString& path);  // adds the playlist's entries
    // Adds the entries of any list file the player reads (".m3u", ".m3u8",
    // ".pls", ".xspf"); what could not be used shows in the status line.
    void ReadList(const QString& path);
    void RemoveSelectedRows();          // "-File"
    void PlayNext();      // "Next" (Image12)
    void PlayPrevious();  // "Last" (Image11)
    void Image13Click();  // "Open"
    void ShowEntryCounter();  // Label2 := CurrentEntry - EntryCount
    void DropFiles(const QStringList& paths);
    // Adds the MP3 files of `folder` and its subfolders on a worker, the
    // entries appended in batches with the count in the status line; a list
    // that was empty starts with the first batch. "+Dir" again or Escape
    // cancels it.
    void AddFolderTree(const QString& folder);
    bool FolderAdding() const;
    void CancelFolderAdding();
    TFolderAdder* FolderAdder = nullptr;

    // What the controller's signals show.
    void ShowEntryStarting(int entry);    // counter, display lit, title strip, the row: as an entry starts
    void ShowEntryTitle(int entry);       // counter, title strip, the row
    void ShowEntryStarted(bool gapless);  // the file's facts and tags, times, the play picture
    void ShowEntryFailed();               // no facts, no tags, no times
    void ShowPlayState(TPlayState state, TStopCause cause);
    void ShowStartedFile(const TEntryFacts& facts);  // rate text, lamps, format text, tag panel

    // Titles from tags (form1_titles.cpp): the grid's names and the title
    // strip show "Artist - Title" where the file has a title tag, while the
    // option is on. The list's tags (for the names, the search and the marks
    // of missing files) are read on a thread of their own (TTagScan), shown
    // rows first, and kept in the tag cache.
    QString EntryName(const QString& path) const;  // the grid's name for an entry
    QString TitleFor(const QString& path);         // the title strip's text for an entry
    void ScheduleTagScan();                        // reads the tags the list's entries lack
    bool TagScanPending() const;                   // read tags not yet in the list
    TTagScan* TagScan() const { return tagScan_.get(); }  // none before the first scan
    void TitlesOptionChanged();                    // after "Titles from tags" was changed

    // Resume (form1_resume.cpp): where the session ended, restored at a start
    // without files while "Resume playback" is on.
    void CaptureResumeState();  // into Extra, at exit
    void ResumeSession();       // the first show's start-up when resuming

    // The grid and its model over Playlist. The model can show a filter's
    // rows only; the grid's rows are then not the list's: these map them.
    TPlaylistGrid* sg1 = nullptr;
    TPlaylistTable* PlaylistTable = nullptr;
    int CurrentListRow() const;    // the list row of the grid's current row; -1: none
    void SelectListRow(int row);   // list row `row` current and selected, when shown
    // The list's height in rows (Extra.PlaylistRows); setting it clamps it to
    // kMinPlaylistRows..kMaxPlaylistRows and the panel and the window follow.
    int VisibleRows() const { return Extra.PlaylistRows; }
    void SetPlaylistRows(int rows);
    // The list follows the playing entry (SelectCurrent) unless the user
    // moved in it (keys, wheel, scroll bar, a press, the scroll keys) within
    // kFollowPauseMs.
    static constexpr int64_t kFollowPauseMs = 10'000;
    std::function<int64_t()> ListClock;  // monotonic milliseconds; replaceable for tests
    void NoteListMoved();
    bool FollowsPlaying() const;
    // "-All" asks first when the list holds more than this many entries.
    static constexpr int kClearAskAbove = 10;
    void ClearListNow();  // "-All"'s action: the list and what the display shows of it
    // Finding a track: typing in the list (or Ctrl+F, "J") opens the field
    // over the action keys; the grid shows the hits until it closes, then
    // the whole list where it was. Sorting and tidying: the grid's context menu.
    QLineEdit* SearchField = nullptr;
    TPlaylistSearch* PlaylistSearch = nullptr;
    TPlaylistSearchBar* SearchBar = nullptr;
    QMenu* PlaylistMenu = nullptr;
    int searchTopRow_ = 0;  // the whole list's top row when a search began
    void OpenSearch(const QString& text = {});
    std::array<QToolButton*, 12> PlaylistButtons{};  // SpeedButton22 .. SpeedButton33
    QLineEdit* Edit1 = nullptr;  // Artist
    QLineEdit* Edit2 = nullptr;  // Title
    QLineEdit* Edit3 = nullptr;  // Comment
    QLineEdit* Edit4 = nullptr;  // Album
    QLineEdit* Edit5 = nullptr;  // Year
    QLineEdit* Edit6 = nullptr;  // Genre
    QLineEdit* Edit7 = nullptr;  // format text
    QLineEdit* Edit8 = nullptr;  // Track
    TBrowseForFolder* bf = nullptr;

    // Playlist panel actions.
    void SpeedButton22Click();             // "+Dir"
    void SpeedButton23Click();             // "+File"
    void SpeedButton24Click();             // "-File"
    void SpeedButton25Click();             // "-All"
    void SpeedButton26Click();             // "Load"
    void SpeedButton27Click();             // "Save"
    void SavePlaylistAs(const QString& path);         // "Save"'s file, once chosen (and agreed)
    void OpenChosenFiles(const QStringList& files);   // "Load" and "Open"'s choice
    // "+URL": a small dialog (opened, not run) asks for a stream's or a
    // station list's URL; Enter adds it and plays it (AddStreamUrl).
    void UrlButtonClick();
    // Adds `text` (trimmed) as an entry and plays it; an invalid URL (not
    // http or https, no host) leaves the list alone and says why in the
    // status line. True when it was added.
    bool AddStreamUrl(const QString& text);
    QToolButton* UrlButton = nullptr;      // "+URL"
    void ScrollButtonClick(int button);    // SpeedButton28 .. SpeedButton33
    void sg1DblClick();                    // double-click or Enter in the grid
    int TopRow() const;                    // the grid's first visible row (a grid row)
    void SetTopRow(int row);
    bool PlaylistEmpty() const { return Playlist.Empty(); }
    QString DefaultPlaylistPath() const;   // ExeFolder() + "wl21.m3u"
    QString CachePath() const;             // ExeFolder() + "wl21.mp3"
    QLabel* TagHeading = nullptr;          // "ID3 Infos"
    // The tag panel's cover art and its reader. While stopped the panel
    // shows the selected entry (its tags and art read on a worker).
    QLabel* ArtImage = nullptr;
    TArtLoader* ArtLoader = nullptr;
    void ShowArtOf(const TEntryFacts& facts);  // the started entry's art
    void ShowSelectedEntry();                  // while stopped: the selected entry's tags and art
    void ShowArtAnswer(const TArtAnswer& answer);
    QString ArtSource;                         // whose art and tags are on show (or coming)

    // The playlist's dialogs and its question: each opens (window-modal,
    // without a nested event loop) and returns at once; its answer comes
    // once it closes. The real Qt dialogs unless replaced (the tests answer
    // them). Open: the chosen files, empty when cancelled. Save: the chosen
    // path, empty when cancelled. AskReplace: true for Yes.
    using TFilesAnswer = std::function<void(const QStringList& files)>;
    using TPathAnswer = std::function<void(const QString& path)>;
    using TYesAnswer = std::function<void(bool yes)>;
    std::function<void(const QString& caption, const QString& filter, bool multiple, TFilesAnswer answer)> RunOpenDialog;
    std::function<void(const QString& caption, const QString& fileName, const QString& filter, TPathAnswer answer)>
        RunSaveDialog;
    std::function<void(const QString& text, TYesAnswer answer)> AskReplace;
    void CloseListDialogs();  // at quitting: open ones are cancelled

    // ------------------------------------------------------------------
    // Display (form1_display.cpp, skin.cpp).
    // ------------------------------------------------------------------
    void FormatTime(int64_t ms);  // sets TimeText
    void MP3PlayerChangePosition(int64_t position, int64_t length);
    void Timer1Timer();  // meters, title scroll, about animation
    void Timer3Timer();  // clock, idle status text
    // The clock timer's tick: Timer3Timer and, at rest, the housekeeping tick
    // (which then needs no wake-up of its own).
    void ClockTick();
    bool ClockAtRest() const { return StatusIdle >= 50 && !errorShown_; }
    void RideClockTick();  // from the meter tick
    void DrawTitle(const QString& text, bool bold, TColor color);  // strip at (0,1), scrolling decided here
    void SetStatePicture(TStatePicture picture);
    void ShowIndicators();  // equalizer, random and repeat indicators after the settings
    void SetDisplayLit(bool lit);  // L/R captions, counter, rate, times: lit or unlit
    void ResetPeaks();
    void ClearMeterHistory();
    void ExTrackBar3Change();  // brightness
    void ApplySkin();          // pictures of the frame's images
    // An error in the status line. It stays until other text replaces it or,
    // once it has been shown for kErrorHoldTicks clock ticks, until an entry
    // plays (then the idle text takes its place).
    void ShowError(const QString& text);
    void ShowLiveTitle();  // a station's title as heard, in the strip and the tag panel
    // After an entry's start: the state picture, and for an entry that did
    // not start, empty times instead of the previous entry's.
    void ShowEntryState(bool started);
    void WakeMeterTick();  // restarts the meter tick if it parked itself
    bool MeterTickParked() const { return meterTickParked_; }
    // `text` cut at a word boundary with an ellipsis to fit `width` pixels.
    static QString ElideAtWord(const QString& text, const QFontMetrics& metrics, int width);
    static constexpr int kClockTickMs = 200;
    static constexpr int kHousekeepingMs = 1000;
    // The housekeeping timer while the clock tick carries it: it fires only
    // if the clock tick stops.
    static constexpr int kHousekeepingFallbackMs = 1500;
    // While the clock tick rides on the meter tick, its own timer comes this
    // much later (at rest: after the second instead of 5 ms after it), so
    // that it fires only once the meter tick parks.
    static constexpr int kClockBehindMeterMs = 100;
    static constexpr int kErrorHoldTicks = 15;  // 3 s of the clock tick
    // The status line while the sound output waits for its server.
    static inline const QString kSoundServerLost = QStringLiteral("Sound server lost \u2014 reconnecting\u2026");
    void KeepOnScreen();  // moves the window wholly into its screen's available area

    QLabel* Label2 = nullptr;   // entry counter
    QLabel* Label4 = nullptr;   // lower lamp
    QLabel* Label5 = nullptr;   // clock
    QLabel* Label6 = nullptr;   // rate text
    QLabel* Label7 = nullptr;   // current time
    QLabel* Label8 = nullptr;   // length
    QLabel* Label9 = nullptr;   // upper lamp
    QLabel* Label10 = nullptr;  // status line
    QLabel* LabelL = nullptr;   // "L"
    QLabel* LabelR = nullptr;   // "R"
    TImage* Image1 = nullptr;   // title strip
    TImage* Image3 = nullptr;   // left meter
    TImage* Image4 = nullptr;   // right meter
    TImage* Image20 = nullptr;  // state image
    TImage* Image29 = nullptr;  // equalizer indicator
    TImage* Image32 = nullptr;  // random indicator
    TImage* Image35 = nullptr;  // repeat indicator
    TALProgressBar* ALProgressBar1 = nullptr;
    TExTrackBar* ExTrackBar1 = nullptr;  // volume
    TVumeter* Vumeter1 = nullptr;

    // Display: the banner, the position and seek-bar work, title scrolling,
    // the meters' state.
    void DrawBanner();  // TitleText := the stored banner; bold, at x = -4, not scrolling
    void ShowPosition(int64_t position, int64_t length);  // the position event's work
    void SeekBarRelease(Qt::MouseButton button, int x);  // seeks on the left button's release
    void SetTitleScroll(int textWidth);  // scrolling on (forward, pause 40, offset 0) when wider than the strip
    int TitleTextWidth(const QString& text, bool bold) const;
    static int64_t RoundDiv(int64_t a, int64_t b);  // Round(a / b), ties to even
    bool ScrollOn = false;
    bool ScrollForward = true;
    int ScrollPause = 0;
    int ScrollOffset = 0;
    int TitleWidth = 0;
    std::array<int, 10> HistoryL{};  // oldest first
    std::array<int, 10> HistoryR{};
    int LevelL = 0;  // averaged readings last drawn
    int LevelR = 0;
    int PeakRowL = 0;
    int PeakAgeL = 0;
    int PeakRowR = 0;
    int PeakAgeR = 0;
    bool StripedVu = true;
    std::array<uint32_t, 41 * 81> BitmapL{};  // 0x00RRGGBB, row by row from the top
    std::array<uint32_t, 41 * 81> BitmapR{};
    std::function<void(int& hour, int& minute, int& second)> ClockSource;  // wall clock; replaceable for tests
    TStatePicture ShownState = TStatePicture::Stop;  // what the state image shows
    std::array<bool, 3> IndicatorsOn{};  // equalizer, random, repeat

    // ------------------------------------------------------------------
    // Equalizer panel (form1_equalizer.cpp).
    // ------------------------------------------------------------------
    static int RoundFreq(int f);
    static TColor BandColor(int gain);
    void ApplyEqualizer();
    void EqSliderChange(int band);
    void SpeedButton16Click();  // "Eq ON"

    std::array<TExTrackBar*, 10> eqx{};
    std::array<QLabel*, 10> BandLamps{};  // Label16 .. Label25
    QToolButton* SpeedButton16 = nullptr;
    TExTrackBar* ExTrackBar2 = nullptr;  // balance

    void SetAllGains(int gain);                     // "+12db" .. "- 12db"
    void ChoosePreset(const std::array<int8_t, 10>& gains);  // store the gains, ApplyEqualizer
    TColor BandLampColor(int band) const;
    QToolButton* SpeedButton11 = nullptr;  // "+0db"
    QToolButton* SpeedButton12 = nullptr;  // "Techno"
    QToolButton* SpeedButton13 = nullptr;  // "Treble"
    QToolButton* SpeedButton14 = nullptr;  // "Classical"
    QToolButton* SpeedButton15 = nullptr;  // "Voice"
    QToolButton* SpeedButton17 = nullptr;  // "+6db"
    QToolButton* SpeedButton19 = nullptr;  // "+12db"
    QToolButton* SpeedButton20 = nullptr;  // "- 6db"
    QToolButton* SpeedButton21 = nullptr;  // "- 12db"

    // ------------------------------------------------------------------
    // About panel (form1_about.cpp).
    // ------------------------------------------------------------------
    void AboutTick();  // logo blink and wandering image, from the meter tick

    TImage* Image5 = nullptr;
    TImage* Image6 = nullptr;

    void StartAboutAnimation();  // wandering image at (40, 16), moving right and down
    std::array<QLabel*, 6> AboutLabels{};  // Label11, Label56, Label57, Label30, Label29, Label26
    QLabel* Label27 = nullptr;  // "Check for new version"
    QLabel* Label28 = nullptr;  // "Send your suggestions"
    int WanderX = 40;
    int WanderY = 16;
    bool WanderRight = true;
    bool WanderDown = true;

private:
    std::thread outputsQuery_;
    std::atomic<bool> outputsQueried_{true};  // the query thread has finished
    // Each area builds its own widgets; the constructor calls them in order.
    void BuildFrame();
    void BuildDisplay();
    void BuildOptionsPanel();
    void BuildEqualizerPanel();
    void BuildAboutPanel();
    void BuildPlaylistPanel();
    void BuildTagPanel();

    // ---- frame (private) ----
    void BuildTransportRow();
    void HookFrameEvents();
    void PlaceWindow();
    void StartFirstEntry();  // the controller's StartList
    void HookController();   // the controller's signals to what they show
    void BackgroundMouseDown(QWidget* source, QMouseEvent* event);
    void BackgroundMouseMove(QMouseEvent* event);
    void BackgroundMouseUp();
    // The resume point set at the start, while its entry has not played.
    int heldResumeEntry_ = 0;
    int64_t heldResumeMs_ = 0;
    // When the start that last gave files (command line or hand-off) began.
    std::optional<int64_t> lastHandOffMs_;
    QPoint dragOrigin_;    // press point inside the window; x = 0: no drag
    QPoint dragGlobal_;    // last pointer position on the screen while dragging
    bool firstShowDone_ = false;
    void WatchScreen(QScreen* screen);  // keeps the window on `screen` as its area changes
    QMetaObject::Connection screenWatch_;

    // ---- quitting (private) ----
    void SaveAndEnd(bool unattended);
    QList<TWriteFailure> SaveSession();  // playlist, then settings with a fitting resume point
    void AskAboutFailedSave(const QList<TWriteFailure>& failures);
    void SavePlaylistElsewhere();
    void DismissQuitDialog();
    void FinishQuit();
    bool quitting_ = false;
    bool quitFinished_ = false;
    TExtraSettings sessionResume_;           // the resume point taken as the quit began
    QList<TWriteFailure> saveFailures_;      // of the last attempt
    QPointer<QWidget> quitDialog_;           // the question or the file dialog, while open

    // ---- options (private) ----
    void ApplyDecoderPriority();
    void ShowOptions();  // check boxes and the sample after the fields
    // The sound output: the stored sink to the controller (when the sound
    // server is the output at all), and the server's sinks asked for on a
    // thread of their own and listed in the options panel; `reportMissing`
    // says in the status line when the stored sink is not there.
    bool StoredOutputApplies() const;
    void ApplyOutputDevice();
    void QueryOutputs(bool reportMissing);
    void ShowOutputs(bool ok, const std::vector<TOutputInfo>& outputs, bool reportMissing);
    void ApplyReplayGain();  // the conf file's ReplayGain values to the player

    // ---- playlist (private) ----
    void HookPlaylist();                   // the scroll keys and tag scan follow the playlist's changes
    int RowsBeforeAdding() const;  // 0 when the grid is empty
    void InstallDialogs();
    void LayOutPlaylistPanel();  // the grid, keys and grip after VisibleRows()
    void FolderBatch(const std::vector<TPlaylistEntry>& entries, int files);
    void FolderAddingEnded(bool cancelled, const QString& error, const QStringList& notices);
    void DropFolders(const QStringList& paths);
    QStringList pendingFolders_;   // dropped folders waiting for the running add
    int addRowsBefore_ = 0;        // the list's rows as the running folder add began
    int addFiles_ = 0;             // files it added so far
    QStringList addNotices_;       // album sheets it could not use, a search that failed
    std::optional<int64_t> listMovedMs_;  // when the user last moved in the list
    TRowsGrip* rowsGrip_ = nullptr;
    int gripRows_ = 0;             // the rows as the grip's drag began
    QPointer<QMessageBox> clearQuestion_;  // "-All"'s question while open
    void ShowEntryName(int row);  // column 0 renamed after EntryName, number and mark kept
    void TagsRead(int row);       // a row's tags came: its name, and the name by path
    void ShowTagScanRows();       // the rows on show, read first
    std::unique_ptr<TTagScan> tagScan_;
    // "Artist - Title" of the files whose tags give a title, by path: the
    // list names an entry by its path alone (as it is added or renumbered).
    QHash<QString, QString> tagNames_;
    void RouteDropsToWindow();  // no child takes a drop: every drop reaches the window's handler
    mutable QString exeFolder_;  // ExeFolder() as last looked up

    // ---- display (private) ----
    void DrawMeters();
    void ShowMeters(const QRect& left, const QRect& right);  // changed rows of each meter image
    void ScrollTitle();
    void ShowStatusText();  // StatusText into the status line, elided to its width
    // The meter tick parks itself when it has nothing to change (meters at
    // rest, no scrolling, about panel closed, nothing playing); these wake it.
    bool MeterTickHasWork() const;
    void ParkMeterTickIfIdle();
    bool meterTickParked_ = false;
    int clockRideTicks_ = 0;  // meter ticks since the clock tick last rode on one
    struct TDrawnMeter {
        int rows = -1;
        int peakRow = -1;
        uint32_t color = 0;
        bool striped = false;
        bool peak = false;
        bool operator==(const TDrawnMeter&) const = default;
    };
    TDrawnMeter drawnL_;  // what each meter image shows, so that equal frames are not copied again
    TDrawnMeter drawnR_;
    bool errorShown_ = false;
    void SetHover(QWidget* widget, std::function<QString()> text);
    void LitLabelsColor(TColor color);
    std::time_t lastClockRead_ = -1;  // the second the clock was last read in
    int lastHour_ = -1;
    int lastMinute_ = -1;
    int lastSecond_ = -1;
    std::array<QPixmap, 6> statePictures_;  // play, pause, stop, previous, next, end
    std::array<QPixmap, 6> indicatorPictures_;  // eq off/on, random off/on, repeat off/on

    // ---- equalizer (private) ----
    void SetBandLamp(int band, TColor color);
    std::array<TColor, 10> bandLampColors_{};
    std::array<QLabel*, 10> freqLabels_{};

    // ---- about (private) ----
};

extern TForm1* Form1;

}  // namespace wl
