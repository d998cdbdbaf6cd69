#include "office/xlsxsheetpatch.h"

#include "office/xlsxsheetpatchxml.h"

#include <algorithm>
#include <climits>
#include <set>
#include <unordered_map>

namespace xlsx {

bool editsRemoveFormula(const SheetLayout& layout, const SheetEdits& edits) {
    for (const SheetLayout::Formula& f : layout.formulas)
        if (edits.count(f.key))
            return true;
    return false;
}

// The cell that carries a shared formula's text and range may be overwritten. Its group then
// passes to the first remaining member, which gets the text, moved to its own place, and the
// range of the members that remain. Edits happen in sheet order, so a member edited later still
// counts for the range at the moment the group passes on, and may itself pass it on again.
void SheetPatchStream::planHandovers(const SheetLayout& layout) {
    std::set<uint32_t> groups;
    for (const SheetLayout::Formula& f : layout.formulas)
        if (f.master && f.group != SheetLayout::notShared && m_edits.count(f.key))
            groups.insert(f.group);
    if (groups.empty())
        return;
    struct Members {
        std::vector<CellKey> keys;
        std::set<CellKey> masters;
    };
    std::unordered_map<uint32_t, Members> byGroup;
    for (const SheetLayout::Formula& f : layout.formulas)
        if (groups.count(f.group)) {
            Members& m = byGroup[f.group];
            m.keys.push_back(f.key);
            if (f.master)
                m.masters.insert(f.key);
        }
    for (auto& [group, members] : byGroup) {
        const std::vector<CellKey>& keys = members.keys;
        const size_t n = keys.size();
        // The range of the members after each position: none of them is edited yet when the
        // edit at that position comes.
        struct Box {
            int top = INT_MAX, left = INT_MAX, bottom = 0, right = 0;
            void add(CellKey k) {
                top = std::min(top, keyRow(k));
                left = std::min(left, keyColumn(k));
                bottom = std::max(bottom, keyRow(k));
                right = std::max(right, keyColumn(k));
            }
            void add(const Box& b) {
                top = std::min(top, b.top);
                left = std::min(left, b.left);
                bottom = std::max(bottom, b.bottom);
                right = std::max(right, b.right);
            }
            bool empty() const { return bottom == 0; }
        };
        std::vector<Box> after(n + 1);
        for (size_t i = n; i-- > 0;) {
            after[i] = after[i + 1];
            after[i].add(keys[i]);
        }
        Box before; // members before the position that were not edited
        size_t firstBefore = n;
        for (size_t i = 0; i < n; ++i) {
            const CellKey k = keys[i];
            const bool edited = m_edits.count(k) != 0;
            if (edited && members.masters.count(k)) {
                Box remaining = before;
                remaining.add(after[i + 1]);
                const size_t front = firstBefore < n ? firstBefore : i + 1;
                // A member ahead of the master in the sheet is passed before the master's text
                // is known: the group then keeps no master, as it would in a sheet in any order.
                if (!remaining.empty() && front > i) {
                    m_handovers[keys[front]] = {group, k,
                                                rangeText(remaining.top, remaining.left, remaining.bottom,
                                                          remaining.right)};
                    members.masters.insert(keys[front]);
                    m_formulaTexts.emplace(k, std::string());
                }
            }
            if (!edited) {
                before.add(k);
                if (firstBefore == n)
                    firstBefore = i;
            }
        }
    }
}

void SheetPatchStream::emitHandoverFormula(const Tag& f, CellKey at) {
    static thread_local std::vector<Attribute> attributes;
    if (!parseAttributes(f.attributes, attributes))
        fail(QStringLiteral("a malformed formula"));
    const Handover& h = m_handovers.at(at);
    const std::string moved = shiftFormula(m_formulaTexts[h.from], keyRow(at) - keyRow(h.from),
                                           keyColumn(at) - keyColumn(h.from));
    flushCopy();
    m_out += '<';
    m_out += f.name;
    for (const Attribute& a : attributes)
        if (a.name != "ref") {
            m_out += ' ';
            m_out += a.raw;
        }
    m_out += " ref=\"" + h.ref + "\">";
    appendEscaped(m_out, moved);
    m_out += "</";
    m_out += f.name;
    m_out += '>';
}

} // namespace xlsx
