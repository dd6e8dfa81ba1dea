#include "sessions/search_rank.h"

#include <algorithm>
#include <cmath>
#include <sqlite3.h>
#include <vector>

namespace vernalo {

namespace {
constexpr double kK1 = 1.2;
constexpr double kB = 0.75;
// How far a word's rows are counted: a tenth of the rows, within these bounds.
constexpr sqlite3_int64 kMinimumCountCap = 1000;
constexpr sqlite3_int64 kMaximumCountCap = 10000;

// What every row of one query is scored against, worked out at its first row.
struct QueryWeights
{
    std::vector<double> rarity; // per phrase
    double averageLength = 1;
};

struct RowCount
{
    sqlite3_int64 rows = 0;
    sqlite3_int64 cap = 0;
};

int countRow(const Fts5ExtensionApi *, Fts5Context *, void *data)
{
    auto *count = static_cast<RowCount *>(data);
    return ++count->rows >= count->cap ? SQLITE_DONE : SQLITE_OK;
}

void deleteWeights(void *weights)
{
    delete static_cast<QueryWeights *>(weights);
}

// A word found in more rows than the cap is weighed as if found in that many: such a word tells
// little about which segment is meant, and its exact count would take a scan of all its rows.
QueryWeights *weightsOf(const Fts5ExtensionApi *api, Fts5Context *fts, int *rc)
{
    if (auto *known = static_cast<QueryWeights *>(api->xGetAuxdata(fts, 0)))
        return known;
    sqlite3_int64 rows = 0, tokens = 0;
    *rc = api->xRowCount(fts, &rows);
    if (*rc == SQLITE_OK)
        *rc = api->xColumnTotalSize(fts, 0, &tokens);
    if (*rc != SQLITE_OK)
        return nullptr;
    auto *weights = new QueryWeights;
    weights->averageLength =
        rows > 0 ? std::max(1.0, static_cast<double>(tokens) / static_cast<double>(rows)) : 1.0;
    const sqlite3_int64 cap = std::clamp(rows / 10, kMinimumCountCap, kMaximumCountCap);
    for (int phrase = 0; phrase < api->xPhraseCount(fts) && *rc == SQLITE_OK; ++phrase) {
        RowCount count {0, cap};
        *rc = api->xQueryPhrase(fts, phrase, &count, countRow);
        const double found = static_cast<double>(count.rows);
        const double rarity = std::log((static_cast<double>(rows) - found + 0.5) / (found + 0.5));
        weights->rarity.push_back(rarity > 0 ? rarity : 1e-6);
    }
    if (*rc == SQLITE_OK)
        *rc = api->xSetAuxdata(fts, weights, deleteWeights); // frees it on failure too
    else
        delete weights;
    return *rc == SQLITE_OK ? weights : nullptr;
}

void rank(const Fts5ExtensionApi *api, Fts5Context *fts, sqlite3_context *result, int,
          sqlite3_value **)
{
    int rc = SQLITE_OK;
    const QueryWeights *weights = weightsOf(api, fts, &rc);
    int length = 0, instances = 0;
    if (rc == SQLITE_OK)
        rc = api->xColumnSize(fts, 0, &length);
    if (rc == SQLITE_OK)
        rc = api->xInstCount(fts, &instances);
    std::vector<int> frequency(weights ? weights->rarity.size() : 0, 0);
    for (int i = 0; i < instances && rc == SQLITE_OK; ++i) {
        int phrase = 0, column = 0, offset = 0;
        rc = api->xInst(fts, i, &phrase, &column, &offset);
        if (rc == SQLITE_OK && phrase >= 0 && static_cast<size_t>(phrase) < frequency.size())
            ++frequency[static_cast<size_t>(phrase)];
    }
    if (rc != SQLITE_OK) {
        sqlite3_result_error_code(result, rc);
        return;
    }
    const double norm = kK1 * (1 - kB + kB * length / weights->averageLength);
    double score = 0;
    for (size_t i = 0; i < frequency.size(); ++i) {
        const double tf = frequency[i];
        score += weights->rarity[i] * tf * (kK1 + 1) / (tf + norm);
    }
    sqlite3_result_double(result, -score);
}

fts5_api *fts5Of(sqlite3 *db)
{
    fts5_api *api = nullptr;
    sqlite3_stmt *statement = nullptr;
    if (sqlite3_prepare_v2(db, "SELECT fts5(?1)", -1, &statement, nullptr) == SQLITE_OK) {
        sqlite3_bind_pointer(statement, 1, &api, "fts5_api_ptr", nullptr);
        sqlite3_step(statement);
    }
    sqlite3_finalize(statement);
    return api;
}
} // namespace

bool registerSearchRank(sqlite3 *db)
{
    fts5_api *api = db ? fts5Of(db) : nullptr;
    return api && api->iVersion >= 2 &&
        api->xCreateFunction(api, kSearchRankFunction, nullptr, rank, nullptr) == SQLITE_OK;
}

} // namespace vernalo
