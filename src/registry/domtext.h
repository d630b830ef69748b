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
// check of the text. The check reads the text as markup without judging whether it is well formed,
// so it cannot be sidestepped by an error the DOM parser would tolerate. A text that may nest
// deeper than kMaxXmlNesting, or that declares an entity (whose replacement text the parser would
// expand at every use), fails like a text that does not parse: false, `document` untouched, and,
// for the pointers given, the message "elements nested deeper than 256 levels" or "entity
// declarations are not accepted" with the 1-based line and column of the '<' at which the limit is
// passed or the declaration begins.
bool ParseDomText(QDomDocument& document, const QString& xml, QString* message = nullptr, int* line = nullptr,
                  int* column = nullptr);

} // namespace ox::detail
