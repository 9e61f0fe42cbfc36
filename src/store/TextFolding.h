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

// Registers the SQL functions of the search on the connection: orvo_contains(text, needle,
// options), 1 when needle occurs in text under the options, 0 otherwise or when either is
// NULL; orvo_fold(text), the text as contains[cd] compares it (NULL for NULL), which is what
// the stored folded copies hold; orvo_find(folded, foldedNeedle), 1 when the bytes of
// foldedNeedle occur in folded, 0 otherwise or when either is NULL. Returns the SQLite
// result code.
int registerSearchFunctions(sqlite3* db);

} // namespace orvo
