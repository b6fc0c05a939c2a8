#pragma once

#include <optional>
#include <string_view>
#include <vector>

#include "core/update/AppcastItem.h"

namespace sayloft {

// The update feed: an RSS 2.0 document whose channel lists releases as items. Each item's
// enclosure carries the package's url and length and, in the Sparkle namespace
// (http://www.andymatuschak.org/xml-namespaces/sparkle), its version, shortVersionString and
// edSignature; those three may also be child elements of the item, as may releaseNotesLink.
struct Appcast {
    // The usable items in feed order. An item without a url, a valid version (UpdateVersion), a
    // positive length or a signature is skipped. Throws UpdateError (badFeed) when the text is
    // not well-formed XML with an <rss> root, or declares a DOCTYPE (a feed needs none, and
    // refusing it refuses every entity trick with it).
    static std::vector<AppcastItem> parse(std::string_view xml);

    // The item with the highest version above `running`, or nullopt when there is none.
    static std::optional<AppcastItem> newest(const std::vector<AppcastItem>& items,
                                             std::string_view running);
};

}  // namespace sayloft
