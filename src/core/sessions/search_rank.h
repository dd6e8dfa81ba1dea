#pragma once

struct sqlite3;

namespace vernalo {

// The SQL function the index ranks with: vernalo_rank(<fts5 table>), lower is better.
inline constexpr char kSearchRankFunction[] = "vernalo_rank";

// Registers the rank function on a connection. It scores as FTS5's bm25 does (k1 1.2, b 0.75),
// but counts a word's rows only up to a tenth of all rows (at most 10,000): bm25 counts every
// row of every word, so one common word ("ja") in a query cost more than the rest of the search.
bool registerSearchRank(sqlite3 *db);

} // namespace vernalo
