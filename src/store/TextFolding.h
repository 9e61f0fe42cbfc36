#pragma once

#include <QString>

struct sqlite3;

namespace orvo {

// The modifiers of contains: [c] ignores case, [d] ignores diacritics.
enum SearchOption { searchCaseInsensitive = 1, searchDiacriticInsensitive = 2 };

// The text as contains with these options compares it: canonical composition, or
// decomposition without the non-spacing marks for [d]; then Unicode case folding for [c].
// Any thread.
QString foldForSearch(const QString& text, int options);

// Whether needle occurs in text under the options; an empty needle occurs in every text.
// Any thread.
bool searchContains(const QString& text, const QString& needle, int options);

// Registers the SQL function orvo_contains(text, needle, options) on the connection: 1 when
// needle occurs in text under the options, 0 otherwise or when either is NULL.
// Returns the SQLite result code.
int registerSearchFunctions(sqlite3* db);

} // namespace orvo
