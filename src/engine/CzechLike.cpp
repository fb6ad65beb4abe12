#include "engine/CzechLike.h"

#include <cstring>

#include "engine/Utf8Folding.h"

namespace zeplo::czech {

LikePattern::LikePattern(std::string_view patternUtf8) : pattern_(patternUtf8), table_(foldTable())
{
    const auto *p = reinterpret_cast<const unsigned char *>(pattern_.data());
    const std::size_t pn = pattern_.size();
    const char32_t *table = table_;
    for (std::size_t pi = 0; pi < pn; ++pi) {
        if (p[pi] != '%')
            continue;
        while (pi < pn && p[pi] == '%')
            ++pi;
        if (pi == pn || p[pi] == '_')
            continue;
        std::size_t len;
        Anchor anchor;
        anchor.at = pi;
        anchor.folded = foldCase(table, decodeUtf8(p + pi, pn - pi, len));
        placeAnchor(anchor);
        anchors_.push_back(anchor);
    }
    // Where each anchor stands, for the match's look-up on every row.
    if (!anchors_.empty()) {
        anchorAt_.assign(pn + 1, -1);
        for (std::size_t i = 0; i < anchors_.size(); ++i)
            anchorAt_[anchors_[i].at] = int(i);
    }
}

const LikePattern::Anchor *LikePattern::anchorAt(std::size_t at) const
{
    if (at >= anchorAt_.size() || anchorAt_[at] < 0)
        return nullptr;
    return &anchors_[size_t(anchorAt_[at])];
}

bool LikePattern::matches(std::string_view textUtf8) const
{
    const auto *p = reinterpret_cast<const unsigned char *>(pattern_.data());
    const auto *t = reinterpret_cast<const unsigned char *>(textUtf8.data());
    const std::size_t pn = pattern_.size(), tn = textUtf8.size();
    const char32_t *table = table_;

    // Greedy matching that returns to the last '%' on a mismatch: a later '%'
    // makes going back to an earlier one pointless, so one position is enough.
    // After a '%' the text is skipped straight to where the next pattern
    // character occurs, which is what makes "%word%" fast.
    std::size_t pi = 0, ti = 0;
    std::size_t afterPercent = kNotFound, retryFrom = 0;
    const Anchor *anchor = nullptr;
    while (ti < tn) {
        if (pi < pn) {
            if (p[pi] == '%') {
                while (pi < pn && p[pi] == '%')
                    ++pi;
                if (pi == pn)
                    return true;
                afterPercent = pi;
                anchor = anchorAt(pi);
                if (anchor) {
                    ti = find(*anchor, t, ti, tn);
                    if (ti == kNotFound)
                        return false;
                }
                retryFrom = ti;
                continue;
            }
            // One pattern character against one text character; '_' is ASCII,
            // so both are single bytes on the common path.
            std::size_t plen = 1, tlen = 1;
            bool same;
            if (p[pi] < 0x80 && t[ti] < 0x80) {
                same = p[pi] == '_' || table[p[pi]] == table[t[ti]];
            } else {
                const char32_t tc = decodeUtf8(t + ti, tn - ti, tlen);
                if (p[pi] == '_') {
                    same = true;
                } else {
                    const char32_t pc = decodeUtf8(p + pi, pn - pi, plen);
                    same = pc == tc || foldCase(table, pc) == foldCase(table, tc);
                }
            }
            if (same) {
                pi += plen;
                ti += tlen;
                continue;
            }
        }
        if (afterPercent == kNotFound)
            return false;
        std::size_t skip;
        decodeUtf8(t + retryFrom, tn - retryFrom, skip);
        retryFrom += skip;
        if (anchor) {
            retryFrom = find(*anchor, t, retryFrom, tn);
            if (retryFrom == kNotFound)
                return false;
        }
        ti = retryFrom;
        pi = afterPercent;
    }
    while (pi < pn && p[pi] == '%')
        ++pi;
    return pi == pn;
}

void LikePattern::placeAnchor(Anchor &anchor)
{
    // A letter outside ASCII is looked for by the bytes of its forms (Ž and ž
    // are C5 BD and C5 BE): memchr finds their shared first byte, which no
    // other character can hide, since a byte of 0xC2 and above only ever
    // starts a character. Letters whose forms start differently, letters
    // beyond the Basic Multilingual Plane and bytes that are not UTF-8 are
    // looked for character by character.
    if (anchor.folded < 0x80 || anchor.folded > 0xFFFF)
        return;
    const std::vector<char32_t> forms = foldedForms(anchor.folded);
    if (forms.size() > anchor.forms.size())
        return;
    unsigned char lead = 0;
    for (std::size_t i = 0; i < forms.size(); ++i) {
        Form &f = anchor.forms[i];
        const char32_t c = forms[i];
        // Every form is in the plane, as foldedForms() gives them: two or three bytes.
        if (c < 0x800) {
            f.bytes[0] = static_cast<unsigned char>(0xC0 | (c >> 6));
            f.bytes[1] = static_cast<unsigned char>(0x80 | (c & 0x3F));
            f.length = 2;
        } else {
            f.bytes[0] = static_cast<unsigned char>(0xE0 | (c >> 12));
            f.bytes[1] = static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F));
            f.bytes[2] = static_cast<unsigned char>(0x80 | (c & 0x3F));
            f.length = 3;
        }
        if (i > 0 && f.bytes[0] != lead)
            return;
        lead = f.bytes[0];
    }
    anchor.formCount = forms.size();
}

std::size_t LikePattern::find(const Anchor &anchor, const unsigned char *t, std::size_t from, std::size_t n)
{
    if (anchor.formCount == 0)
        return findFolded(foldTable(), anchor.folded, t, from, n);
    const unsigned char lead = anchor.forms[0].bytes[0];
    while (from < n) {
        const void *hit = std::memchr(t + from, lead, n - from);
        if (!hit)
            return kNotFound;
        const std::size_t i = static_cast<std::size_t>(static_cast<const unsigned char *>(hit) - t);
        for (std::size_t k = 0; k < anchor.formCount; ++k) {
            const Form &f = anchor.forms[k];
            if (i + f.length <= n && std::memcmp(t + i, f.bytes.data(), f.length) == 0)
                return i;
        }
        from = i + 1;
    }
    return kNotFound;
}

bool likeMatch(std::string_view patternUtf8, std::string_view textUtf8)
{
    return LikePattern(patternUtf8).matches(textUtf8);
}

} // namespace zeplo::czech
