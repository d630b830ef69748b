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
// Entity declarations are refused outright: the parser expands an entity wherever it is used, and
// a replacement text may open elements without closing them, so a handful of declarations and
// references could nest without bound. The library's own texts never declare entities.
class NestingScan
{
public:
    explicit NestingScan(const QString& text) : m_text(text) {}

    // True when nothing can nest deeper than kMaxXmlNesting and nothing declares an entity;
    // otherwise false with failure() the index at which the limit is passed or the declaration
    // begins, and reason() what was found.
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
                if (!admit(m_depth + 1, at))
                    return false;
                if (!selfClosing)
                    ++m_depth;
            }
        }
        return true;
    }

    int failure() const { return m_failure; }
    QString reason() const { return m_reason; }

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

    // From after "<!DOCTYPE" to after its closing '>'; -1 at an entity declaration.
    int skipDoctype(int i)
    {
        bool subset = false; // inside the internal subset "[...]"
        while (i < m_text.size()) {
            const QChar c = m_text.at(i);
            if (c == QLatin1Char('"') || c == QLatin1Char('\'')) {
                const int end = m_text.indexOf(c, i + 1);
                i = end < 0 ? m_text.size() : end + 1;
            } else if (subset && startsWith(i, "<!ENTITY")) {
                m_failure = i;
                m_reason = QStringLiteral("entity declarations are not accepted");
                return -1;
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

    // Whether an element at `level` is allowed; otherwise remembers `at`.
    bool admit(int level, int at)
    {
        if (level <= kMaxXmlNesting)
            return true;
        m_failure = at;
        m_reason = QStringLiteral("elements nested deeper than %1 levels").arg(kMaxXmlNesting);
        return false;
    }

    const QString& m_text;
    int m_depth = 0; // elements open at the current position
    int m_failure = -1;
    QString m_reason;
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
        *message = scan.reason();
    if (line)
        *line = int(std::count(xml.cbegin(), xml.cbegin() + at, QLatin1Char('\n'))) + 1;
    if (column)
        *column = at - lineStart + 1;
    return false;
}

} // namespace ox::detail
