#pragma once

// Reading XML texts from outside (metadata documents, the registry's stored settings) into a DOM.

#include <QString>

class QDomDocument;

namespace ox::detail {

// The deepest nesting of elements a text read through ParseDomText may have (the root element is
// level 1). Qt's DOM parser recurses once per level, so a deep enough text overflows the stack;
// real documents of the library nest a few levels.
constexpr int kMaxXmlNesting = 256;

// QDomDocument::setContent(xml, false, message, line, column) (no namespace processing), after a
// check of the text's nesting. The check reads the text as markup without judging whether it is
// well formed, so it cannot be sidestepped by an error the DOM parser would tolerate, and it counts
// every element that entity declarations could add. A text that may nest deeper than
// kMaxXmlNesting fails like a text that does not parse: false, `document` untouched, and, for the
// pointers given, the message "elements nested deeper than 256 levels" with the 1-based line and
// column of the '<' (or, inside a document type declaration, of the character) at which the limit
// is passed.
bool ParseDomText(QDomDocument& document, const QString& xml, QString* message = nullptr, int* line = nullptr,
                  int* column = nullptr);

} // namespace ox::detail
