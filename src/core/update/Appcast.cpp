#include "core/update/Appcast.h"

#include <charconv>
#include <cstring>
#include <exception>
#include <memory>
#include <string>

#include <expat.h>

#include "core/update/UpdateError.h"
#include "core/update/UpdateVersion.h"

namespace sayloft {

namespace {

// Expat joins a namespaced name as "<namespace URI><separator><local name>".
constexpr char separator = ' ';
constexpr std::string_view sparkle = "http://www.andymatuschak.org/xml-namespaces/sparkle ";

std::string trimmed(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

struct FeedReader {
    XML_Parser parser = nullptr;
    std::vector<std::string> open;  // the names of the open elements, outermost first
    bool rootSeen = false;
    bool doctype = false;
    std::optional<AppcastItem> item;  // the item being read
    std::string text;                 // the text of the item's child element being read
    std::vector<AppcastItem> items;
    std::exception_ptr failure;  // thrown in a handler; kept, as it cannot cross expat's frames

    // Runs work; an exception stops the parser and is rethrown once expat has returned.
    template <class Work>
    void guard(Work&& work) {
        if (failure) {
            return;
        }
        try {
            work(*this);
        } catch (...) {
            failure = std::current_exception();
            XML_StopParser(parser, XML_FALSE);
        }
    }

    static std::string_view sparkleName(std::string_view name) {
        return name.starts_with(sparkle) ? name.substr(sparkle.size()) : std::string_view{};
    }

    void start(const char* name, const char** attributes) {
        const std::string_view element(name);
        if (open.empty()) {
            rootSeen = element == "rss";
            if (!rootSeen) {
                XML_StopParser(parser, XML_FALSE);
                return;
            }
        }
        open.emplace_back(element);
        if (element == "item" && open.size() == 3 && open[1] == "channel") {
            item.emplace();
        } else if (item && element == "enclosure" && open.size() == 4) {
            for (const char** a = attributes; *a != nullptr; a += 2) {
                assign(a[0], a[1]);
            }
        }
        text.clear();
    }

    void end() {
        if (item && open.size() == 4) {
            assign(open.back(), text);
        } else if (item && open.size() == 3) {
            keep(std::move(*item));
            item.reset();
        }
        open.pop_back();
        text.clear();
    }

    // An enclosure attribute or an item child element with this name and value.
    void assign(std::string_view name, const std::string& raw) {
        AppcastItem& target = *item;
        const std::string value = trimmed(raw);
        const std::string_view local = sparkleName(name);
        if (name == "url") {
            target.packageUrl = value;
        } else if (name == "length") {
            std::uint64_t length = 0;
            const auto [end, error] =
                std::from_chars(value.data(), value.data() + value.size(), length);
            target.length = error == std::errc{} && end == value.data() + value.size() ? length : 0;
        } else if (name == "link" && target.notesUrl.empty()) {
            target.notesUrl = value;
        } else if (local == "version") {
            target.version = value;
        } else if (local == "shortVersionString") {
            target.displayVersion = value;
        } else if (local == "edSignature") {
            target.signature = value;
        } else if (local == "releaseNotesLink") {
            target.notesUrl = value;
        }
    }

    void keep(AppcastItem candidate) {
        if (candidate.packageUrl.empty() || candidate.length == 0 || candidate.signature.empty() ||
            !UpdateVersion::isValid(candidate.version)) {
            return;
        }
        if (candidate.displayVersion.empty()) {
            candidate.displayVersion = candidate.version;
        }
        items.push_back(std::move(candidate));
    }
};

}  // namespace

std::vector<AppcastItem> Appcast::parse(std::string_view xml) {
    FeedReader reader;
    const std::unique_ptr<XML_ParserStruct, decltype(&XML_ParserFree)> parser(
        XML_ParserCreateNS(nullptr, separator), &XML_ParserFree);
    if (!parser) {
        throw std::bad_alloc();
    }
    reader.parser = parser.get();
    XML_SetUserData(reader.parser, &reader);
    XML_SetElementHandler(
        reader.parser,
        [](void* user, const XML_Char* name, const XML_Char** attributes) {
            static_cast<FeedReader*>(user)->guard(
                [&](FeedReader& self) { self.start(name, attributes); });
        },
        [](void* user, const XML_Char*) {
            static_cast<FeedReader*>(user)->guard([](FeedReader& self) { self.end(); });
        });
    XML_SetCharacterDataHandler(reader.parser, [](void* user, const XML_Char* data, int length) {
        static_cast<FeedReader*>(user)->guard(
            [&](FeedReader& self) { self.text.append(data, static_cast<std::size_t>(length)); });
    });
    XML_SetStartDoctypeDeclHandler(
        reader.parser, [](void* user, const XML_Char*, const XML_Char*, const XML_Char*, int) {
            auto* self = static_cast<FeedReader*>(user);
            self->doctype = true;
            XML_StopParser(self->parser, XML_FALSE);
        });
    const auto status =
        XML_Parse(reader.parser, xml.data(), static_cast<int>(xml.size()), XML_TRUE);
    if (reader.failure) {
        std::rethrow_exception(reader.failure);
    }
    if (reader.doctype) {
        throw UpdateError(UpdateError::Code::badFeed, "the update feed declares a DOCTYPE");
    }
    if (!reader.rootSeen) {
        throw UpdateError(UpdateError::Code::badFeed, "the update feed is not an RSS document");
    }
    if (status != XML_STATUS_OK) {
        const XML_LChar* reason = XML_ErrorString(XML_GetErrorCode(reader.parser));
        throw UpdateError(UpdateError::Code::badFeed,
                          "the update feed is not well-formed XML (" +
                              std::string(reason != nullptr ? reason : "unknown error") +
                              ", line " + std::to_string(XML_GetCurrentLineNumber(reader.parser)) +
                              ")");
    }
    return std::move(reader.items);
}

std::optional<AppcastItem> Appcast::newest(const std::vector<AppcastItem>& items,
                                           std::string_view running) {
    const AppcastItem* best = nullptr;
    for (const auto& item : items) {
        if (UpdateVersion::compare(item.version, running) > 0 &&
            (best == nullptr || UpdateVersion::compare(item.version, best->version) > 0)) {
            best = &item;
        }
    }
    return best != nullptr ? std::optional(*best) : std::nullopt;
}

}  // namespace sayloft
