#pragma once

#include <QString>

namespace Profile {

// Where a Lua expression written inside a template ends: the index of the "}" that closes it,
// counting braces as Lua does (table constructors nest; braces in strings, long strings and
// comments do not count), or -1 when nothing closes it.
qsizetype luaExpressionEnd(QStringView text, qsizetype from);

} // namespace Profile
