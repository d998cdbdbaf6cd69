#include "office/xlsxsharedstrings.h"

#include "office/workbook.h"
#include "office/xmlscan.h"
#include "office/zipfile.h"

namespace xlsx {

namespace {

// A shared string item that is one plain "<t>" element. content: the raw text after the item's
// start tag; used: how much of it the item took, its end tag included.
bool plainSharedString(std::string_view content, std::string& text, size_t& used) {
    if (content.size() < 3 || content[0] != '<' || content[1] != 't')
        return false;
    const size_t gt = content.find('>');
    if (gt == std::string_view::npos || (gt != 2 && content[2] != ' ') || content[gt - 1] == '/')
        return false;
    const size_t close = content.find('<', gt + 1);
    if (close == std::string_view::npos || content.substr(close, 9) != "</t></si>")
        return false;
    text.clear();
    used = close + 9;
    return appendXmlText(content.substr(gt + 1, close - gt - 1), text);
}

} // namespace

void readSharedStrings(const ZipArchive& zip, const QString& part, int64_t lastNeeded, SharedStrings& shared) {
    ZipEntryStream stream(zip, part);
    XmlScanner xml([&](char* b, qint64 n) { return stream.read(b, n); }, part);
    bool inItem = false, inText = false;
    int phonetic = 0;
    std::string item;
    // False once the items needed are there.
    auto addItem = [&]() {
        inItem = false;
        unescapeOoxml(item);
        shared.pool += item;
        if (shared.pool.size() > UINT32_MAX)
            xml.fail(QStringLiteral("shared strings beyond 4 GiB"));
        shared.ends.push_back(uint32_t(shared.pool.size()));
        // a glance at the top of a sheet needs no more
        return lastNeeded < 0 || int64_t(shared.size()) <= lastNeeded;
    };
    for (;;) {
        const auto ev = xml.next();
        if (ev == XmlScanner::End)
            break;
        if (ev == XmlScanner::StartElement) {
            const std::string_view name = xml.name();
            if (name == "si") {
                inItem = true;
                item.clear();
                // Most items are one plain text: taken in one step.
                size_t used = 0;
                if (plainSharedString(xml.peekAhead(), item, used)) {
                    xml.skipAhead(used);
                    if (!addItem())
                        return;
                }
            } else if (name == "rPh") {
                ++phonetic;
            } else if (name == "t" && inItem && phonetic == 0) {
                inText = true;
            }
        } else if (ev == XmlScanner::EndElement) {
            const std::string_view name = xml.name();
            if (name == "t") {
                inText = false;
            } else if (name == "rPh") {
                --phonetic;
            } else if (name == "si" && inItem) {
                if (!addItem())
                    return;
            }
        } else if (inText) {
            xml.appendText(item);
        }
    }
    shared.complete = true;
}

} // namespace xlsx
