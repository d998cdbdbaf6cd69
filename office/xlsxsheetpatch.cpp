#include "office/xlsxsheetpatch.h"

#include "office/workbook.h"
#include "office/xlsxsheetpatchxml.h"

#include <algorithm>
#include <cstring>

namespace xlsx {

namespace {

constexpr size_t kChunk = size_t(1) << 18;
// No tag of a sheet comes near this; a longer one is refused rather than buffered.
constexpr size_t kTagLimit = size_t(4) << 20;

} // namespace

SheetPatchStream::SheetPatchStream(Source source, const SheetEdits& edits, const SheetLayout& layout,
                                   QString part)
    : m_source(std::move(source)), m_part(std::move(part)), m_edits(edits), m_next(edits.begin()) {
    // Every cell element of the result: those read, and one for each edit.
    int top = layout.top, left = layout.left, bottom = layout.bottom, right = layout.right;
    for (const auto& [key, text] : edits) {
        const int row = keyRow(key), column = keyColumn(key);
        if (top == 0) {
            top = bottom = row;
            left = right = column;
        }
        top = std::min(top, row);
        bottom = std::max(bottom, row);
        left = std::min(left, column);
        right = std::max(right, column);
    }
    m_dimension = top ? rangeText(top, left, bottom, right) : std::string("A1");
    planHandovers(layout);
    m_buf.resize(kChunk);
}

void SheetPatchStream::fail(const QString& what) const {
    throw WorkbookError(QStringLiteral("%1, byte %2: %3").arg(m_part).arg(m_consumed + qint64(m_pos)).arg(what));
}

bool SheetPatchStream::fill() {
    flushCopy();
    if (m_eof)
        return false;
    if (m_pos > 0) {
        std::memmove(m_buf.data(), m_buf.data() + m_pos, m_end - m_pos);
        m_consumed += qint64(m_pos);
        m_end -= m_pos;
        m_pos = 0;
    }
    if (m_buf.size() - m_end < kChunk / 2)
        m_buf.resize(m_buf.size() * 2);
    const qint64 n = m_source(m_buf.data() + m_end, qint64(m_buf.size() - m_end));
    if (n <= 0) {
        m_eof = true;
        return false;
    }
    m_end += size_t(n);
    return true;
}

size_t SheetPatchStream::find(size_t from, std::string_view needle) {
    for (;;) {
        const char* begin = m_buf.data() + m_pos;
        const std::string_view have(begin, m_end - m_pos);
        const size_t at = have.find(needle, from);
        if (at != npos)
            return at;
        if (have.size() >= needle.size())
            from = std::max(from, have.size() - needle.size() + 1);
        if (have.size() > kTagLimit)
            fail(QStringLiteral("a construct longer than %1 bytes").arg(kTagLimit));
        if (!fill())
            return npos;
    }
}

size_t SheetPatchStream::tagEnd(size_t from) {
    char quote = 0;
    for (;;) {
        const char* p = m_buf.data() + m_pos;
        const size_t have = m_end - m_pos;
        for (size_t i = from; i < have; ++i) {
            const char c = p[i];
            if (quote) {
                if (c == quote)
                    quote = 0;
            } else if (c == '"' || c == '\'') {
                quote = c;
            } else if (c == '>') {
                return i;
            }
        }
        from = have;
        if (have > kTagLimit)
            fail(QStringLiteral("a tag longer than %1 bytes").arg(kTagLimit));
        if (!fill())
            fail(QStringLiteral("the sheet ends inside a tag"));
    }
}

void SheetPatchStream::copy(size_t from, size_t to) {
    if (m_copyFrom != npos && m_copyTo == from) {
        m_copyTo = to;
        return;
    }
    flushCopy();
    m_copyFrom = from;
    m_copyTo = to;
}

void SheetPatchStream::flushCopy() {
    if (m_copyFrom == npos)
        return;
    m_out.append(m_buf.data() + m_copyFrom, m_copyTo - m_copyFrom);
    m_copyFrom = npos;
}

void SheetPatchStream::content(std::string_view bytes) {
    const Frame top = m_frames.empty() ? Frame::Copy : m_frames.back();
    switch (top) {
    case Frame::Drop:
    case Frame::ReplacedCell:
        break;
    case Frame::CaptureFormula:
        m_capture.append(bytes);
        if (m_capture.size() > kTagLimit)
            fail(QStringLiteral("a formula longer than %1 bytes").arg(kTagLimit));
        break;
    default: {
        const size_t from = size_t(bytes.data() - m_buf.data());
        copy(from, from + bytes.size());
    }
    }
}

void SheetPatchStream::passThrough(size_t end) {
    content(std::string_view(m_buf.data() + m_pos, end - m_pos));
    m_pos = end;
}

qint64 SheetPatchStream::read(char* buffer, qint64 size) {
    const auto ready = [&]() {
        const size_t pending = m_copyFrom == npos ? 0 : m_copyTo - m_copyFrom;
        return m_out.size() - m_outPos + pending;
    };
    while (ready() < size_t(size) && step()) {
    }
    flushCopy();
    const size_t n = std::min(m_out.size() - m_outPos, size_t(size));
    std::memcpy(buffer, m_out.data() + m_outPos, n);
    m_outPos += n;
    if (m_outPos == m_out.size()) {
        m_out.clear();
        m_outPos = 0;
    } else if (m_outPos > kChunk) {
        m_out.erase(0, m_outPos);
        m_outPos = 0;
    }
    return qint64(n);
}

bool SheetPatchStream::step() {
    if (m_done)
        return false;
    if (m_pos == m_end && !fill()) {
        if (!m_sawRoot)
            fail(QStringLiteral("the sheet has no root element"));
        if (!m_frames.empty())
            fail(QStringLiteral("the sheet ends inside an element"));
        m_done = true;
        return false;
    }
    const char* p = m_buf.data() + m_pos;
    if (*p != '<') {
        if (!m_frames.empty() && m_frames.back() == Frame::CaptureFormula) {
            // The text is taken whole, so that no entity is cut in two.
            const size_t lt = find(0, "<");
            if (lt == npos)
                fail(QStringLiteral("the sheet ends inside an element"));
            passThrough(m_pos + lt);
            return true;
        }
        const void* lt = std::memchr(p, '<', m_end - m_pos);
        passThrough(lt ? size_t(static_cast<const char*>(lt) - m_buf.data()) : m_end);
        return true;
    }
    while (m_end - m_pos < 9 && fill()) {
    }
    const std::string_view head(m_buf.data() + m_pos, std::min<size_t>(9, m_end - m_pos));
    const auto construct = [&](size_t open, std::string_view close) {
        const size_t at = find(open, close);
        if (at == npos)
            fail(QStringLiteral("the sheet ends inside a comment or a processing instruction"));
        if (!m_frames.empty() && m_frames.back() == Frame::CaptureFormula && open == 9) {
            // a formula in a character data section: its text as it stands
            std::string literal(m_buf.data() + m_pos + 9, at - 9);
            m_pos += at + close.size();
            std::string escaped;
            appendEscaped(escaped, literal);
            m_capture += escaped;
            return;
        }
        passThrough(m_pos + at + close.size());
    };
    if (head.substr(0, 4) == "<!--")
        construct(4, "-->");
    else if (head.substr(0, 9) == "<![CDATA[")
        construct(9, "]]>");
    else if (head.substr(0, 2) == "<?")
        construct(2, "?>");
    else if (head.substr(0, 2) == "<!")
        fail(QStringLiteral("document type declarations are not allowed"));
    else {
        const size_t gt = tagEnd(1);
        Tag tag;
        tag.raw = std::string_view(m_buf.data() + m_pos, gt + 1);
        std::string_view inner = tag.raw.substr(1, gt - 1);
        if (!inner.empty() && inner.front() == '/') {
            tag.end = true;
            inner.remove_prefix(1);
            while (!inner.empty() && isSpace(inner.back()))
                inner.remove_suffix(1);
            tag.name = inner;
        } else {
            if (!inner.empty() && inner.back() == '/') {
                tag.selfClosing = true;
                inner.remove_suffix(1);
            }
            size_t n = 0;
            while (n < inner.size() && !isSpace(inner[n]))
                ++n;
            tag.name = inner.substr(0, n);
            tag.attributes = inner.substr(n);
        }
        if (tag.name.empty())
            fail(QStringLiteral("a tag without a name"));
        const size_t colon = tag.name.find(':');
        tag.local = colon == npos ? tag.name : tag.name.substr(colon + 1);
        if (tag.end)
            endTag(tag);
        else
            startTag(tag);
        m_pos += gt + 1;
    }
    return true;
}

void SheetPatchStream::open(Frame frame, const Tag& tag) {
    if (!tag.selfClosing)
        m_frames.push_back(frame);
}

} // namespace xlsx
