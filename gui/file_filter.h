// File-choice filters arrive in the "Text (*.ext)|*.ext|All Files (*.*)|*.*||" form: pairs of a
// description and its patterns (";"-separated), ended by an empty entry. Qt's file dialog wants
// "Text (*.ext)" entries whose parenthesised patterns are the ones matched.
#pragma once

#include <QStringList>
#include <string>

namespace quillmar {

// One Qt name filter per description/pattern pair. "*.*" (every file on the system the filter
// form comes from) becomes "*", since Qt would match only names containing a dot.
QStringList ConvertFileFilter(const std::string& filter);

}  // namespace quillmar
