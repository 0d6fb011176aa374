// Texts the program keeps scrambled in its binary: the about texts, the web
// addresses, the title-strip banner, the idle status text and the two texts
// of the screensaver. Each text has its own one-byte key.
#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <functional>

class QUrl;

namespace wl {

// Character i (1-based) of the result is the stored character exclusive-or
// `key` when i is even, exclusive-or (key + 1) mod 256 when i is odd. The same
// call scrambles a plain text. Works on the UTF-8 bytes.
QByteArray UnscrambleBytes(const QByteArray& text, uint8_t key);
QString Unscramble(const QByteArray& text, uint8_t key);

enum class TStoredText {
    About1,
    About2,
    About3,
    About4,
    About5,
    About6,
    LinkSuggestions,  // "Send your suggestions"
    LinkNewVersion,   // "Check for new version"
    LinkHome,         // the logo
    Banner,           // title strip when nothing plays
    DefaultStatus,    // status line after 10 idle seconds
    SaverBanner,      // the screensaver's copy of the banner, compared with the title
    SaverIdle,        // what the screensaver shows instead of the banner
};

// The stored text, unscrambled.
QString StoredText(TStoredText which);

// Opens an address with the desktop's default handler. Replaceable so that
// tests can see the address without starting a browser.
using TUrlOpener = std::function<void(const QUrl& url)>;
void SetUrlOpener(TUrlOpener opener);  // empty: the desktop's handler
void OpenStoredAddress(TStoredText which);

}  // namespace wl
