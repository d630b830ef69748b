#include "registry/domtext.h"

#include <QDomDocument>

#include <algorithm>

namespace ox::detail {

namespace {

// An upper bound of the element nesting the DOM parser can build from a text, found from the
// markup delimiters alone. Comments, CDATA sections and processing instructions hold no elements;
// a start tag ends at the first '>' outside quotes and opens a level unless it ends in "/>"; an end
// tag closes one. Whatever the parser would reject is counted as the tag it resembles, and the
// parser stops at its first error, so the bound holds for everything it reads.
// In a document type declaration, every '<' inside a quoted literal, written as it is or as a
// character reference ("&#60;", "&#x3C;"), counts as one more level for the whole text: an entity's
// replacement text may carry elements wherever the entity is used, and entities nest inside one
// another without repeating.
class NestingScan
{
public:
    explicit NestingScan(const QString& text) : m_text(text) {}

    // True when nothing can nest deeper than kMaxXmlNesting; otherwise false with failure() the
    // index at which the limit is passed.
    bool run()
    {
        for (int i = 0; (i = m_text.indexOf(QLatin1Char('<'), i)) >= 0;) {
            const int at = i;
            bool selfClosing = false;
            if (startsWith(i, "<!--")) {
                i = skipPast(i + 4, "-->");
            } else if (startsWith(i, "<![CDATA[")) {
                i = skipPast(i + 9, "]]>");
            } else if (startsWith(i, "<?")) {
                i = skipPast(i + 2, "?>");
            } else if (startsWith(i, "<!DOCTYPE")) {
                i = skipDoctype(i + 9);
                if (i < 0)
                    return false;
            } else if (startsWith(i, "<!")) {
                i = skipPast(i + 2, ">");
            } else if (startsWith(i, "</")) {
                i = skipTag(i + 2, &selfClosing);
                m_depth = std::max(0, m_depth - 1);
            } else {
                i = skipTag(i + 1, &selfClosing);
                if (!admit(m_entityLevels + m_depth + 1, at))
                    return false;
                if (!selfClosing)
                    ++m_depth;
            }
        }
        return true;
    }

    int failure() const { return m_failure; }

private:
    // Case-insensitive, so that every spelling the parser might accept is treated alike.
    bool startsWith(int i, const char* s) const
    {
        const QLatin1String l(s);
        return m_text.midRef(i, l.size()).compare(l, Qt::CaseInsensitive) == 0;
    }

    // The index after the first `end` at or after i; the text's size when there is none.
    int skipPast(int i, const char* end) const
    {
        const QLatin1String l(end);
        const int found = m_text.indexOf(l, i);
        return found < 0 ? m_text.size() : found + l.size();
    }

    // From inside a tag to after its '>' (outside quotes); `selfClosing` tells whether "/>" ends it.
    int skipTag(int i, bool* selfClosing) const
    {
        QChar quote; // the open quote, null outside quotes
        QChar previous;
        for (; i < m_text.size(); ++i) {
            const QChar c = m_text.at(i);
            if (!quote.isNull()) {
                if (c == quote)
                    quote = QChar();
            } else if (c == QLatin1Char('"') || c == QLatin1Char('\'')) {
                quote = c;
            } else if (c == QLatin1Char('>')) {
                *selfClosing = previous == QLatin1Char('/');
                return i + 1;
            }
            previous = c;
        }
        *selfClosing = false;
        return i;
    }

    // From after "<!DOCTYPE" to after its closing '>', counting the levels of quoted literals;
    // -1 when they pass the limit.
    int skipDoctype(int i)
    {
        bool subset = false; // inside the internal subset "[...]"
        while (i < m_text.size()) {
            const QChar c = m_text.at(i);
            if (c == QLatin1Char('"') || c == QLatin1Char('\'')) {
                int end = m_text.indexOf(c, i + 1);
                if (end < 0)
                    end = m_text.size();
                for (int k = i + 1; k < end; ++k) {
                    if ((m_text.at(k) == QLatin1Char('<') || isLessThanReference(k, end)) &&
                        !admit(++m_entityLevels, k))
                        return -1;
                }
                i = end + 1;
            } else if (subset && startsWith(i, "<!--")) {
                i = skipPast(i + 4, "-->");
            } else if (subset && startsWith(i, "<?")) {
                i = skipPast(i + 2, "?>");
            } else if (c == QLatin1Char('[') || c == QLatin1Char(']')) {
                subset = c == QLatin1Char('[');
                ++i;
            } else if (c == QLatin1Char('>') && !subset) {
                return i + 1;
            } else {
                ++i;
            }
        }
        return i;
    }

    // Whether a character reference to '<' (decimal or hexadecimal) begins at i, before `end`.
    bool isLessThanReference(int i, int end) const
    {
        if (!startsWith(i, "&#"))
            return false;
        const bool hex = startsWith(i + 2, "x");
        const int digits = i + (hex ? 3 : 2);
        const int semicolon = m_text.indexOf(QLatin1Char(';'), digits);
        if (semicolon < 0 || semicolon >= end)
            return false;
        bool ok = false;
        const uint code = m_text.midRef(digits, semicolon - digits).toUInt(&ok, hex ? 16 : 10);
        return ok && code == '<';
    }

    // Whether an element at `level` is allowed; otherwise remembers `at`.
    bool admit(int level, int at)
    {
        if (level <= kMaxXmlNesting)
            return true;
        m_failure = at;
        return false;
    }

    const QString& m_text;
    int m_depth = 0;        // elements open at the current position
    int m_entityLevels = 0; // levels that entity declarations may add anywhere
    int m_failure = -1;
};

} // namespace

bool ParseDomText(QDomDocument& document, const QString& xml, QString* message, int* line, int* column)
{
    NestingScan scan(xml);
    if (scan.run())
        return document.setContent(xml, false, message, line, column);

    const int at = scan.failure();
    const int lineStart = at > 0 ? xml.lastIndexOf(QLatin1Char('\n'), at - 1) + 1 : 0;
    if (message)
        *message = QStringLiteral("elements nested deeper than %1 levels").arg(kMaxXmlNesting);
    if (line)
        *line = int(std::count(xml.cbegin(), xml.cbegin() + at, QLatin1Char('\n'))) + 1;
    if (column)
        *column = at - lineStart + 1;
    return false;
}

} // namespace ox::detail
