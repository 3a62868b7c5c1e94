#pragma once

#include <QString>

namespace tallyvo::WebKeys {

// The shape of a token's web key (tokens/WebKeys.h makes and finds them). It lives here so that
// anything that takes a key from outside, the queue's figures included, can refuse a malformed
// one before it reaches a query, without linking the tokens subsystem.

// Random bytes behind each key: 128 bits, the least a key that guards a visitor's token may have.
inline constexpr int randomBytes = 16;
// Characters of a key: the bytes in base64url without padding, safe in a path as they are.
inline constexpr int length = 22;

// Whether text has a key's shape; what does not is never looked up.
inline bool wellFormed(const QString& text)
{
    if (text.size() != length)
        return false;
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        const bool ok = (u >= u'A' && u <= u'Z') || (u >= u'a' && u <= u'z') || (u >= u'0' && u <= u'9')
                        || u == u'-' || u == u'_';
        if (!ok)
            return false;
    }
    return true;
}

} // namespace tallyvo::WebKeys
