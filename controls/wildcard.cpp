#include "controls/wildcard.h"

#include <QList>
#include <QString>

#include <algorithm>
#include <cstddef>

#include <vector>

namespace wl {
namespace {

using Chars = std::vector<char32_t>;
constexpr size_t kNone = static_cast<size_t>(-1);

Chars Upper(const std::string& text) {
    const QList<uint> ucs = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())).toUpper().toUcs4();
    return Chars(ucs.begin(), ucs.end());
}

// Index just past the last "/", 0 when there is none.
size_t NameStart(const Chars& s) {
    for (size_t i = s.size(); i > 0; --i) {
        if (s[i - 1] == U'/') return i;
    }
    return 0;
}

bool MaskTailMatchesEmpty(const Chars& mask, size_t j) {
    if (j < mask.size() && mask[j] == U'.') ++j;
    for (; j < mask.size(); ++j) {
        if (mask[j] != U'*' && mask[j] != U'?') return false;
    }
    return true;
}

// Glob walk with one back-track point for the last "*".
bool MaskMatch(const Chars& name, const Chars& mask) {
    size_t i = 0, j = 0;
    size_t starJ = kNone, starI = 0;
    while (i < name.size()) {
        if (j < mask.size() && (mask[j] == U'?' || mask[j] == name[i])) {
            ++i;
            ++j;
        } else if (j < mask.size() && mask[j] == U'*') {
            starJ = j++;
            starI = i;
        } else if (starJ != kNone) {
            j = starJ + 1;
            i = ++starI;
        } else {
            return false;
        }
    }
    return MaskTailMatchesEmpty(mask, j);
}

bool NameMatch(const Chars& name, size_t i, const Chars& pat, size_t j) {
    while (i < name.size() && j < pat.size()) {
        if (name[i] == pat[j] || (pat[j] == U'?' && name[i] != U'.')) {
            ++i;
            ++j;
        } else if (name[i] == U'.') {
            if (pat[j] == U'?') {
                ++j;
            } else if (pat[j] == U'*') {
                while (j < pat.size() && pat[j] != U'.') ++j;
            } else {
                return false;
            }
        } else if (pat[j] == U'*') {
            ++i;
        } else {
            return false;
        }
    }
    while (j < pat.size() && (pat[j] == U'*' || pat[j] == U'?')) ++j;
    return i == name.size() && j == pat.size();
}

}  // namespace

bool MatchesMask(const std::string& name, const std::string& mask) {
    return MaskMatch(Upper(name), Upper(mask));
}

bool MatchesPathPattern(const std::string& path, const std::string& pattern) {
    const Chars p = Upper(path);
    const Chars q = Upper(pattern);
    const size_t pName = NameStart(p);
    const size_t qName = NameStart(q);
    if (qName > 0) {
        Chars qFolder(q.begin(), q.begin() + static_cast<std::ptrdiff_t>(qName));
        const Chars pFolder(p.begin(), p.begin() + static_cast<std::ptrdiff_t>(pName));
        const bool pathHasDrive = pFolder.size() >= 2 && pFolder[1] == U':';
        if (qFolder.size() >= 2 && qFolder[1] == U':') {
            const char32_t d = qFolder[0];
            if (d != U'*' && d != U'?' && !(pathHasDrive && d == pFolder[0])) return false;
            qFolder.erase(qFolder.begin(), qFolder.begin() + 2);
        }
        // The path's drive is not part of what the pattern's folder may match.
        const size_t room = pFolder.size() - (pathHasDrive ? 2 : 0);
        if (qFolder.size() > room) return false;
        if (!std::equal(qFolder.begin(), qFolder.end(), pFolder.end() - static_cast<std::ptrdiff_t>(qFolder.size())))
            return false;
    }
    return NameMatch(p, pName, q, qName);
}

}  // namespace wl
