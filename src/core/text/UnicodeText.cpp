#include "core/text/UnicodeText.h"

#include <memory>

#include <unicode/brkiter.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/uscript.h>
#include <unicode/utf8.h>

namespace sayloft {
namespace {

// A character-boundary iterator per thread: creating one loads ICU's rules, which costs far more
// than using it.
icu::BreakIterator* characterIterator() {
    thread_local std::unique_ptr<icu::BreakIterator> iterator = [] {
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::BreakIterator> created(
            icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
        return U_SUCCESS(status) ? std::move(created) : nullptr;
    }();
    return iterator.get();
}

}  // namespace

bool UnicodeText::isValidUtf8(std::string_view bytes) {
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
    const auto length = static_cast<std::int32_t>(bytes.size());
    if (static_cast<std::size_t>(length) != bytes.size()) {
        return false;
    }
    std::int32_t offset = 0;
    while (offset < length) {
        UChar32 codePoint = 0;
        U8_NEXT(data, offset, length, codePoint);
        if (codePoint < 0) {
            return false;
        }
    }
    return true;
}

bool UnicodeText::isWhitespaceOrNewline(char32_t codePoint) {
    if (codePoint == 0x09 || (codePoint >= 0x0A && codePoint <= 0x0D) || codePoint == 0x85) {
        return true;
    }
    const auto category = u_charType(static_cast<UChar32>(codePoint));
    return category == U_SPACE_SEPARATOR || category == U_LINE_SEPARATOR ||
           category == U_PARAGRAPH_SEPARATOR;
}

std::string UnicodeText::trim(std::string_view utf8) {
    const auto* data = reinterpret_cast<const std::uint8_t*>(utf8.data());
    const auto length = static_cast<std::int32_t>(utf8.size());

    std::int32_t begin = 0;
    while (begin < length) {
        std::int32_t next = begin;
        UChar32 codePoint = 0;
        U8_NEXT(data, next, length, codePoint);
        if (codePoint < 0 || !isWhitespaceOrNewline(static_cast<char32_t>(codePoint))) {
            break;
        }
        begin = next;
    }
    std::int32_t end = length;
    while (end > begin) {
        std::int32_t previous = end;
        UChar32 codePoint = 0;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wold-style-cast"  // inside ICU's macro
        U8_PREV(data, begin, previous, codePoint);
#pragma GCC diagnostic pop
        if (codePoint < 0 || !isWhitespaceOrNewline(static_cast<char32_t>(codePoint))) {
            break;
        }
        end = previous;
    }
    return std::string(
        utf8.substr(static_cast<std::size_t>(begin), static_cast<std::size_t>(end - begin)));
}

std::int64_t UnicodeText::graphemeCount(std::string_view utf8) {
    const icu::UnicodeString text = icu::UnicodeString::fromUTF8(
        icu::StringPiece(utf8.data(), static_cast<std::int32_t>(utf8.size())));
    icu::BreakIterator* iterator = characterIterator();
    if (iterator == nullptr) {
        return text.countChar32();  // ICU data missing: code points are the closest measure
    }
    iterator->setText(text);
    std::int64_t count = 0;
    for (std::int32_t boundary = iterator->next(); boundary != icu::BreakIterator::DONE;
         boundary = iterator->next()) {
        ++count;
    }
    return count;
}

std::vector<std::string> UnicodeText::graphemeChunks(std::string_view utf8,
                                                     std::size_t maxGraphemes) {
    std::vector<std::string> pieces;
    if (utf8.empty() || maxGraphemes == 0) {
        return pieces;
    }
    const icu::UnicodeString text = icu::UnicodeString::fromUTF8(
        icu::StringPiece(utf8.data(), static_cast<std::int32_t>(utf8.size())));
    auto appendPiece = [&](std::int32_t begin, std::int32_t end) {
        std::string piece;
        text.tempSubStringBetween(begin, end).toUTF8String(piece);
        pieces.push_back(std::move(piece));
    };
    icu::BreakIterator* iterator = characterIterator();
    std::int32_t pieceStart = 0;
    std::size_t inPiece = 0;
    if (iterator == nullptr) {  // ICU data missing: code points are the closest measure
        for (std::int32_t offset = 0; offset < text.length();
             offset = text.moveIndex32(offset, 1)) {
            if (inPiece == maxGraphemes) {
                appendPiece(pieceStart, offset);
                pieceStart = offset;
                inPiece = 0;
            }
            ++inPiece;
        }
    } else {
        iterator->setText(text);
        for (std::int32_t boundary = iterator->next(); boundary != icu::BreakIterator::DONE;
             boundary = iterator->next()) {
            if (++inPiece == maxGraphemes) {
                appendPiece(pieceStart, boundary);
                pieceStart = boundary;
                inPiece = 0;
            }
        }
    }
    if (pieceStart < text.length()) {
        appendPiece(pieceStart, text.length());
    }
    return pieces;
}

std::u16string UnicodeText::toUtf16(std::string_view utf8) {
    const icu::UnicodeString text = icu::UnicodeString::fromUTF8(
        icu::StringPiece(utf8.data(), static_cast<std::int32_t>(utf8.size())));
    return std::u16string(text.getBuffer(), static_cast<std::size_t>(text.length()));
}

std::u32string UnicodeText::typedCodePoints(const std::u16string& text) {
    std::u32string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t unit = text[i];
        if (unit >= 0xd800 && unit < 0xdc00 && i + 1 < text.size() && text[i + 1] >= 0xdc00 &&
            text[i + 1] < 0xe000) {
            out.push_back(0x10000 + ((char32_t{unit} - 0xd800) << 10) + (text[i + 1] - 0xdc00));
            ++i;
        } else if (unit >= 0xd800 && unit < 0xe000) {
            out.push_back(0xfffd);  // a lone surrogate
        } else if (unit == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') {
            continue;  // CR LF is one line break
        } else {
            out.push_back(unit == u'\r' ? U'\n' : char32_t{unit});
        }
    }
    return out;
}

bool UnicodeText::wantsSpaceAfter(std::string_view utf8) {
    const auto* data = reinterpret_cast<const std::uint8_t*>(utf8.data());
    const auto length = static_cast<std::int32_t>(utf8.size());
    std::int32_t end = length;
    bool last = true;
    while (end > 0) {
        UChar32 codePoint = 0;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wold-style-cast"  // inside ICU's macro
        U8_PREV(data, 0, end, codePoint);
#pragma GCC diagnostic pop
        if (codePoint < 0) {
            last = false;
            continue;  // an ill-formed byte belongs to no script
        }
        if (last && isWhitespaceOrNewline(static_cast<char32_t>(codePoint))) {
            return false;
        }
        last = false;
        UErrorCode status = U_ZERO_ERROR;
        UScriptCode scripts[32];
        int count = uscript_getScriptExtensions(codePoint, scripts, 32, &status);
        if (U_FAILURE(status) || count <= 0) {
            status = U_ZERO_ERROR;
            scripts[0] = uscript_getScript(codePoint, &status);
            count = U_SUCCESS(status) ? 1 : 0;
        }
        bool ofAScript = false;
        for (int i = 0; i < count; ++i) {
            if (scripts[i] == USCRIPT_COMMON || scripts[i] == USCRIPT_INHERITED) {
                continue;
            }
            if (uscript_breaksBetweenLetters(scripts[i]) != 0) {
                return false;
            }
            ofAScript = true;
        }
        if (ofAScript) {
            return true;
        }
    }
    return length > 0;
}

std::string UnicodeText::oneLine(std::string_view utf8, std::size_t maxGraphemes) {
    const auto* data = reinterpret_cast<const std::uint8_t*>(utf8.data());
    const auto length = static_cast<std::int32_t>(utf8.size());
    std::string joined;
    joined.reserve(utf8.size());
    bool pendingSpace = false;
    std::int32_t offset = 0;
    while (offset < length) {
        const std::int32_t start = offset;
        UChar32 codePoint = 0;
        U8_NEXT(data, offset, length, codePoint);
        if (codePoint >= 0 && isWhitespaceOrNewline(static_cast<char32_t>(codePoint))) {
            pendingSpace = !joined.empty();
            continue;
        }
        if (pendingSpace) {
            joined.push_back(' ');
            pendingSpace = false;
        }
        joined.append(
            utf8.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(offset - start)));
    }
    if (maxGraphemes == 0) {
        return {};
    }
    if (static_cast<std::size_t>(graphemeCount(joined)) <= maxGraphemes) {
        return joined;
    }
    const auto pieces = graphemeChunks(joined, maxGraphemes - 1);
    std::string cut = pieces.empty() ? std::string() : UnicodeText::trim(pieces.front());
    return cut + "\u2026";
}

}  // namespace sayloft
